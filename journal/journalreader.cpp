#include "journal/journalreader.h"

#include "core/errors.h"

#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace tlg {

namespace {

constexpr std::string_view kPriorityNames[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};

// guarded by g_standInMutex: the folder read in place of the local machine's journal.
std::mutex g_standInMutex;
std::string g_localStandIn;

// journalctl leaves out a field it would print when it is this long or longer.
constexpr std::size_t kPrintCharThreshold = 300;

std::string ErrorText(int negativeErrno)
{
    return std::strerror(-negativeErrno);
}

// A code point's sequence at p: its length, or -1 when the bytes are no valid UTF-8 for a
// valid character (an overlong form, a surrogate, a non-character, past U+10FFFF).
int DecodeUtf8(const unsigned char* p, std::size_t left, std::uint32_t& code)
{
    const unsigned char lead = p[0];
    int length;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
    } else {
        return -1;
    }
    if (left < static_cast<std::size_t>(length))
        return -1;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return -1;
        code = (code << 6) | (p[i] & 0x3F);
    }
    const int shortest = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (shortest != length)
        return -1;
    if (code >= 0x110000 || (code & 0xFFFFF800) == 0xD800 || (code >= 0xFDD0 && code <= 0xFDEF) ||
        (code & 0xFFFE) == 0xFFFE)
        return -1;
    return length;
}

// Whether journalctl prints the bytes as text: valid UTF-8 without control characters but
// tab and line feed.
bool Printable(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        std::uint32_t code = 0;
        const int length = DecodeUtf8(p, left, code);
        if (length < 0)
            return false;
        if ((code < ' ' && code != '\t' && code != '\n') || (code >= 0x7F && code <= 0x9F))
            return false;
        p += length;
        left -= static_cast<std::size_t>(length);
    }
    return true;
}

bool ShallPrint(std::string_view value)
{
    return value.size() < kPrintCharThreshold && Printable(value);
}

// The message as journalctl shows it: a tab becomes eight spaces, colour sequences (ESC [
// digits and ; ending in m) and titles (ESC ] ... BEL) go, and so do carriage returns before a
// line feed or at the end.
std::string StripTabsAndEscapes(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    std::size_t pendingCr = 0;
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = in[i];
        if (c == '\r') {
            ++pendingCr;
            continue;
        }
        if (c != '\n')
            out.append(pendingCr, '\r');
        pendingCr = 0;
        if (c == '\t') {
            out.append(8, ' ');
        } else if (c == '\x1B' && i + 1 < n && (in[i + 1] == '[' || in[i + 1] == ']')) {
            // Look for the sequence's end; an unfinished or broken one is kept as it stands.
            const bool csi = in[i + 1] == '[';
            std::size_t j = i + 2;
            bool ended = false;
            for (; j < n; ++j) {
                const auto b = static_cast<unsigned char>(in[j]);
                if (csi) {
                    if (b == 'm') {
                        ended = true;
                        break;
                    }
                    if (!std::strchr("01234567890;", b) || b == 0)
                        break;
                } else {
                    if (b == '\a') {
                        ended = true;
                        break;
                    }
                    if (b < 32 || b > 126)
                        break;
                }
            }
            if (ended) {
                i = j;
            } else {
                out += c;
                out += in[i + 1];
                ++i;
            }
        } else {
            out += c;
        }
    }
    return out;
}

// journalctl's size of a blob: "7B", "68.3K".
std::string FormatBytes(std::uint64_t bytes)
{
    static constexpr std::pair<const char*, std::uint64_t> kUnits[] = {
        {"E", 1ULL << 60}, {"P", 1ULL << 50}, {"T", 1ULL << 40}, {"G", 1ULL << 30}, {"M", 1ULL << 20}, {"K", 1ULL << 10},
    };
    constexpr std::size_t count = std::size(kUnits);
    char buffer[64];
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes >= kUnits[i].second) {
            const std::uint64_t tenth = i != count - 1 ? (bytes / kUnits[i + 1].second * 10 / kUnits[count - 1].second) % 10
                                                       : (bytes * 10 / kUnits[i].second) % 10;
            std::snprintf(buffer, sizeof buffer, "%" PRIu64 ".%" PRIu64 "%s", bytes / kUnits[i].second, tenth,
                          kUnits[i].first);
            return buffer;
        }
    }
    std::snprintf(buffer, sizeof buffer, "%" PRIu64 "B", bytes);
    return buffer;
}

