// What a source's reads cost on a log of any kind: the open (with the encoding's detection and
// the reading by its kind) and following it as 1 MB is appended, against the same run's floor.
//
//   source_bench <log>     prints the milliseconds of the open and of the append, and the peak
//                          memory; the log is put back to its size afterwards

#include "measures.h"
#include "source/textoperations.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: source_bench <log>\n");
        return 2;
    }
    const std::string path = argv[1];
    std::atomic<std::int64_t> done{0};
    auto start = std::chrono::steady_clock::now();
    const tlg::HeldText opened = tlg::OpenText(path, {}, done);
    const double openMs = msSince(start);
    std::printf("open %.1f ms, %lld lines, kind %d, paged %d, index %zu KiB\n", openMs,
                static_cast<long long>(opened.document->lineCount()), static_cast<int>(opened.kind),
                opened.document->paged() ? 1 : 0, opened.document->indexMemory() >> 10);

    // 1 MB of lines appended, as a writer would, in the log's own form.
    std::string more;
    for (int i = 0; more.size() < (1u << 20); ++i)
        more += "2026-12-07 10:00:00 appended line " + std::to_string(i) + "\n";
    if (opened.kind == tlg::UnicodeKind::Utf16) {
        std::string wide;
        for (char c : more) {
            wide += c;
            wide += '\0';
        }
        more = wide;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    const off_t before = ::lseek(fd, 0, SEEK_END);
    if (fd < 0 || ::write(fd, more.data(), more.size()) != static_cast<ssize_t>(more.size()))
        return 1;
    start = std::chrono::steady_clock::now();
    bool whole = false;
    const tlg::HeldText grown = tlg::FollowText(path, opened, true, false, false, whole, done);
    const double appendMs = msSince(start);
    std::printf("append 1 MB %.1f ms (%s), %lld lines\n", appendMs, whole ? "read whole" : "new bytes only",
                static_cast<long long>(grown.document->lineCount()));
    if (::ftruncate(fd, before) != 0)
        return 1;
    ::close(fd);
    std::printf("peak memory %ld MiB\n", tlg::bench::peakMegabytes());
    return 0;
}
