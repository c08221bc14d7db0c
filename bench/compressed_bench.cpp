// Compressed logs read in place, each measured against its format's own decompressor in the same
// run: the time until every line is indexed against `zcat` (`xzcat`, `zstdcat`, `bzcat`) to
// /dev/null, the first screen after an open through a source (its first lines, told while the
// pass goes on, read as the view reads them), the first screen once indexed, a jump to a line at
// random (a screenful read there; the slowest of them against one unit, the longest stretch
// between two restart points decoded whole, as a jump near its end must; and a screenful at a
// unit's end against a unit decoded whole, in turn), the reads that decoded from a restart point
// per jump, the peak memory, and a second open that reads the index the
// first one kept. Each file is measured in a process of its own, so that the peaks are its own.
//
//   compressed_bench <compressed log>...

#include "measures.h"
#include "document/compressedtext.h"
#include "document/logdocument.h"
#include "document/textload.h"
#include "source/filelog.h"

#include <QCoreApplication>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

const char* referenceOf(tlg::Compression how)
{
    switch (how) {
    case tlg::Compression::Gzip:
        return "zcat";
    case tlg::Compression::Xz:
        return "xzcat";
    case tlg::Compression::Zstd:
        return "zstdcat";
    case tlg::Compression::Bzip2:
        return "bzcat";
    case tlg::Compression::Archive:
    case tlg::Compression::None:
        break;
    }
    return "cat";
}

// The file's first bytes, which tell its compression.
std::string fileHead(const std::string& path)
{
    std::string head(8, '\0');
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    head.resize(std::fread(head.data(), 1, head.size(), file));
    std::fclose(file);
    return head;
}

// Reads a screenful of lines from `first` on, as the view does.
std::size_t readScreen(const tlg::LogDocument& doc, std::int64_t first)
{
    std::size_t bytes = 0;
    for (std::int64_t line = first; line < std::min<std::int64_t>(first + 60, doc.lineCount().value()); ++line)
        bytes += doc.slice(doc.lineIndex(line), doc.lineContentEnd(line)).size();
    return bytes;
}

// The time from an open through a source until it holds a screenful of lines, read as the view
// reads them; the open is stopped then (the source goes).
double firstScreenThroughSource(const std::string& path)
{
    std::system("rm -f \"$XDG_CACHE_HOME\"/tlgview/index-*");
    auto source = std::make_unique<tlg::FileLog>(QString::fromLocal8Bit(path.c_str()), tlg::OpenWay::Chosen);
    double firstMs = -1;
    const auto start = std::chrono::steady_clock::now();
    QObject::connect(source.get(), &tlg::Log::changed, source.get(), [&] {
        const tlg::DocumentPtr& doc = source->document();
        if (firstMs >= 0 || doc->lineCount() < 60)
            return;
        readScreen(*doc, 0);
        firstMs = millisecondsSince(start);
        QCoreApplication::quit();
    });
    QObject::connect(source.get(), &tlg::Log::opened, source.get(), [] { QCoreApplication::quit(); });
    source->start();
    QCoreApplication::exec();
    source.reset();
    return firstMs;
}

