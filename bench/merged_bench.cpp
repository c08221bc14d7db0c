// Several logs merged into one timeline, measured side by side in one run:
//
// - the 1 GiB test log dealt out line by line into four files of 256 MiB, each in time order
//   and all four interleaved: from the opening of the four until the whole timeline is merged
//   and ready to scroll end to end (each file read by its own source, as the viewer does, then
//   merged), in turn with the floor program (mmap + memchr, every index kept) over the same four
//   files, and with `lnav -n -q` over them (its time and peak memory, in a home of its own);
// - this process's peak memory once merged;
// - going to a time: the first row at or after each of many times spread over the log;
// - following: eight small merged files, each followed; one line at a time, newest of all, is
//   appended to one of them in turn, from the write until the merge shows it as its last row.
//
//   merged_bench [log=/tmp/tlg-bench-logs/1g.log] [folder=/tmp/tlg-merge-bench] [rounds=3]
//
// The dealt files are written once and reused while they are newer than the log.

#include "measures.h"
#include "source/follower.h"
#include "source/logopening.h"
#include "source/mergedlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tlg;

// Deals the log's lines out to `count` files, line i to file i % count; `limit` bytes of the log
// at most (0: all of it).
std::vector<std::string> deal(const std::string& log, const std::string& folder, const std::string& stem, int count,
                              std::int64_t limit)
{
    std::vector<std::string> paths;
    bool fresh = true;
    for (int i = 0; i < count; ++i) {
        paths.push_back(folder + "/" + stem + std::to_string(i) + ".log");
        fresh = fresh && QFileInfo(QString::fromStdString(paths.back())).lastModified() >
                             QFileInfo(QString::fromStdString(log)).lastModified();
    }
    if (fresh)
        return paths;
    std::ifstream in(log, std::ios::binary);
    std::vector<std::unique_ptr<std::ofstream>> out;
    for (const std::string& path : paths)
        out.push_back(std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc));
    std::string line;
    std::int64_t taken = 0;
    for (std::size_t i = 0; std::getline(in, line) && (limit == 0 || taken < limit); ++i) {
        *out[i % out.size()] << line << '\n';
        taken += static_cast<std::int64_t>(line.size()) + 1;
    }
    return paths;
}

// Runs the event loop until `done` holds, or `timeoutMs` passed; false then.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 600000)
{
    if (done())
        return true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer look;
    look.setInterval(1);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    look.start();
    loop.exec();
    return done();
}

// A merge of the files as the viewer opens one, followed as a tab follows it: each file's
// changes noticed and looked at.
struct Merge {
    QObject tab;
    MergedLog* merged = nullptr;
    Follower* follower = nullptr;

    explicit Merge(const std::vector<std::string>& paths)
    {
        QStringList names;
        for (const std::string& path : paths)
            names << QString::fromStdString(path);
        QString refusal;
        merged = qobject_cast<MergedLog*>(MakeMergedLog(names, OpenWay::Chosen, &refusal, &tab));
        if (!merged) {
            std::fprintf(stderr, "%s\n", refusal.toLocal8Bit().constData());
            std::exit(1);
        }
        follower = new Follower(&tab);
        follower->setLog(merged);
        merged->start();
    }
};

