#include "journal/journallines.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <array>
#include <cstdint>
#include <unordered_map>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

namespace tlg {

namespace {

constexpr std::uint8_t kNoPriority = 0x0F;
constexpr std::uint8_t kContinues = 0x10; // a line after the first of its entry
constexpr std::size_t kKeptStretches = 16;
// Readers of the same journal at most, each for one thread at a time.
constexpr std::size_t kSeekers = 6;
constexpr std::size_t kBootField = 3;
static_assert(std::string_view(kListedFields[kBootField]) == "_BOOT_ID");
// How much the process's resident memory may grow while one reader reads before a new one
// takes its place (see Store::renew).
std::atomic<std::int64_t> g_growthPerReader{48 << 20};

// The process's resident memory, mapped files included; 0 when unknown.
std::int64_t ResidentBytes()
{
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    long long size = 0, resident = 0;
    const bool read = std::fscanf(statm, "%lld %lld", &size, &resident) == 2;
    std::fclose(statm);
    return read ? resident * ::sysconf(_SC_PAGESIZE) : 0;
}

} // namespace

struct JournalLines::Store {
    struct Point {
        std::string cursor;
        std::int64_t line = 0;
    };

    JournalQuery query;
    bool partial = false;
    // A tail's whole text, kept as it was formatted: it is small, and a tail is shown at once.
    std::shared_ptr<std::string> heldText;

    // guarded by indexMutex: appended to by the building thread, read by any.
    mutable std::mutex indexMutex;
    std::vector<std::int64_t> starts; // where each line starts
    std::vector<std::uint8_t> flags;  // each line's priority and kContinues
    std::vector<Point> points;
    std::int64_t size = 0;
    std::int64_t entries = 0;
    std::int64_t skipped = 0;
    std::int64_t longest = 0;
    std::int64_t failuresCounted = 0; // of the walker's failed steps, those in `skipped`
    // Per listed field: its values in the order first met, and where each is in that list.
    struct Tally {
        FieldCounts counts;
        std::unordered_map<std::string, std::size_t> where;
        std::size_t last = SIZE_MAX; // the value met last, which the next entry often shares
    };
    std::array<Tally, kListedFields.size()> tallies;
    std::vector<JournalBoot> boots; // the journal's, whatever the matches, earliest first

    // The building thread's own: it stands after the last entry read.
    std::unique_ptr<JournalReader> walker;

    // Readers that format stretches again, each opened when first needed and used by one
    // thread at a time: a thread takes one that no other holds, so that the painting of the
    // view never waits behind a pass that reads the journal beside it.
    struct Seeker {
        std::mutex mutex; // held while the reader reads
        std::unique_ptr<JournalReader> reader;
        std::int64_t stretches = 0; // formatted since it was opened
        std::int64_t resident = 0;  // the process's resident memory then
    };
    mutable std::mutex seekersMutex; // guards the list, never held while a reader reads
    std::vector<std::unique_ptr<Seeker>> seekers;
    // A reader that no other thread holds, locked; a new one while there are fewer than
    // kSeekers, else the first, once it is free.
    std::unique_lock<std::mutex> takeSeeker(Seeker*& taken)
    {
        std::unique_lock list(seekersMutex);
        for (const auto& seeker : seekers) {
            std::unique_lock held(seeker->mutex, std::try_to_lock);
            if (held.owns_lock()) {
                taken = seeker.get();
                return held;
            }
        }
        if (seekers.size() < kSeekers) {
            seekers.push_back(std::make_unique<Seeker>());
            taken = seekers.back().get();
            return std::unique_lock(taken->mutex);
        }
        taken = seekers.front().get();
        list.unlock();
        return std::unique_lock(taken->mutex);
    }

    // The stretches last formatted, guarded by keptMutex (never held while a reader reads).
    struct Kept {
        std::int64_t point = -1;
        std::int64_t end = 0;
        std::shared_ptr<const std::string> text;
    };
    mutable std::mutex keptMutex;
    std::vector<Kept> kept;
    mutable std::mutex walkerMutex; // the walker's end, which may come from another thread