bool ParseUnsigned(std::string_view text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

// A unit name as journalctl completes it: a name without a type is a service.
std::string UnitName(const std::string& unit)
{
    static constexpr std::string_view kTypes[] = {".service", ".socket",  ".target", ".device", ".mount",
                                                  ".automount", ".swap", ".timer",  ".path",   ".slice", ".scope"};
    for (std::string_view type : kTypes)
        if (unit.size() > type.size() && unit.ends_with(type))
            return unit;
    return unit + ".service";
}

} // namespace

std::string_view PriorityName(int priority)
{
    return priority >= 0 && priority < 8 ? kPriorityNames[priority] : std::string_view();
}

int ParsePriority(std::string_view text)
{
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '7')
        return text[0] - '0';
    for (int i = 0; i < 8; ++i)
        if (text == kPriorityNames[i])
            return i;
    return -1;
}

bool LooksLikeJournal(std::string_view firstBytes)
{
    return firstBytes.starts_with("LPKSHHRH");
}

std::optional<JournalQuery> JournalAt(const std::string& path)
{
    std::error_code error;
    JournalQuery query;
    query.paths = {path};
    if (std::filesystem::is_directory(path, error)) {
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            const std::string name = entry.path().filename().string();
            if (name.ends_with(".journal") || name.ends_with(".journal~")) {
                query.where = JournalQuery::Where::Folder;
                return query;
            }
        }
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    char head[8] = {};
    if (!in.read(head, sizeof head) || !LooksLikeJournal(std::string_view(head, sizeof head)))
        return std::nullopt;
    query.where = JournalQuery::Where::Files;
    return query;
}

bool SeesWholeLocalJournal()
{
    if (::geteuid() == 0)
        return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))) + 1);
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(0, count)));
    groups.push_back(::getegid());
    for (const char* name : {"systemd-journal", "adm", "wheel"}) {
        if (const group* entry = ::getgrnam(name))
            if (std::find(groups.begin(), groups.end(), entry->gr_gid) != groups.end())
                return true;
    }
    return false;
}

std::string CurrentBootId()
{
    sd_id128_t id;
    if (sd_id128_get_boot(&id) < 0)
        return {};
    char text[SD_ID128_STRING_MAX];
    return sd_id128_to_string(id, text);
}

long ThisBoot(const std::vector<JournalBoot>& boots, JournalQuery::Where where)
{
    if (where == JournalQuery::Where::Local) {
        const std::string current = CurrentBootId();
        for (std::size_t i = 0; i < boots.size(); ++i)
            if (!current.empty() && boots[i].id == current)
                return static_cast<long>(i);
    }
    return static_cast<long>(boots.size()) - 1;
}

void SetLocalJournalStandIn(const std::string& folder)
{
    std::lock_guard lock(g_standInMutex);
    g_localStandIn = folder;
}

