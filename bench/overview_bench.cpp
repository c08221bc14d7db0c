// The overview strip's pass over a whole log, with the default profile's labels, to set
// against `grep -c` with the same labels on the same file.
//
//   overview_bench <log> [find text]

#include "core/fileops.h"
#include "format/formatfile.h"
#include "document/logdocument.h"
#include "search/overview.h"
#include "document/textload.h"
#include "measures.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: overview_bench <log> [find text]\n");
        return 2;
    }
    const tlg::ColourRules rules = tlg::bench::defaultRules();
    std::fprintf(stderr, "labels:");
    for (const auto* row : {&rules.errorLabels, &rules.infoLabels}) {
        for (std::size_t i = 0; i < 10; ++i) {
            if (!(*row)[i].empty())
                std::fprintf(stderr, " [%s]", (*row)[i].c_str());
        }
    }
    std::fprintf(stderr, "\n");
    // Read from the file as the viewer reads it.
    const tlg::DocumentPtr document = tlg::LoadPlainText(argv[1]);
    const std::clock_t cpuStart = std::clock();
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::uint8_t> marks = tlg::MarkLines(*document, 0, &rules, argc > 2 ? argv[2] : "");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    long long error = 0, info = 0, found = 0;
    for (const std::uint8_t mark : marks) {
        error += (mark & tlg::kMarkError) != 0;
        info += (mark & tlg::kMarkInfo) != 0;
        found += (mark & tlg::kMarkFound) != 0;
    }
    std::printf("%lld lines in %.2f s (%.2f s of CPU): %lld with an error word, %lld with an info word, %lld with the find text\n",
                static_cast<long long>(marks.size()), seconds, cpu, error, info, found);
    return 0;
}
