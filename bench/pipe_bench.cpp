// A pipe fed a large log: the intake into its spool and the text shown as it grows, against
// `cat > file` of the same bytes in the same run (before and after, so both see the same
// machine). The log is a sample made by genlog, written again and again down the pipe; every
// line must be kept and shown.
//
//   pipe_bench <sample.log> <megabytes>
//
// prints, for cat and for the viewer's intake, the seconds and MiB/s, the ratio of the intake
// to cat's, the lines shown against those written, and the peak memory. The spool is made in
// the cache folder; with too little free room there (the size and 4 GiB more) the size is cut
// to fit and said.

#include "measures.h"
#include "core/fileops.h"
#include "source/pipelog.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The processor time of this process so far, every thread's.
double processorSeconds()
{
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Writes the sample `repeats` times to fd, then closes it.
void feed(int fd, const std::string& sample, std::int64_t repeats)
{
    for (std::int64_t n = 0; n < repeats; ++n) {
        std::string_view left = sample;
        while (!left.empty()) {
            const ssize_t put = ::write(fd, left.data(), left.size());
            if (put <= 0) {
                std::perror("write");
                std::exit(1);
            }
            left.remove_prefix(static_cast<std::size_t>(put));
        }
    }
    ::close(fd);
}

// `cat > file` of the same bytes: the seconds from the first byte written to cat's end.
double catSeconds(const std::string& sample, std::int64_t repeats, const std::string& file)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        std::exit(1);
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0 || ::dup2(ends[0], 0) < 0 || ::dup2(out, 1) < 0)
            ::_exit(1);
        ::execlp("cat", "cat", static_cast<char*>(nullptr));
        ::_exit(1);
    }
    ::close(ends[0]);
    const Clock::time_point start = Clock::now();
    feed(ends[1], sample, repeats);
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds = secondsSince(start);
    ::unlink(file.c_str()); // its dirty pages go with it, and leave the next run alone
    return seconds;
}

struct Intake {
    double intakeSeconds = 0; // the spool holds every byte
    double shownSeconds = 0;  // the text holds every line
    std::int64_t lines = 0;
    std::int64_t bytes = 0;
    std::size_t indexBytes = 0; // the line index and check values
};

Intake viewerIntake(const std::string& sample, std::int64_t repeats)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        std::exit(1);
    tlg::PipeLog source{tlg::FileHandle(ends[0])};
    Intake measured;
    Clock::time_point start;
    std::thread watch;
    QObject::connect(&source, &tlg::Log::changed, &source, [&](const tlg::LogChange& change) {
        // The pipe's end: its writer closed it, or the spool could not take more.
        const bool closed = change.status && change.status->startsWith(QStringLiteral("Standard input closed"));
        if (!closed && change.alert.isEmpty())
            return;
        measured.shownSeconds = secondsSince(start);
        if (!change.alert.isEmpty())
            std::fprintf(stderr, "%s\n", change.alert.toLocal8Bit().constData());
        QCoreApplication::quit();
    });
    QObject::connect(&source, &tlg::Log::opened, &source, [](bool ok) {
        if (!ok)
            std::exit(1);
    });
    source.start();
    // The intake's own end, looked at every millisecond beside the feed.
    watch = std::thread([&] {
        while (source.spool()->state() == tlg::PipeSpool::State::Open)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        measured.intakeSeconds = secondsSince(start);
    });
    start = Clock::now();
    std::thread feeder(feed, ends[1], std::cref(sample), repeats);
    QCoreApplication::exec();
    feeder.join();
    watch.join();
    measured.lines = source.document()->lineCount().value();
    measured.bytes = source.document()->size().value();
    measured.indexBytes = source.document()->indexMemory();
    return measured;
}

