// How soon a line written to a followed log is in the shown view: a writer thread appends lines
// one at a time with random gaps, and the time from each write() returning to the line being in
// the shown view's text (checked every millisecond on the GUI thread, where painting follows) is
// measured, beside `tail -F` on the same file in the same run, whose latency is the floor.
//
//   follow_latency [lines=1000] [max-gap-ms=200] [log=/tmp/tlg-follow-latency.log]
//
// Prints p50, p99 and the largest latency of both, and the longest stall of the GUI thread.
// Runs on the offscreen platform when no display is set; the watcher keeps its default interval.

#include "app/mainwindow.h"
#include "app/viewer.h"
#include "app/logtab.h"
#include "source/follower.h"
#include "view/logview.h"
#include "quiethome.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Line {
    Clock::time_point written{};
    Clock::time_point shown{};
    Clock::time_point tailed{};
    long long end = 0; // the file's size once the line is written
};

double millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* who, std::vector<double> latencies)
{
    if (latencies.empty()) {
        std::printf("%-10s no lines seen\n", who);
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) { return latencies[std::min(latencies.size() - 1, static_cast<std::size_t>(q * latencies.size()))]; };
    std::printf("%-10s lines %zu  p50 %.1f ms  p99 %.1f ms  max %.1f ms\n", who, latencies.size(), at(0.50),
                at(0.99), latencies.back());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const tlg::bench::QuietHome home;
    QApplication application(argc, argv);
    tlg::bench::QuietHome::answerQuestions();
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int maxGapMs = argc > 2 ? std::atoi(argv[2]) : 200;
    const std::string path = argc > 3 ? argv[3] : "/tmp/tlg-follow-latency.log";
    ::unlink(path.c_str());
    QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly);

    auto* window = static_cast<tlg::MainWindow*>(tlg::startViewer({QString::fromStdString(path)}));
    tlg::LogView* shownView = window->tab()->view();

    std::vector<Line> lines(static_cast<std::size_t>(count));
    std::mutex guard; // guards lines' written/end/tailed
    std::atomic<int> writtenCount{0};

    // tail -F, reading its output line by line on a thread of its own.
    // Its first line is its process number, so that it can be ended.
    const std::string tailCommand = "echo $$; exec tail -F -n +1 '" + path + "' 2>/dev/null";
    FILE* tail = ::popen(tailCommand.c_str(), "r");
    pid_t tailPid = 0;
    {
        char first[64] = {};
        if (tail && std::fgets(first, sizeof first, tail))
            tailPid = static_cast<pid_t>(std::atol(first));
    }
    std::thread tailReader([&] {
        char buffer[4096];
        int seen = 0;
        while (seen < count && tail && std::fgets(buffer, sizeof buffer, tail)) {
            const auto now = Clock::now();
            std::lock_guard lock(guard);
            lines[static_cast<std::size_t>(seen++)].tailed = now;
        }
    });

    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the viewer settles
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        std::mt19937 random(7);
        long long size = 0;
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % (maxGapMs + 1)));
            const std::string line = "2026-12-07 10:00:00.000 request " + std::to_string(i) +
                                     (i % 10 == 0 ? " Failed: error 42\n" : " ok\n");
            if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                std::abort();
            const auto now = Clock::now();
            size += static_cast<long long>(line.size());
            {
                std::lock_guard lock(guard);
                lines[static_cast<std::size_t>(i)].written = now;
                lines[static_cast<std::size_t>(i)].end = size;
            }
            writtenCount = i + 1;
        }
        ::close(fd);
    });

    // Every millisecond: which written lines the shown view now holds; and how late the check
    // itself came (the GUI thread's stalls).
    int shownCount = 0;
    double longestStall = 0;
    QElapsedTimer sinceCheck;
    sinceCheck.start();
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, static_cast<double>(sinceCheck.nsecsElapsed()) / 1e6 - 1.0);
        sinceCheck.restart();
        const long long held = shownView->document()->size().value();
        const auto now = Clock::now();
        std::lock_guard lock(guard);
        while (shownCount < writtenCount && lines[static_cast<std::size_t>(shownCount)].end <= held)
            lines[static_cast<std::size_t>(shownCount++)].shown = now;
        if (shownCount == count)
            QApplication::quit();
    });
    check.start();
    QTimer::singleShot(std::chrono::milliseconds(1000 + static_cast<long long>(count) * (maxGapMs + 50)),
                       [] { QApplication::quit(); });
    QApplication::exec();

    writer.join();
    if (tailPid > 0)
        ::kill(tailPid, SIGTERM); // the reader then sees the end of its output
    tailReader.join();
    if (tail)
        ::pclose(tail);

    std::vector<double> viewer, tailed;
    for (const Line& line : lines) {
        if (line.shown != Clock::time_point{})
            viewer.push_back(millis(line.shown - line.written));
        if (line.tailed != Clock::time_point{})
            tailed.push_back(std::max(0.0, millis(line.tailed - line.written)));
    }
    report("viewer", viewer);
    report("tail -F", tailed);
    std::printf("longest GUI-thread stall %.1f ms\n", longestStall);
    delete window;
    ::unlink(path.c_str());
    return shownCount == count ? 0 : 1;
}
