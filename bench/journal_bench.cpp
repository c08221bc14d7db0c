// The journal read natively, against journalctl in the same run, on a journal made from the
// export format by systemd-journal-remote (made once, then kept in the folder given; the
// remote writer starts a new file every 48 MiB or so, so a large journal is a folder of them).
//
//   journal_bench [entries=2000000] [folder=/tmp/tlg-journal-bench]   (the journal goes in
//   folder/<entries>/)
//
// Measures: the last screen (the tail and its last 50 lines' text) against
// `journalctl -D DIR -n 50 -o short-iso`; the whole journal read and then scrolled end to
// end a screen at a time, with the process's peak resident memory (the journal's mapped files
// included); the entries of one unit of 20; and going to a time.

#include "journal/journallines.h"
#include "measures.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

using namespace tlg;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kStart = 1700000000000000ULL;
constexpr int kUnits = 20;
constexpr std::int64_t kScreen = 50;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void putField(FILE* out, const char* name, const std::string& value)
{
    std::fputs(name, out);
    std::fputc('=', out);
    std::fwrite(value.data(), 1, value.size(), out);
    std::fputc('\n', out);
}

// Entries a millisecond apart from 20 units and 7 programs, every priority, a message of two
// lines now and then, written through systemd-journal-remote.
bool makeJournal(const std::string& path, std::int64_t entries)
{
    FILE* out = ::popen(("/lib/systemd/systemd-journal-remote -o '" + path + "' - > /dev/null 2>&1").c_str(), "w");
    if (!out)
        return false;
    std::mt19937 random(7);
    for (std::int64_t i = 0; i < entries; ++i) {
        std::fprintf(out, "__REALTIME_TIMESTAMP=%llu\n__MONOTONIC_TIMESTAMP=%lld\n",
                     static_cast<unsigned long long>(kStart + static_cast<std::uint64_t>(i) * 1000), static_cast<long long>(i + 1));
        putField(out, "_BOOT_ID", "0123456789abcdef0123456789abcdef");
        putField(out, "_HOSTNAME", "benchhost");
        putField(out, "SYSLOG_IDENTIFIER", "app" + std::to_string(i % 7));
        putField(out, "_PID", std::to_string(1000 + i % 7));
        putField(out, "PRIORITY", std::to_string(i % 8));
        putField(out, "_SYSTEMD_UNIT", "unit" + std::to_string(i % kUnits) + ".service");
        if (i % 50 == 0) {
            // A value with a line break goes in the binary form: its length, then the bytes.
            const std::string message = "request " + std::to_string(i) + " failed\n  at stage " + std::to_string(random() % 9);
            std::fputs("MESSAGE\n", out);
            const std::uint64_t size = message.size();
            for (int b = 0; b < 8; ++b)
                std::fputc(static_cast<int>((size >> (8 * b)) & 0xFF), out);
            std::fwrite(message.data(), 1, message.size(), out);
            std::fputc('\n', out);
        } else {
            putField(out, "MESSAGE", "request " + std::to_string(i) + " handled in " + std::to_string(random() % 500) +
                                         " ms by worker " + std::to_string(random() % 16));
        }
        std::fputc('\n', out);
    }
    return ::pclose(out) == 0;
}

double journalctlLastScreen(const std::string& path)
{
    const auto start = Clock::now();
    const int status = std::system(("journalctl -D '" + path + "' -n 50 -o short-iso > /dev/null 2>&1").c_str());
    const double ms = msSince(start);
    return status == 0 ? ms : -1;
}

// The tail, and the text of its last screen.
double ourLastScreen(const JournalQuery& query, std::size_t& bytes)
{
    const auto start = Clock::now();
    const JournalLinesPtr tail = JournalLines::tail(query, 200);
    bytes = 0;
    const LineNumber end = EndLine(tail->lineCount());
    for (LineNumber line = std::max<LineNumber>(0, end - kScreen); line < end; ++line)
        bytes += tail->lineText(line).size();
    return msSince(start);
}

} // namespace