    // Formats the entry the walker stands on into the index; false when it shows nothing.
    bool take(std::string& text)
    {
        int priority = -1;
        const JournalReader::Entry entry = walker->format(text, priority);
        std::lock_guard lock(indexMutex);
        // sd-journal passes over a field whose object is broken, so an entry whose message
        // cannot be read looks like one without a message: both count as skipped.
        if (entry != JournalReader::Entry::Shown) {
            ++skipped;
            return false;
        }
        if (entries % kStep == 0)
            points.push_back({walker->cursor(), static_cast<std::int64_t>(starts.size())});
        ++entries;
        const auto& listed = walker->listedValues();
        for (std::size_t field = 0; field < listed.size(); ++field) {
            if (listed[field].empty())
                continue;
            Tally& tally = tallies[field];
            if (tally.last == SIZE_MAX || tally.counts[tally.last].first != listed[field]) {
                const auto [at, added] = tally.where.try_emplace(std::string(listed[field]), tally.counts.size());
                if (added)
                    tally.counts.emplace_back(at->first, 0);
                if (added && field == kBootField && !knowsBoot(listed[field]))
                    boots.push_back({at->first, walker->realtime()}); // a boot begun since
                tally.last = at->second;
            }
            ++tally.counts[tally.last].second;
        }
        const std::uint8_t level = priority < 0 ? kNoPriority : static_cast<std::uint8_t>(priority);
        if (heldText) {
            *heldText += text;
            *heldText += '\n';
        }
        std::size_t from = 0;
        bool first = true;
        while (true) {
            std::size_t end = text.find('\n', from);
            if (end == std::string::npos)
                end = text.size();
            starts.push_back(size);
            flags.push_back(first ? level : static_cast<std::uint8_t>(level | kContinues));
            first = false;
            const auto length = static_cast<std::int64_t>(end - from);
            longest = std::max(longest, length);
            size += length + 1;
            if (end == text.size())
                break;
            from = end + 1;
        }
        return true;
    }

    bool knowsBoot(std::string_view id) const
    {
        return std::any_of(boots.begin(), boots.end(), [id](const JournalBoot& boot) { return boot.id == id; });
    }

    // The failed steps of the walker not yet counted in `skipped`.
    void countFailures()
    {
        std::lock_guard lock(indexMutex);
        skipped += walker->failedSteps() - failuresCounted;
        failuresCounted = walker->failedSteps();
    }

    // A reader of the same journal in place of `reader`, standing on the same entry. The
    // journal's files stay mapped in windows as they are read, and a reader lets go of them
    // only when it closes: a long pass takes a new reader now and then, so that the memory
    // it holds stays bounded.
    void renew(std::unique_ptr<JournalReader>& reader)
    {
        const std::string cursor = reader->cursor();
        if (cursor.empty())
            return;
        auto fresh = std::make_unique<JournalReader>(query);
        if (fresh->seekCursor(cursor))
            reader = std::move(fresh);
    }

