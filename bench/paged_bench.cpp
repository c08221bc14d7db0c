// A large log read from its file: indexing it, what its index costs in memory, finding a word
// near its end ignoring case, and following it as 1 MB is appended.
//
//   paged_bench <log> [word]
//
// The log is appended to and cut back to its size at the end: run it on a copy you may write.

#include "measures.h"
#include "document/logdocument.h"
#include "document/textcheck.h"
#include "document/textload.h"
#include "search/textsearch.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: paged_bench <log> [word]\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::string word = argc > 2 ? argv[2] : "NeedleWord";

    auto start = std::chrono::steady_clock::now();
    tlg::DocumentPtr document = tlg::LoadPlainText(path);
    std::printf("indexed %lld bytes, %lld lines in %.1f ms; index and check values %.1f MiB (%.2f bytes a line); peak memory %ld MiB\n",
                static_cast<long long>(document->size()), static_cast<long long>(document->lineCount()),
                millisecondsSince(start), static_cast<double>(document->indexMemory()) / (1 << 20),
                static_cast<double>(document->indexMemory()) / static_cast<double>(std::max<tlg::LineCount>(document->lineCount(), 1)),
                tlg::bench::peakMegabytes());

    const tlg::TextSearch search{word, true, false};
    std::vector<double> finds;
    tlg::ByteOffset found = -1;
    for (int i = 0; i < 6; ++i) {
        start = std::chrono::steady_clock::now();
        found = tlg::FindOccurrenceFrom(search, *document, 0);
        finds.push_back(millisecondsSince(start));
    }
    finds.erase(finds.begin()); // the warm-up
    std::sort(finds.begin(), finds.end());
    std::printf("find \"%s\" ignoring case from the start: at %lld, median %.1f ms\n", word.c_str(),
                static_cast<long long>(found), finds[finds.size() / 2]);

    // A followed log grows by 1 MB: the tick that sees it checks its window of the old text
    // and reads the new bytes.
    const tlg::ByteOffset size = document->size();
    std::string line = "2026-12-07 12:00:00 INFO appended line of a followed log, some words to colour\n";
    std::string more;
    while (more.size() < 1000000)
        more += line;
    std::vector<double> appends;
    std::vector<double> notified;
    tlg::TextCheck check;
    for (int i = 0; i < 5; ++i) {
        std::ofstream(path, std::ios::binary | std::ios::app) << more;
        start = std::chrono::steady_clock::now();
        document = tlg::LoadFollowedText(path, document, check, false);
        appends.push_back(millisecondsSince(start));
        std::ofstream(path, std::ios::binary | std::ios::app) << more;
        start = std::chrono::steady_clock::now();
        document = tlg::LoadPlainTextAfter(path, document);
        notified.push_back(millisecondsSince(start));
    }
    std::sort(appends.begin(), appends.end());
    std::sort(notified.begin(), notified.end());
    std::printf("append 1 MB and follow: median %.1f ms with the 16 MiB check of a regular tick, %.1f ms on a "
                "notified tick; peak memory %ld MiB\n",
                appends[appends.size() / 2], notified[notified.size() / 2], tlg::bench::peakMegabytes());
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0)
        std::perror("truncate");
    return 0;
}