JournalReader::JournalReader(const JournalQuery& query, std::vector<JournalBoot>* boots)
{
    int r = 0;
    std::string standIn;
    {
        std::lock_guard lock(g_standInMutex);
        standIn = g_localStandIn;
    }
    switch (query.where) {
    case JournalQuery::Where::Local:
        r = standIn.empty() ? sd_journal_open(&m_journal, SD_JOURNAL_LOCAL_ONLY)
                            : sd_journal_open_directory(&m_journal, standIn.c_str(), 0);
        break;
    case JournalQuery::Where::Files: {
        std::vector<const char*> paths;
        for (const std::string& path : query.paths)
            paths.push_back(path.c_str());
        paths.push_back(nullptr);
        r = sd_journal_open_files(&m_journal, paths.data(), 0);
        break;
    }
    case JournalQuery::Where::Folder:
        r = sd_journal_open_directory(&m_journal, query.paths.empty() ? "" : query.paths.front().c_str(), 0);
        break;
    }
    const std::string what = query.where == JournalQuery::Where::Local ? std::string("the system journal")
                             : query.paths.empty()                     ? std::string("the journal")
                                                                      : query.paths.front();
    if (r < 0)
        throw Failure("Cannot open journal " + what + ": " + ErrorText(r));
    // sd-journal skips files it cannot read; a journal given by its files must have been read.
    if (query.where == JournalQuery::Where::Files) {
        sd_journal_seek_head(m_journal);
        const int step = sd_journal_next(m_journal);
        if (step < 0) {
            sd_journal_close(m_journal);
            throw Failure("Cannot read journal " + what + ": " + ErrorText(step));
        }
    }
    try {
        applyMatches(query, boots);
    } catch (...) {
        sd_journal_close(m_journal);
        throw;
    }
    sd_journal_seek_head(m_journal);
    // Allocates the notification that refresh() and wait() read.
    sd_journal_get_fd(m_journal);
}

JournalReader::~JournalReader()
{
    sd_journal_close(m_journal);
}

void JournalReader::addMatch(const std::string& match)
{
    const int r = sd_journal_add_match(m_journal, match.data(), match.size());
    if (r < 0)
        throw Failure("Cannot match journal entries on " + match + ": " + ErrorText(r));
}

void JournalReader::applyMatches(const JournalQuery& query, std::vector<JournalBoot>* boots)
{
    // The boots first: listing them flushes the matches.
    std::vector<JournalBoot> all;
    if (boots)
        *boots = all = this->boots();
    std::string bootId = query.boot;
    if (!bootId.empty() && bootId.size() != 32) {
        char* end = nullptr;
        const long n = std::strtol(query.boot.c_str(), &end, 10);
        const bool number = end && end != query.boot.c_str() && *end == '\0';
        // As journalctl: 0 on the local machine is the running boot, whether or not it has
        // written anything yet; other numbers count the boots the journal holds.
        if (number && n == 0 && query.where == JournalQuery::Where::Local)
            bootId = CurrentBootId();
        if (bootId.size() != 32) {
            if (!boots)
                all = this->boots();
            long index = -1;
            if (number)
                index = n <= 0 ? static_cast<long>(all.size()) - 1 + n : n - 1;
            if (index < 0 || index >= static_cast<long>(all.size()))
                throw Failure("The journal holds no boot " + query.boot);
            bootId = all[static_cast<std::size_t>(index)].id;
        }
    }
    // Each group below narrows the ones before it; within a group, the terms are any of them.
    if (!query.units.empty()) {
        bool first = true;
        for (const std::string& given : query.units) {
            const std::string unit = UnitName(given);
            // As journalctl: the unit's own messages, its core dumps, what PID 1 and
            // privileged daemons say about it.
            if (!first)
                sd_journal_add_disjunction(m_journal);
            first = false;
            addMatch("_SYSTEMD_UNIT=" + unit);
            sd_journal_add_disjunction(m_journal);
            addMatch("MESSAGE_ID=fc2e22bc6ee647b6b90729ab34a250b1");
            addMatch("_UID=0");
            addMatch("COREDUMP_UNIT=" + unit);
            sd_journal_add_disjunction(m_journal);
            addMatch("_PID=1");
            addMatch("UNIT=" + unit);
            sd_journal_add_disjunction(m_journal);
            addMatch("_UID=0");
            addMatch("OBJECT_SYSTEMD_UNIT=" + unit);
        }
        sd_journal_add_conjunction(m_journal);
    }
    if (query.highestPriority >= 0) {
        for (int p = std::max(0, query.lowestPriority); p <= std::min(7, query.highestPriority); ++p)
            addMatch("PRIORITY=" + std::to_string(p));
        sd_journal_add_conjunction(m_journal);
    }
    if (!bootId.empty()) {
        addMatch("_BOOT_ID=" + bootId);
        sd_journal_add_conjunction(m_journal);
    }
    if (!query.fields.empty()) {
        for (const std::string& field : query.fields)
            addMatch(field);
        sd_journal_add_conjunction(m_journal);
    }
}