int main(int argc, char* argv[])
{
    const std::int64_t entries = argc > 1 ? std::atoll(argv[1]) : 2000000;
    const std::string folder = argc > 2 ? argv[2] : "/tmp/tlg-journal-bench";
    const std::string dir = folder + "/" + std::to_string(entries);
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/bench.journal";
    if (!std::filesystem::exists(path)) {
        std::printf("making %s ...\n", path.c_str());
        std::fflush(stdout);
        const auto start = Clock::now();
        if (!makeJournal(path, entries)) {
            std::fprintf(stderr, "systemd-journal-remote failed\n");
            return 1;
        }
        std::printf("made in %.1f s\n", msSince(start) / 1000);
    }
    std::uintmax_t size = 0;
    int files = 0;
    for (const auto& file : std::filesystem::directory_iterator(dir)) {
        size += file.file_size();
        ++files;
    }
    std::printf("journal: %s, %lld entries in %d files, %.0f MiB\n", dir.c_str(), static_cast<long long>(entries), files,
                static_cast<double>(size) / (1 << 20));
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    JournalQuery query;
    query.where = JournalQuery::Where::Folder;
    query.paths = {dir};

    // The last screen, alternating with journalctl so that both see the same cache.
    std::vector<double> theirs, ours;
    std::size_t bytes = 0;
    for (int run = 0; run < 7; ++run) {
        theirs.push_back(journalctlLastScreen(dir));
        ours.push_back(ourLastScreen(query, bytes));
    }
    const double theirMs = bench::median(theirs), ourMs = bench::median(ours);
    std::printf("last screen: journalctl -n 50 %.1f ms, ours %.1f ms (%zu bytes): %.2fx (target <= 2x)\n", theirMs, ourMs,
                bytes, ourMs / theirMs);

    // The whole journal, then scrolled end to end a screen at a time.
    auto start = Clock::now();
    const JournalLinesPtr whole = JournalLines::build(query);
    const double buildMs = msSince(start);
    std::printf("whole journal read: %.0f ms, %lld lines, %.1f MiB of text, index %.1f MiB, peak %ld MiB\n", buildMs,
                static_cast<long long>(whole->lineCount().value()), static_cast<double>(whole->size().value()) / (1 << 20),
                static_cast<double>(whole->memory()) / (1 << 20), bench::peakMegabytes());
    {
        // The whole journal's last screen is the tail's.
        const JournalLinesPtr tail = JournalLines::tail(query, 200);
        const ByteOffset from = whole->size() - (tail->size() - tail->lineIndex(EndLine(tail->lineCount()) - 50));
        if (whole->slice(from, whole->size()).view() != tail->slice(tail->lineIndex(EndLine(tail->lineCount()) - 50), tail->size()).view())
            std::printf("the whole journal's last screen differs from the tail's\n");
    }
    start = Clock::now();
    std::size_t shown = 0;
    for (LineNumber top = 0; top < EndLine(whole->lineCount()); top += kScreen)
        for (LineNumber line = top; line < std::min(top + kScreen, EndLine(whole->lineCount())); ++line)
            shown += whole->lineText(line).size();
    std::printf("scrolled end to end: %.0f ms, %.1f MiB shown, peak resident %ld MiB (target <= 200)\n", msSince(start),
                static_cast<double>(shown) / (1 << 20), bench::peakMegabytes());

    // One unit of 20, through the journal's matches.
    std::vector<double> unitMs;
    std::int64_t unitEntries = 0;
    for (int run = 0; run < 3; ++run) {
        JournalQuery unit = query;
        unit.units = {"unit7"};
        start = Clock::now();
        unitEntries = JournalLines::build(unit)->entryCount();
        unitMs.push_back(msSince(start));
    }
    std::vector<double> theirUnitMs;
    for (int run = 0; run < 3; ++run) {
        start = Clock::now();
        std::system(("journalctl -D '" + dir + "' -u unit7 -o short-iso > /dev/null 2>&1").c_str());
        theirUnitMs.push_back(msSince(start));
    }
    std::printf("one unit of %d: %.0f ms for %lld entries (target <= 500 ms); journalctl -u %.0f ms\n", kUnits,
                bench::median(unitMs), static_cast<long long>(unitEntries), bench::median(theirUnitMs));

    // Go to time: times spread over the journal.
    std::mt19937_64 random(11);
    std::vector<double> gotoMs;
    for (int run = 0; run < 25; ++run) {
        const std::uint64_t at = kStart + random() % (static_cast<std::uint64_t>(entries) * 1000);
        start = Clock::now();
        const LineNumber line = whole->lineAtTime(at);
        gotoMs.push_back(msSince(start));
        if (line >= EndLine(whole->lineCount()))
            std::printf("go to time: nothing at %llu\n", static_cast<unsigned long long>(at));
    }
    std::printf("go to time: median %.2f ms, worst %.2f ms (target <= 50 ms)\n", bench::median(gotoMs),
                *std::max_element(gotoMs.begin(), gotoMs.end()));
    std::printf("peak resident memory of the run: %ld MiB\n", bench::peakMegabytes());
    return 0;
}
