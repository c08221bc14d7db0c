// Follows a log that another thread writes as fast as a busy service would, with the real
// timers, and checks at the end that the shown text equals the file byte for byte.
//
//   follow_stress [seconds=60] [megabytes-per-second=50] [log=/tmp/tlg-follow-stress.log]
//
// Prints the bytes written, the watcher's reloads, the longest stall of the GUI thread (how
// late a 10 ms timer fired) and whether the text matched. Runs on the offscreen platform when
// no display is set.

#include "app/mainwindow.h"
#include "filelist/filelistpanel.h"
#include "app/logtab.h"
#include "source/follower.h"
#include "navigate/finder.h"
#include "app/viewer.h"
#include "stallmeter.h"
#include "quiethome.h"
#include "view/logview.h"
#include "source/filelog.h"
#include "source/watchstate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSlider>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Appends timestamped lines at the given rate until told to stop.
void writeLines(const std::string& path, double bytesPerSecond, const std::atomic<bool>& stop,
                std::atomic<long long>& written)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    const auto start = std::chrono::steady_clock::now();
    long long line = 0;
    std::string chunk;
    while (!stop) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long long due = static_cast<long long>(elapsed * bytesPerSecond);
        chunk.clear();
        while (written + static_cast<long long>(chunk.size()) < due) {
            chunk += "2026-12-07 10:00:00.000 [worker " + std::to_string(line % 16) + "] request " +
                     std::to_string(line) + (line % 20 == 0 ? " Failed: error 42\r\n" : " ok\n");
            ++line;
        }
        if (!chunk.empty() && ::write(fd, chunk.data(), chunk.size()) > 0)
            written += static_cast<long long>(chunk.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fd);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const tlg::bench::QuietHome home;
    QApplication application(argc, argv);
    tlg::bench::QuietHome::answerQuestions();
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const double megabytesPerSecond = argc > 2 ? std::atof(argv[2]) : 50.0;
    const std::string path = argc > 3 ? argv[3] : "/tmp/tlg-follow-stress.log";
    ::unlink(path.c_str());
    QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly);

    auto* window = static_cast<tlg::MainWindow*>(tlg::startViewer({QString::fromStdString(path)}));
    window->findChild<QSlider*>(QStringLiteral("TrackBar1"))->setValue(1); // poll every second

    int reloads = 0;
    QString lastStatus;
    tlg::bench::StallMeter stalls;
    stalls.start();
    QTimer statusWatch;
    statusWatch.setInterval(10);
    QObject::connect(&statusWatch, &QTimer::timeout, [&] {
        const QString status = window->findChild<QLabel*>(QStringLiteral("StatusPanel0"))->text();
        if (status != lastStatus && status.startsWith(QStringLiteral("Last Update")))
            ++reloads;
        lastStatus = status;
    });
    statusWatch.start();

    std::atomic<bool> stop{false};
    std::atomic<long long> written{0};
    std::thread writer(writeLines, path, megabytesPerSecond * 1e6, std::cref(stop), std::ref(written));
    QTimer::singleShot(seconds * 1000, [&] {
        stop = true;
        writer.join();
        // Then until the watcher is quiet: the last change seen, loaded and coloured.
        auto* settle = new QTimer(&application);
        QObject::connect(settle, &QTimer::timeout, [&] {
            const auto* log = qobject_cast<const tlg::FileLog*>(window->log());
            if (!log)
                return;
            const tlg::WatchState& watch = log->watchState();
            if (!tlg::ChangeSeen(watch) && !log->busy() && watch.StoredSize == static_cast<std::int64_t>(written))
                application.quit();
        });
        settle->start(100);
        QTimer::singleShot(300000, [&] { application.quit(); });
    });
    application.exec();

    // The peak before checking, which reads the file again, and then the check, chunk by chunk.
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const tlg::LinesPtr shown = window->tab()->view()->document();
    bool same = true;
    {
        QFile file(QString::fromStdString(path));
        file.open(QIODevice::ReadOnly);
        std::size_t at = 0;
        for (QByteArray chunk; same && !(chunk = file.read(64 << 20)).isEmpty(); at += static_cast<std::size_t>(chunk.size()))
            same = shown->slice(static_cast<tlg::ByteOffset>(at), static_cast<tlg::ByteOffset>(at) + chunk.size()).view() ==
                   std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size()));
        same = same && static_cast<tlg::ByteOffset>(at) == shown->size();
    }
    std::printf("written %lld bytes in %d s (%.1f MB/s), reloads seen %d, worst GUI stall %lld ms, "
                "peak memory %ld MiB, shown text %s the file\n",
                static_cast<long long>(written), seconds, written / 1e6 / seconds, reloads,
                static_cast<long long>(stalls.worst()), usage.ru_maxrss / 1024, same ? "equals" : "DIFFERS FROM");
    delete window;
    ::unlink(path.c_str());
    return same ? 0 : 1;
}