// The spool alone, no text grown from it: the seconds until it holds every byte.
double spoolSeconds(const std::string& sample, std::int64_t repeats)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        std::exit(1);
    tlg::PipeSpool::Options options;
    const Clock::time_point start = Clock::now();
    tlg::PipeSpool spool(tlg::FileHandle(ends[0]), [] {}, options);
    std::thread feeder(feed, ends[1], std::cref(sample), repeats);
    while (spool.state() == tlg::PipeSpool::State::Open)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = secondsSince(start);
    feeder.join();
    return seconds;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: pipe_bench <sample.log> <megabytes>\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    std::string sample = tlg::ReadWholeFile(argv[1]);
    if (sample.empty() || sample.back() != '\n')
        sample += '\n';
    const auto sampleLines = static_cast<std::int64_t>(std::count(sample.begin(), sample.end(), '\n'));
    const std::int64_t wanted = std::atoll(argv[2]) << 20;
    std::int64_t repeats = std::max<std::int64_t>(1, (wanted + static_cast<std::int64_t>(sample.size()) - 1) /
                                                         static_cast<std::int64_t>(sample.size()));

    const std::string folder = tlg::CacheFolder();
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) == 0) {
        const std::int64_t free = static_cast<std::int64_t>(disk.f_bavail) * static_cast<std::int64_t>(disk.f_frsize);
        const std::int64_t room = free - (std::int64_t(4) << 30);
        if (repeats * static_cast<std::int64_t>(sample.size()) > room) {
            repeats = std::max<std::int64_t>(1, room / static_cast<std::int64_t>(sample.size()));
            std::printf("only %lld GiB free in %s: the size is cut to fit\n", static_cast<long long>(free >> 30),
                        folder.c_str());
        }
    }
    const std::int64_t bytes = repeats * static_cast<std::int64_t>(sample.size());
    const std::int64_t lines = repeats * sampleLines;
    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::printf("%.0f MiB, %lld lines of %.0f bytes on average, spool in %s\n", mib, static_cast<long long>(lines),
                static_cast<double>(bytes) / static_cast<double>(lines), folder.c_str());

    const std::string catFile = folder + "pipe_bench.cat";
    const double catBefore = catSeconds(sample, repeats, catFile);
    const double cpu0 = processorSeconds();
    const Intake intake = viewerIntake(sample, repeats);
    const double cpu1 = processorSeconds();
    const double alone = spoolSeconds(sample, repeats);
    const double cpu2 = processorSeconds();
    const double catAfter = catSeconds(sample, repeats, catFile);
    const double cat = (catBefore + catAfter) / 2;

    std::printf("cat > file:     %.2f s before, %.2f s after: %.0f MiB/s\n", catBefore, catAfter, mib / cat);
    std::printf("viewer intake:  %.2f s, %.0f MiB/s, %.0f%% of cat's rate\n", intake.intakeSeconds,
                mib / intake.intakeSeconds, 100 * cat / intake.intakeSeconds);
    std::printf("spool alone:    %.2f s (%.0f%% of cat's rate), no text grown from it\n", alone, 100 * cat / alone);
    std::printf("processor time: %.2f s for the viewer's intake and text, %.2f s for the spool alone (feed included)\n",
                cpu1 - cpu0, cpu2 - cpu1);
    std::printf("shown:          %.2f s to the last line, %lld of %lld lines, %lld of %lld bytes%s\n",
                intake.shownSeconds, static_cast<long long>(intake.lines), static_cast<long long>(lines),
                static_cast<long long>(intake.bytes), static_cast<long long>(bytes),
                intake.lines == lines && intake.bytes == bytes ? "" : "  LINES LOST");
    std::printf("line index %zu MiB (%.2f bytes a line), peak memory %ld MiB\n", intake.indexBytes >> 20,
                static_cast<double>(intake.indexBytes) / static_cast<double>(std::max<std::int64_t>(intake.lines, 1)),
                tlg::bench::peakMegabytes());
    return intake.lines == lines && intake.bytes == bytes ? 0 : 1;
}
