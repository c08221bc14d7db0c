// Measures a stack of five filters on a large log, side by side in one run: the floor (mmap and
// memchr, run as its own program so that its mapping does not count here), the first pass
// with the lines shown (every row on every line, and as the viewer runs it: the lines shown
// first, then the rows left on lines already hidden), the grep pipeline that shows the same
// lines, switching one row off and on again (combining only), and the peak memory.
//
//   filterstack_bench <log>

#include "fiverows.h"
#include "measures.h"
#include "document/logdocument.h"
#include "document/textload.h"
#include "search/filterstack.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using tlg::bench::floorMilliseconds;
using tlg::bench::folderOf;
using tlg::bench::median;
using tlg::bench::peakMegabytes;
using tlg::bench::verdict;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The CPU time the process has taken, all its threads, in milliseconds.
double cpuMilliseconds()
{
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: filterstack_bench <log>\n");
        return 2;
    }
    const std::string log = argv[1];
    const std::string floor = folderOf(argv[0]) + "floor";
    const std::string counted = "/tmp/filterstack_bench.out";

    std::vector<tlg::FilterRow> rows;
    for (const tlg::bench::BenchRow& row : tlg::bench::kFiveRows)
        rows.push_back({row.pattern, row.regex, row.matchCase, row.kind, true});
    const std::string pipeline = tlg::bench::FiveRowsPipeline(log, counted);

    const tlg::DocumentPtr document = tlg::LoadPlainText(log);
    const long loadedPeak = peakMegabytes();
    const tlg::FilterStack stack(rows, tlg::Encoding::Utf8);
    for (std::size_t row = 0; row < rows.size(); ++row)
        std::printf("row %zu %-28s %s\n", row, rows[row].pattern.c_str(),
                    stack.scannedTogether(row) ? "over blocks" : "line by line");

    // A warm-up of each, then five rounds of the three in turn, so that all see the same machine.
    floorMilliseconds(floor, log);
    std::vector<double> floors, passes, pipes, ratios, cpus, firsts, firstRatios, settles;
    tlg::FilterMatchesPtr matches;
    tlg::KeptLinesPtr shown;
    for (int round = 0; round < 6; ++round) {
        const double floorMs = floorMilliseconds(floor, log);
        auto start = Clock::now();
        const double cpuStart = cpuMilliseconds();
        std::atomic<bool> cancel{false};
        std::atomic<std::int64_t> done{0};
        matches = stack.run(document, cancel, done);
        shown = matches->shown(rows);
        const double passMs = millisecondsSince(start);
        const double cpuMs = cpuMilliseconds() - cpuStart;
        // The way the viewer runs it: the lines shown first, then the rows left settled.
        start = Clock::now();
        const tlg::FilterMatchesPtr first = stack.run(document, cancel, done, &rows);
        const tlg::KeptLinesPtr firstShown = first->shown(rows);
        const double firstMs = millisecondsSince(start);
        start = Clock::now();
        const tlg::FilterMatchesPtr settled = stack.settle(*first, cancel, done);
        const double settleMs = millisecondsSince(start);
        if (firstShown->lineCount() != shown->lineCount() || settled->matchCount(2) != matches->matchCount(2))
            std::printf("the lines shown first or the settled matches DIFFER from the whole pass's\n");
        start = Clock::now();
        if (std::system(pipeline.c_str()) == -1)
            return 1;
        const double pipeMs = millisecondsSince(start);
        if (round == 0)
            continue;
        floors.push_back(floorMs);
        passes.push_back(passMs);
        firsts.push_back(firstMs);
        firstRatios.push_back(firstMs / floorMs);
        settles.push_back(settleMs);
        cpus.push_back(cpuMs);
        pipes.push_back(pipeMs);
        ratios.push_back(passMs / floorMs);
    }
    long grepLines = 0;
    if (FILE* out = ::popen(("wc -l < " + counted).c_str(), "r")) {
        if (std::fscanf(out, "%ld", &grepLines) != 1)
            grepLines = -1;
        ::pclose(out);
    }
    std::remove(counted.c_str());

    // Switching the first row off and on again: combining only.
    std::vector<double> switches;
    for (int i = 0; i < 5; ++i) {
        for (const bool on : {false, true}) {
            rows[0].on = on;
            const auto start = Clock::now();
            shown = matches->shown(rows);
            switches.push_back(millisecondsSince(start));
        }
    }
    const long peak = peakMegabytes();

    const double floorMs = median(floors);
    const double passMs = median(passes);
    const double pipeMs = median(pipes);
    const double ratio = median(ratios);
    const double switchMs = *std::max_element(switches.begin(), switches.end());
    std::printf("log: %lld bytes, %lld lines; shown %lld lines (%.1f%%), the grep pipeline %ld lines: %s\n",
                static_cast<long long>(document->size()), static_cast<long long>(document->lineCount()),
                static_cast<long long>(shown->lineCount()),
                100.0 * static_cast<double>(shown->lineCount()) / static_cast<double>(document->lineCount()),
                grepLines, grepLines == shown->lineCount() ? "same" : "DIFFERENT");
    std::printf("floor (mmap + memchr index): median %.1f ms\n", floorMs);
    std::printf("first pass + combine:        median %.1f ms, median ratio to the floor %.2f  %s (within 3x)\n", passMs,
                ratio, verdict(ratio <= 3.0));
    std::printf("  of which CPU time, all threads: median %.1f ms\n", median(cpus));
    std::printf("lines shown first + combine: median %.1f ms, median ratio to the floor %.2f; the rest settled %.1f ms\n",
                median(firsts), median(firstRatios), median(settles));
    std::printf("grep -v ... | grep -E ...:   median %.1f ms  %s (the pass within it)\n", pipeMs, verdict(passMs <= pipeMs));
    std::printf("switch a row off and on:     slowest %.1f ms of 10  %s (<= 50 ms)\n", switchMs, verdict(switchMs <= 50));
    std::printf("peak memory (VmHWM): %ld MiB, of which the log's index %ld MiB: filters %ld MiB  %s (<= 150 MiB)\n",
                peak, loadedPeak, peak - loadedPeak, verdict(peak - loadedPeak <= 150));
    return 0;
}