    // Reads the walker's entries to the end; false when stopped. `renewing` lets it take a new
    // walker now and then (not while followed: the follower watches the walker's descriptor).
    bool readOn(const std::atomic<bool>* stop, const std::function<void(int)>& progress, std::uint64_t firstTime,
                std::uint64_t lastTime, bool renewing = false)
    {
        std::string text;
        std::int64_t count = 0;
        std::int64_t walkerResident = renewing ? ResidentBytes() : 0;
        while (walker->next()) {
            take(text);
            if ((++count & 4095) == 0) {
                if (renewing && ResidentBytes() >= walkerResident + g_growthPerReader) {
                    countFailures();
                    failuresCounted = 0;
                    renew(walker);
                    walkerResident = ResidentBytes();
                }
                if (stop && stop->load(std::memory_order_relaxed))
                    return false;
                if (progress && lastTime > firstTime) {
                    const std::uint64_t at = std::clamp(walker->realtime(), firstTime, lastTime);
                    progress(static_cast<int>((at - firstTime) * 100 / (lastTime - firstTime)));
                }
            }
        }
        countFailures();
        return true;
    }
};

JournalLines::JournalLines(std::shared_ptr<Store> store) : m_store(std::move(store))
{
    takeCounts();
}

void JournalLines::takeCounts()
{
    std::lock_guard lock(m_store->indexMutex);
    m_lines = static_cast<std::int64_t>(m_store->starts.size());
    m_entries = m_store->entries;
    m_points = static_cast<std::int64_t>(m_store->points.size());
    m_size = m_store->size;
    m_skipped = m_store->skipped;
    m_longest = m_store->longest;
    m_partial = m_store->partial;
}

JournalLinesPtr JournalLines::build(const JournalQuery& query, const std::atomic<bool>* stop,
                                    const std::function<void(int)>& progress)
{
    auto store = std::make_shared<Store>();
    store->query = query;
    store->walker = std::make_unique<JournalReader>(query, &store->boots);
    std::uint64_t firstTime = 0, lastTime = 0;
    if (progress) {
        store->walker->seekTail();
        if (store->walker->previous())
            lastTime = store->walker->realtime();
        store->walker->seekHead();
        if (store->walker->next())
            firstTime = store->walker->realtime();
    }
    store->walker->seekHead();
    if (!store->readOn(stop, progress, firstTime, lastTime, true))
        return nullptr;
    return std::make_shared<const JournalLines>(std::move(store));
}

JournalLinesPtr JournalLines::tail(const JournalQuery& query, std::int64_t entries)
{
    auto store = std::make_shared<Store>();
    store->query = query;
    store->partial = true;
    store->heldText = std::make_shared<std::string>();
    // (The boots are listed by the whole read that follows: listing them walks every file.)
    store->walker = std::make_unique<JournalReader>(query);
    JournalReader& walker = *store->walker;
    walker.seekTail();
    std::string cursor;
    for (std::int64_t i = 0; i < entries && walker.previous(); ++i)
        cursor = walker.cursor();
    if (!cursor.empty()) {
        // Stand just before the first of them, so that the pass reads it first.
        std::string text;
        if (walker.seekCursor(cursor)) {
            store->take(text);
            store->readOn(nullptr, {}, 0, 0);
        }
    }
    // The reader stays open until releaseReader(): closing it unmaps the journal's windows,
    // which can take longer than reading the tail did.
    return std::make_shared<const JournalLines>(std::move(store));
}

void JournalLines::releaseReader() const
{
    std::lock_guard lock(m_store->walkerMutex);
    m_store->walker.reset();
}

JournalLinesPtr JournalLines::grown() const
{
    Store& store = *m_store;
    if (!store.walker || store.partial)
        return nullptr;
    store.walker->refresh();
    store.readOn(nullptr, {}, 0, 0);
    auto next = std::make_shared<JournalLines>(m_store);
    if (next->m_lines == m_lines && next->m_skipped == m_skipped)
        return nullptr;
    return next;
}

int JournalLines::changeDescriptor() const
{
    return m_store->walker && !m_store->partial ? m_store->walker->descriptor() : -1;
}

const JournalQuery& JournalLines::query() const
{
    return m_store->query;
}

ByteOffset JournalLines::startOf(std::int64_t line) const
{
    if (line >= m_lines.value())
        return m_size;
    if (line <= 0)
        return 0;
    std::lock_guard lock(m_store->indexMutex);
    return m_store->starts[static_cast<std::size_t>(line)];
}

ByteOffset JournalLines::lineIndex(LineNumber line) const
{
    return startOf(line.value());
}

ByteOffset JournalLines::lineContentEnd(LineNumber line) const
{
    if (line.value() >= m_lines.value())
        return m_size;
    return startOf(std::max<std::int64_t>(0, line.value()) + 1) - 1;
}

LineNumber JournalLines::lineFromOffset(ByteOffset offset) const
{
    if (offset >= m_size)
        return EndLine(m_lines);
    if (offset <= 0)
        return 0;
    std::lock_guard lock(m_store->indexMutex);
    const auto begin = m_store->starts.begin();
    const auto it = std::upper_bound(begin, begin + m_lines.value(), offset.value());
    return static_cast<std::int64_t>(it - begin) - 1;
}

int JournalLines::priority(LineNumber line) const
{
    if (line < 0 || line.value() >= m_lines.value())
        return -1;
    std::lock_guard lock(m_store->indexMutex);
    const std::uint8_t level = m_store->flags[static_cast<std::size_t>(line.value())] & 0x0F;
    return level == kNoPriority ? -1 : level;
}

LineLevel JournalLines::lineLevel(LineNumber line) const
{
    const int level = priority(line);
    if (level < 0)
        return LineLevel::None;
    return level <= 3 ? LineLevel::Error : level <= 5 ? LineLevel::Info : LineLevel::None;
}

LineNumber JournalLines::entryStart(LineNumber line) const
{
    if (line < 0 || line.value() >= m_lines.value())
        return line;
    std::lock_guard lock(m_store->indexMutex);
    std::int64_t at = line.value();
    while (at > 0 && (m_store->flags[static_cast<std::size_t>(at)] & kContinues))
        --at;
    return at;
}

std::int64_t JournalLines::pointOf(LineNumber line) const
{
    std::lock_guard lock(m_store->indexMutex);
    const auto begin = m_store->points.begin();
    const auto it = std::upper_bound(begin, begin + m_points, line.value(),
                                     [](std::int64_t l, const Store::Point& p) { return l < p.line; });
    return std::max<std::int64_t>(0, (it - begin) - 1);
}

std::int64_t JournalLines::pointEnd(std::int64_t point) const
{
    if (point + 1 >= m_points)
        return m_lines.value();
    std::lock_guard lock(m_store->indexMutex);
    return std::min(m_store->points[static_cast<std::size_t>(point + 1)].line, m_lines.value());
}

std::shared_ptr<const std::string> JournalLines::stretch(std::int64_t point) const
{
    Store& store = *m_store;
    const std::int64_t end = pointEnd(point);
    std::string cursor;
    std::int64_t first = 0;
    std::vector<std::int64_t> lengths; // of each line's content, as the index has them
    {
        std::lock_guard lock(store.indexMutex);
        cursor = store.points[static_cast<std::size_t>(point)].cursor;
        first = store.points[static_cast<std::size_t>(point)].line;
        for (std::int64_t line = first; line < end; ++line) {
            const std::int64_t next = line + 1 < static_cast<std::int64_t>(store.starts.size())
                                          ? store.starts[static_cast<std::size_t>(line + 1)]
                                          : store.size;
            lengths.push_back(next - store.starts[static_cast<std::size_t>(line)] - 1);
        }
    }

    {
        std::lock_guard keptLock(store.keptMutex);
        for (const Store::Kept& kept : store.kept)
            if (kept.point == point && kept.end == end)
                return kept.text;
    }
    Store::Seeker* seeker = nullptr;
    std::unique_lock seekerLock = store.takeSeeker(seeker);

    // The lines as formatted now, fitted to the lengths the index gives them: the journal's
    // files may have changed under us (vacuumed, rotated away), and the index must hold.
    auto text = std::make_shared<std::string>();
    std::size_t line = 0;
    try {
        if (!seeker->reader ||
            ((++seeker->stretches & 63) == 0 && ResidentBytes() >= seeker->resident + g_growthPerReader)) {
            // A new reader now and then, so that a scroll through the whole journal does not
            // keep all of it mapped (see Store::renew).
            seeker->reader.reset();
            seeker->reader = std::make_unique<JournalReader>(store.query);
            seeker->resident = ResidentBytes();
        }
        seeker->reader->refresh();
        std::string entry;
        int priority = -1;
        bool standing = seeker->reader->seekCursor(cursor);
        while (standing && line < lengths.size()) {
            if (seeker->reader->format(entry, priority) == JournalReader::Entry::Shown) {
                std::size_t from = 0;
                while (line < lengths.size()) {
                    std::size_t stop = entry.find('\n', from);
                    if (stop == std::string::npos)
                        stop = entry.size();
                    std::string piece = entry.substr(from, stop - from);
                    piece.resize(static_cast<std::size_t>(lengths[line]), ' ');
                    *text += piece;
                    *text += '\n';
                    ++line;
                    if (stop == entry.size())
                        break;
                    from = stop + 1;
                }
            }
            standing = seeker->reader->next();
        }
    } catch (const std::exception&) {
        // A journal that can no longer be opened shows blank lines of the lengths it had.
    }
    seekerLock.unlock();
    for (; line < lengths.size(); ++line) {
        text->append(static_cast<std::size_t>(lengths[line]), ' ');
        *text += '\n';
    }
    std::lock_guard keptLock(store.keptMutex);
    if (store.kept.size() >= kKeptStretches)
        store.kept.erase(store.kept.begin());
    store.kept.push_back({point, end, text});
    return text;
}

TextSlice JournalLines::slice(ByteOffset from, ByteOffset to) const
{
    from = std::clamp(from, ByteOffset(0), m_size);
    to = std::clamp(to, from, m_size);
    if (from == to)
        return {};
    if (const std::shared_ptr<std::string>& held = m_store->heldText)
        return TextSlice(std::string_view(*held).substr(static_cast<std::size_t>(from.value()),
                                                        static_cast<std::size_t>((to - from).value())),
                         held);
    std::int64_t point = pointOf(lineFromOffset(from));
    std::string joined;
    bool owning = false;
    ByteOffset at = from;
    while (at < to) {
        std::int64_t firstLine;
        {
            std::lock_guard lock(m_store->indexMutex);
            firstLine = m_store->points[static_cast<std::size_t>(point)].line;
        }
        const ByteOffset start = startOf(firstLine);
        const auto text = stretch(point);
        const ByteOffset end = start + static_cast<std::int64_t>(text->size());
        const ByteOffset upTo = std::min(to, end);
        const std::string_view piece(text->data() + (at - start).value(), static_cast<std::size_t>((upTo - at).value()));
        if (!owning && upTo == to)
            return TextSlice(piece, text);
        joined += piece;
        owning = true;
        at = upTo;
        ++point;
    }
    return TextSlice::owning(std::move(joined));
}

std::string JournalLines::fieldsOf(LineNumber line) const
{
    if (line < 0 || line.value() >= m_lines.value())
        return {};
    const LineNumber wanted = entryStart(line);
    const std::int64_t point = pointOf(wanted);
    std::string cursor;
    std::int64_t at = 0;
    {
        std::lock_guard lock(m_store->indexMutex);
        cursor = m_store->points[static_cast<std::size_t>(point)].cursor;
        at = m_store->points[static_cast<std::size_t>(point)].line;
    }
    Store& store = *m_store;
    Store::Seeker* seeker = nullptr;
    const std::unique_lock lock = store.takeSeeker(seeker);
    try {
        if (!seeker->reader)
            seeker->reader = std::make_unique<JournalReader>(store.query);
        std::string entry;
        int priority = -1;
        bool standing = seeker->reader->seekCursor(cursor);
        while (standing) {
            if (seeker->reader->format(entry, priority) == JournalReader::Entry::Shown) {
                if (at == wanted.value())
                    return seeker->reader->allFields();
                at += 1 + static_cast<std::int64_t>(std::count(entry.begin(), entry.end(), '\n'));
                if (at > wanted.value())
                    return {};
            }
            standing = seeker->reader->next();
        }
    } catch (const std::exception&) {
    }
    return {};
}

void JournalLines::setReaderGrowth(std::int64_t bytes)
{
    g_growthPerReader = bytes;
}

JournalLines::FieldCounts JournalLines::fieldCounts(std::size_t field) const
{
    if (field >= kListedFields.size())
        return {};
    std::lock_guard lock(m_store->indexMutex);
    return m_store->tallies[field].counts;
}

std::vector<JournalBoot> JournalLines::boots() const
{
    std::lock_guard lock(m_store->indexMutex);
    return m_store->boots;
}

LineNumber JournalLines::lineAtTime(std::uint64_t microseconds) const
{
    // The checkpoints' times come from the journal by their cursors: a binary search over
    // them, then a walk through fewer than kStep entries.
    Store& store = *m_store;
    Store::Seeker* seeker = nullptr;
    const std::unique_lock lock = store.takeSeeker(seeker);
    try {
        if (!seeker->reader)
            seeker->reader = std::make_unique<JournalReader>(store.query);
        auto timeOf = [&](std::int64_t point) {
            std::string cursor;
            {
                std::lock_guard indexLock(store.indexMutex);
                cursor = store.points[static_cast<std::size_t>(point)].cursor;
            }
            return seeker->reader->seekCursor(cursor) ? seeker->reader->realtime() : 0;
        };
        std::int64_t low = 0, high = m_points; // the first point at or after the time
        while (low < high) {
            const std::int64_t mid = (low + high) / 2;
            if (timeOf(mid) < microseconds)
                low = mid + 1;
            else
                high = mid;
        }
        if (low == 0)
            return 0;
        // Walk from the point before, line by line, to the first entry at or after the time.
        std::int64_t line;
        {
            std::lock_guard indexLock(store.indexMutex);
            line = store.points[static_cast<std::size_t>(low - 1)].line;
        }
        const std::int64_t end = pointEnd(low - 1);
        bool standing = timeOf(low - 1) != 0;
        std::string entry;
        int priority = -1;
        while (standing && line < end) {
            if (seeker->reader->format(entry, priority) == JournalReader::Entry::Shown) {
                if (seeker->reader->realtime() >= microseconds)
                    return line;
                line += 1 + static_cast<std::int64_t>(std::count(entry.begin(), entry.end(), '\n'));
            }
            standing = seeker->reader->next();
        }
        return end;
    } catch (const std::exception&) {
        return EndLine(m_lines);
    }
}

bool JournalLines::grewFrom(const LineSource& earlier) const
{
    const auto* journal = dynamic_cast<const JournalLines*>(&earlier);
    return journal && journal->m_store == m_store && journal->m_lines <= m_lines;
}

std::size_t JournalLines::memory() const
{
    std::lock_guard lock(m_store->indexMutex);
    std::size_t bytes = m_store->starts.capacity() * sizeof(std::int64_t) + m_store->flags.capacity();
    for (const Store::Point& p : m_store->points)
        bytes += sizeof p + p.cursor.capacity();
    return bytes;
}

} // namespace tlg
