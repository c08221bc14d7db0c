// The overview strip's pass over a whole log, with the default profile's labels, to set
// against `grep -c` with the same labels on the same file.
//
//   overview_bench <log> [find text]

#include "core/fileops.h"
#include "format/formatfile.h"
#include "log/logdocument.h"
#include "log/overview.h"

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
    const std::vector<std::string> lines = tlg::SplitLines(tlg::DefaultFormatText());
    const tlg::LabelRow errors = tlg::LabelsOf(lines[2]);
    const tlg::LabelRow infos = tlg::LabelsOf(lines[3]);
    tlg::ColourRules rules;
    for (std::size_t i = 0; i < 10; ++i) {
        rules.errorLabels[i] = errors[i];
        rules.infoLabels[i] = infos[i];
    }
    std::fprintf(stderr, "labels:");
    for (const tlg::LabelRow* row : {&errors, &infos}) {
        for (std::size_t i = 0; i < 10; ++i) {
            if (!(*row)[i].empty())
                std::fprintf(stderr, " [%s]", (*row)[i].c_str());
        }
    }
    std::fprintf(stderr, "\n");
    const tlg::DocumentPtr document = tlg::LogDocument::fromBytes(tlg::ReadWholeFile(argv[1]));
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