void measure(const std::string& path)
{
    int argc = 1;
    char name[] = "compressed_bench";
    char* argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    const double openScreenMs = firstScreenThroughSource(path);
    const tlg::Compression how = tlg::CompressionOf(fileHead(path));
    const std::string reference = referenceOf(how);
    // The reference and the index in turn, three times each (a shared machine's load comes and
    // goes): the medians are compared. Each index is made anew, none is kept.
    std::vector<double> referenceRuns;
    std::vector<double> indexRuns;
    tlg::DocumentPtr doc;
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 3; ++round) {
        start = std::chrono::steady_clock::now();
        if (std::system((reference + " '" + path + "' > /dev/null").c_str()) != 0)
            std::fprintf(stderr, "%s failed\n", reference.c_str());
        referenceRuns.push_back(millisecondsSince(start));
        doc.reset();
        std::system("rm -f \"$XDG_CACHE_HOME\"/tlgview/index-*");
        std::atomic<std::int64_t> done{0};
        start = std::chrono::steady_clock::now();
        doc = tlg::LoadPlainText(path, &done);
        indexRuns.push_back(millisecondsSince(start));
    }
    const double referenceMs = tlg::bench::median(referenceRuns);
    const double indexMs = tlg::bench::median(indexRuns);
    start = std::chrono::steady_clock::now();
    readScreen(*doc, 0);
    const double firstScreenMs = millisecondsSince(start);

    std::mt19937 random(11);
    const std::shared_ptr<const tlg::CompressedText> text = doc->compressed();
    const std::int64_t restartsBefore = text ? text->readRestarts() : 0;
    std::vector<double> jumps;
    for (int i = 0; i < 100; ++i) {
        const std::int64_t line = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(std::max<std::int64_t>(doc->lineCount().value(), 1)));
        start = std::chrono::steady_clock::now();
        readScreen(*doc, line);
        jumps.push_back(millisecondsSince(start));
    }
    const double restartsPerJump =
        text ? static_cast<double>(text->readRestarts() - restartsBefore) / static_cast<double>(jumps.size()) : 0;
    std::sort(jumps.begin(), jumps.end());
    const long peak = tlg::bench::peakMegabytes();

    // Opened again: the index kept by the first open is read back.
    start = std::chrono::steady_clock::now();
    const tlg::DocumentPtr again = tlg::LoadPlainText(path);
    readScreen(*again, 0);
    const double secondMs = millisecondsSince(start);

    // One unit decoded whole through the text the second open made (no decoder of its stands
    // past the first unit, which its screen read): the longest stretch between two restart
    // points after the first, read a megabyte at a time from its start, three times (each time
    // from its restart point: the decoder left at its end keeps only its last bytes); the median.
    // Then the slowest a jump can be against it, in turn: a screenful at the end of a unit (the
    // whole unit decoded from its restart point), and a unit two further on decoded whole, for
    // five such pairs; the ratio of the medians.
    double unitMs = 0;
    double unitEndRatio = 0;
    const std::shared_ptr<const tlg::CompressedText> fresh = again->compressed();
    if (fresh && !fresh->spooled() && fresh->points().size() > 1) {
        const auto& points = fresh->points();
        auto endOf = [&](std::size_t i) { return i + 1 < points.size() ? points[i + 1].text : fresh->textSize(); };
        std::vector<char> piece(1u << 20);
        auto decodeWhole = [&](std::size_t unit) {
            const auto begun = std::chrono::steady_clock::now();
            for (std::int64_t at = points[unit].text; at < endOf(unit);) {
                const std::int64_t got = fresh->read(
                    at, static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(piece.size()), endOf(unit) - at)),
                    piece.data());
                if (got <= 0)
                    break;
                at += got;
            }
            return millisecondsSince(begun);
        };
        std::size_t longest = 1;
        for (std::size_t i = 2; i < points.size(); ++i) {
            if (endOf(i) - points[i].text > endOf(longest) - points[longest].text)
                longest = i;
        }
        std::vector<double> unitRuns;
        for (int round = 0; round < 3; ++round)
            unitRuns.push_back(decodeWhole(longest));
        unitMs = tlg::bench::median(unitRuns);
        std::vector<double> endRuns;
        std::vector<double> wholeRuns;
        for (std::size_t unit = 1; unit + 3 < points.size() && endRuns.size() < 5; unit += 3) {
            if (unit == longest)
                continue; // (its end is kept behind the decoder that its reads left)
            const std::int64_t last = again->lineFromOffset(endOf(unit) - 1).value();
            const std::int64_t first = std::max(last - 59, again->lineFromOffset(points[unit].text).value() + 1);
            const auto begun = std::chrono::steady_clock::now();
            readScreen(*again, first);
            endRuns.push_back(millisecondsSince(begun));
            wholeRuns.push_back(decodeWhole(unit + 2));
        }
        if (!endRuns.empty())
            unitEndRatio = tlg::bench::median(endRuns) / tlg::bench::median(wholeRuns);
    }
    std::printf("%-6s %-8s %8.0f ms %8.0f ms  %5.2fx  %7.1f ms  %6.1f ms  %6.1f / %6.1f ms  %6.1f ms %5.2fx  %5.2fx  %4.2f  %5ld MiB  %6.1f ms%s  %lld lines, %zu restart points%s%s\n",
                tlg::CompressionName(how), reference.c_str(), referenceMs, indexMs, indexMs / referenceMs, openScreenMs,
                firstScreenMs, jumps[jumps.size() / 2], jumps.back(), unitMs, unitMs > 0 ? jumps.back() / unitMs : 0.0,
                unitEndRatio, restartsPerJump, peak, secondMs, again->fromKeptIndex() ? "" : " (not kept)",
                static_cast<long long>(doc->lineCount().value()), text ? text->restartPoints() : 0,
                text && text->spooled() ? ", spooled" : "", text && text->damaged() ? ", damaged" : "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: compressed_bench <compressed log>...\n");
        return 2;
    }
    // The kept indexes go to a cache folder of the run's own, removed at the end.
    char cache[] = "/tmp/compressed_bench.XXXXXX";
    if (!::mkdtemp(cache))
        return 1;
    ::setenv("XDG_CACHE_HOME", cache, 1);
    std::printf("format reference  reference     index   ratio  open->screen  indexed->screen  jump median / max  one unit  max/unit  unit's end/unit  restarts/jump   peak  2nd open\n");
    std::fflush(stdout);
    for (int i = 1; i < argc; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            measure(argv[i]);
            std::_Exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    std::system((std::string("rm -rf '") + cache + "'").c_str());
    return 0;
}