bool JournalReader::next()
{
    const int r = sd_journal_next(m_journal);
    if (r < 0)
        ++m_failedSteps;
    return r > 0;
}

bool JournalReader::previous()
{
    const int r = sd_journal_previous(m_journal);
    if (r < 0)
        ++m_failedSteps;
    return r > 0;
}

void JournalReader::seekHead()
{
    sd_journal_seek_head(m_journal);
}

void JournalReader::seekTail()
{
    sd_journal_seek_tail(m_journal);
}

std::string JournalReader::cursor() const
{
    char* text = nullptr;
    if (sd_journal_get_cursor(m_journal, &text) < 0 || !text)
        return {};
    std::string result(text);
    std::free(text);
    return result;
}

bool JournalReader::seekCursor(const std::string& cursor)
{
    if (sd_journal_seek_cursor(m_journal, cursor.c_str()) < 0)
        return false;
    return next();
}

bool JournalReader::seekTime(std::uint64_t microseconds)
{
    if (sd_journal_seek_realtime_usec(m_journal, microseconds) < 0)
        return false;
    return next();
}

std::uint64_t JournalReader::realtime() const
{
    std::uint64_t usec = 0;
    if (sd_journal_get_realtime_usec(m_journal, &usec) < 0)
        return 0;
    return usec;
}

JournalReader::Entry JournalReader::format(std::string& text, int& priority)
{
    text.clear();
    priority = -1;
    std::string_view message, host, identifier, comm, pid, syslogPid, sourceTime;
    m_listed = {};
    bool hasMessage = false;
    const void* data = nullptr;
    std::size_t length = 0;
    sd_journal_restart_data(m_journal);
    int r;
    // A field whose object is broken makes the entry unreadable, where journalctl drops it.
    while ((r = sd_journal_enumerate_data(m_journal, &data, &length)) > 0) {
        const std::string_view field(static_cast<const char*>(data), length);
        const std::size_t eq = field.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view name = field.substr(0, eq);
        const std::string_view value = field.substr(eq + 1);
        // The first of a field that comes twice counts.
        auto take = [&](std::string_view& into) {
            if (into.data() == nullptr)
                into = value;
        };
        if (name == "MESSAGE") {
            if (!hasMessage)
                message = value;
            hasMessage = true;
        } else if (name == "PRIORITY") {
            if (priority < 0 && value.size() == 1 && value[0] >= '0' && value[0] <= '7')
                priority = value[0] - '0';
            if (m_listed[2].empty())
                m_listed[2] = value;
        } else if (name == "_SYSTEMD_UNIT") {
            if (m_listed[0].empty())
                m_listed[0] = value;
        } else if (name == "_BOOT_ID") {
            if (m_listed[3].empty())
                m_listed[3] = value;
        } else if (name == "_HOSTNAME") {
            take(host);
        } else if (name == "SYSLOG_IDENTIFIER") {
            take(identifier);
            if (m_listed[1].empty())
                m_listed[1] = value;
        } else if (name == "_COMM") {
            take(comm);
        } else if (name == "_PID") {
            take(pid);
        } else if (name == "SYSLOG_PID") {
            take(syslogPid);
        } else if (name == "_SOURCE_REALTIME_TIMESTAMP") {
            take(sourceTime);
        }
    }
    if (r < 0)
        return Entry::Unreadable;
    if (!hasMessage)
        return Entry::NoMessage;

    // The time: the one the sender gave, else the journal's.
    std::uint64_t usec = 0;
    constexpr std::uint64_t kFormattableMax = 253402214400000000ULL; // year 9999
    if (sourceTime.data() == nullptr || !ParseUnsigned(sourceTime, usec) || usec == 0 || usec >= kFormattableMax) {
        if (sd_journal_get_realtime_usec(m_journal, &usec) < 0)
            return Entry::Unreadable;
    }
    const std::time_t seconds = static_cast<std::time_t>(usec / 1000000);
    std::tm broken{};
    char stamp[64];
    if (!::localtime_r(&seconds, &broken) || std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &broken) == 0)
        return Entry::Unreadable;
    text = stamp;
    if (host.data() && ShallPrint(host)) {
        text += ' ';
        text += host;
    }
    if (identifier.data() && ShallPrint(identifier)) {
        text += ' ';
        text += identifier;
    } else if (comm.data() && ShallPrint(comm)) {
        text += ' ';
        text += comm;
    } else {
        text += " unknown";
    }
    if (pid.data() && ShallPrint(pid)) {
        text += '[';
        text += pid;
        text += ']';
    } else if (syslogPid.data() && ShallPrint(syslogPid)) {
        text += '[';
        text += syslogPid;
        text += ']';
    }
    text += ": ";
    const std::size_t indent = text.size();

    const std::string shown = StripTabsAndEscapes(message);
    if (!Printable(shown)) {
        text += '[' + FormatBytes(shown.size()) + " blob data]";
        return Entry::Shown;
    }
    // Each line of the message on a line of its own, below the first one's start; a final
    // line break makes no line of its own.
    std::size_t from = 0;
    bool first = true;
    while (from < shown.size()) {
        std::size_t end = shown.find('\n', from);
        if (end == std::string::npos)
            end = shown.size();
        if (!first) {
            text += '\n';
            text.append(indent, ' ');
        }
        first = false;
        text.append(shown, from, end - from);
        from = end + 1;
    }
    return Entry::Shown;
}