double elapsedMs(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const std::string log = argc > 1 ? argv[1] : "/tmp/tlg-bench-logs/1g.log";
    const std::string folder = argc > 2 ? argv[2] : "/tmp/tlg-merge-bench";
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string floor = bench::folderOf(QCoreApplication::applicationFilePath().toStdString()) + "floor";
    QDir().mkpath(QString::fromStdString(folder));
    const std::vector<std::string> parts = deal(log, folder, "part", 4, 0);

    // The files in the page cache, for every contender alike.
    for (const std::string& part : parts)
        bench::floorMilliseconds(floor, part);

    std::vector<double> floors, opens, ratios;
    long peak = 0;
    MergedLinesPtr kept;
    for (int round = 0; round < rounds; ++round) {
        double floorMs = 0;
        for (const std::string& part : parts)
            floorMs += bench::floorMilliseconds(floor, part);
        QElapsedTimer clock;
        clock.start();
        Merge merge(parts);
        if (!waitFor([&] { return merge.merged->merged() != nullptr; })) {
            std::fprintf(stderr, "the merge did not end\n");
            return 1;
        }
        const double openMs = elapsedMs(clock);
        if (round == 0)
            peak = bench::peakMegabytes();
        kept = merge.merged->merged();
        floors.push_back(floorMs);
        opens.push_back(openMs);
        ratios.push_back(openMs / floorMs);
    }
    std::printf("merged 4 x 256 MiB: floor (mmap + memchr over the four) %.0f ms, merged and ready %.0f ms, "
                "median ratio %.2f; %lld lines; peak memory %ld MiB\n",
                bench::median(floors), bench::median(opens), bench::median(ratios),
                static_cast<long long>(kept->lineCount().value()), peak);

    // Going to a time.
    {
        const std::int64_t firstTime = kept->timeOfRow(0).value_or(0);
        const std::int64_t lastTime = kept->lastTime().value_or(firstTime);
        std::mt19937_64 random(7);
        std::uniform_int_distribution<std::int64_t> at(firstTime, lastTime);
        std::vector<double> times;
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer clock;
            clock.start();
            const LineNumber row = kept->firstRowAtOrAfter(at(random));
            const ByteOffset offset = kept->lineIndex(row);
            times.push_back(elapsedMs(clock));
            if (offset < 0)
                return 1;
        }
        std::sort(times.begin(), times.end());
        std::printf("go to time on the merged 1 GiB: median %.2f ms, slowest %.2f ms\n", bench::median(times),
                    times.back());
    }
    kept.reset();

    // lnav over the same files, in a home of its own so that its own settings play no part.
    if (qEnvironmentVariableIsEmpty("MERGED_BENCH_NO_LNAV")) {
        QTemporaryDir home;
        QProcess lnav;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        lnav.setProcessEnvironment(environment);
        QStringList arguments{QStringLiteral("-f"), QStringLiteral("%e %M"), QStringLiteral("lnav"),
                              QStringLiteral("-n"), QStringLiteral("-q")};
        for (const std::string& part : parts)
            arguments << QString::fromStdString(part);
        lnav.start(QStringLiteral("/usr/bin/time"), arguments);
        if (!lnav.waitForFinished(30 * 60 * 1000)) {
            std::printf("lnav -n -q: did not finish\n");
        } else {
            const QStringList lines = QString::fromLocal8Bit(lnav.readAllStandardError()).trimmed().split('\n');
            const QStringList figures = lines.last().split(' ');
            if (figures.size() == 2) {
                const double seconds = figures[0].toDouble();
                std::printf("lnav -n -q over the same four: %.0f ms (%.1f x the floor), peak memory %.0f MiB\n",
                            seconds * 1000, seconds * 1000 / bench::median(floors), figures[1].toDouble() / 1024);
            } else {
                std::printf("lnav -n -q: %s\n", lines.last().toLocal8Bit().constData());
            }
        }
    }

    // Following: eight small files, one line appended to one of them at a time.
    {
        const std::vector<std::string> small = deal(log, folder, "follow", 8, 16 << 20);
        Merge merge(small);
        if (!waitFor([&] { return merge.merged->merged() != nullptr; }))
            return 1;
        std::vector<double> latencies;
        for (int i = 0; i < 40; ++i) {
            const std::string& path = small[1 + static_cast<std::size_t>(i) % (small.size() - 1)];
            const std::string line = "2026-12-31 23:59:" + std::to_string(10 + i) + ".000 [99999] appended " +
                                     std::to_string(i);
            const LineCount before = merge.merged->merged()->lineCount();
            QElapsedTimer clock;
            clock.start();
            {
                std::ofstream out(path, std::ios::binary | std::ios::app);
                out << line << '\n';
            }
            const bool shown = waitFor(
                [&] {
                    const MergedLinesPtr now = merge.merged->merged();
                    return now->lineCount() > before && now->lineText(EndLine(now->lineCount()) - 1) == line;
                },
                30000);
            latencies.push_back(shown ? elapsedMs(clock) : 30000);
            // The next write after the watcher's gap, as lines of a log come one by one.
            QElapsedTimer pause;
            pause.start();
            waitFor([&] { return pause.elapsed() > 150; });
        }
        std::sort(latencies.begin(), latencies.end());
        std::printf("a line appended to one of 8 followed merged files, shown as the merge's last row: "
                    "p50 %.1f ms, p95 %.1f ms\n",
                    latencies[latencies.size() / 2], latencies[latencies.size() * 95 / 100]);
        for (const std::string& path : small)
            std::remove(path.c_str()); // written anew next time, without the appended lines
    }
    return 0;
}