std::string JournalReader::allFields()
{
    std::string out;
    const void* data = nullptr;
    std::size_t length = 0;
    sd_journal_restart_data(m_journal);
    while (sd_journal_enumerate_available_data(m_journal, &data, &length) > 0) {
        const std::string_view field(static_cast<const char*>(data), length);
        const std::size_t eq = field.find('=');
        const std::string_view value = eq == std::string_view::npos ? std::string_view() : field.substr(eq + 1);
        if (eq != std::string_view::npos && Printable(value) && value.find('\n') == std::string_view::npos) {
            out += field;
        } else {
            out += field.substr(0, eq);
            out += "=[" + FormatBytes(value.size()) + " blob data]";
        }
        out += '\n';
    }
    return out;
}

bool JournalReader::refresh()
{
    const int r = sd_journal_process(m_journal);
    return r == SD_JOURNAL_APPEND || r == SD_JOURNAL_INVALIDATE;
}

int JournalReader::descriptor()
{
    return sd_journal_get_fd(m_journal);
}

bool JournalReader::wait(std::uint64_t microseconds)
{
    const int r = sd_journal_wait(m_journal, microseconds);
    return r == SD_JOURNAL_APPEND || r == SD_JOURNAL_INVALIDATE;
}

std::vector<std::string> JournalReader::uniqueValues(const char* field)
{
    std::vector<std::string> values;
    if (sd_journal_query_unique(m_journal, field) < 0)
        return values;
    const void* data = nullptr;
    std::size_t length = 0;
    const std::size_t skip = std::strlen(field) + 1;
    while (sd_journal_enumerate_available_unique(m_journal, &data, &length) > 0)
        if (length >= skip)
            values.emplace_back(static_cast<const char*>(data) + skip, length - skip);
    return values;
}

std::vector<JournalBoot> JournalReader::boots()
{
    // Each boot's first entry gives its place; the matches are put back by the caller, who
    // asks before making them.
    std::vector<JournalBoot> found;
    for (std::string& id : uniqueValues("_BOOT_ID")) {
        sd_journal_flush_matches(m_journal);
        addMatch("_BOOT_ID=" + id);
        sd_journal_seek_head(m_journal);
        if (sd_journal_next(m_journal) > 0)
            found.push_back({std::move(id), realtime()});
    }
    sd_journal_flush_matches(m_journal);
    std::sort(found.begin(), found.end(), [](const JournalBoot& a, const JournalBoot& b) {
        return a.firstTime != b.firstTime ? a.firstTime < b.firstTime : a.id < b.id;
    });
    return found;
}

} // namespace tlg
