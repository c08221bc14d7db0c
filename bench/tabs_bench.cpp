// Fifty large logs open at once, one tab each, in the whole viewer (in process, on the offscreen
// platform), measured side by side in one run:
//
// - the open: from startViewer with the fifty paths until every tab has its log indexed, shown
//   (its source idle, its view holding the file's lines) and followed (its watch timer running,
//   FileOpen set), in turn with the floor program over the same files (mmap + memchr, every
//   index kept), in its own process so that its mapped pages do not count here; the files are
//   read once before, so both find them in the page cache;
// - the process's peak and current memory once all are open;
// - switching tabs: from LogTabs::setCurrent until the new tab's view has painted, for every
//   tab, several rounds;
// - following: one line appended to each log, one log after another and then all at once, from
//   the write until the line is in its tab's view, in sight or not, beside a bare inotify watch
//   on the same files, which sees the same writes.
//
//   tabs_bench [folder=/tmp/tlg-tabs-bench-logs] [logs=50] [MiB=100] [rounds=3]
//
// Logs missing from the folder are written with genlog (beside this program), 40 MiB each
// instead when the folder's disk has less than 8 GiB free; logs there already are reused. The
// lines appended are cut off again at the end.

#include "app/logtab.h"
#include "source/follower.h"
#include "app/logtab.h"
#include "app/logtabs.h"
#include "app/mainwindow.h"
#include "app/viewer.h"
#include "view/overviewstrip.h"
#include "quiethome.h"
#include "source/filelog.h"
#include "source/watchstate.h"
#include "view/logview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// A field of /proc/self/status in MiB: VmHWM is the peak resident memory, VmRSS the current.
long statusMegabytes(const char* field)
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            kib = std::atol(line + length + 1);
    }
    std::fclose(status);
    return kib < 0 ? -1 : kib / 1024;
}

// Reads a file through (which leaves it in the page cache) and counts its lines as the view
// does: a last line without a line break counts, the empty one after a final break does not.
std::int64_t countLines(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return -1;
    std::vector<char> buffer(1 << 20);
    std::int64_t breaks = 0;
    char last = '\n';
    bool any = false;
    for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;) {
        for (const char* at = buffer.data(), *end = at + got; (at = static_cast<const char*>(std::memchr(at, '\n', end - at))); ++at)
            ++breaks;
        last = buffer[static_cast<std::size_t>(got - 1)];
        any = true;
    }
    ::close(fd);
    return breaks + (any && last != '\n' ? 1 : 0);
}

// Processor time used so far, user and system, of this process (or of its children that ended).
double cpuMs(int who)
{
    struct rusage usage {};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Processor time the whole machine spent busy so far, every program's together.
double machineBusyMs()
{
    std::FILE* stat = std::fopen("/proc/stat", "r");
    if (!stat)
        return 0;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    const int got = std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system, &idle,
                                &iowait, &irq, &softirq, &steal);
    std::fclose(stat);
    if (got < 8)
        return 0;
    return static_cast<double>(user + nice + system + irq + softirq + steal) * 1000.0 /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Every processed batch of events, done() is asked again; false once timeoutMs have passed.
bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QTimer wake; // so that the loop comes back while nothing else happens
    wake.start(2);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Notes when a viewport's first paint after arm() has returned: it lets the paint run through
// the viewport's other filters (the scroll area's, which paints the view) from inside its own.
class PaintClock : public QObject {
public:
    void arm(QObject* viewport)
    {
        m_target = viewport;
        m_done = {};
    }
    bool painted() const { return m_done != Clock::time_point{}; }
    Clock::time_point done() const { return m_done; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || watched != m_target || m_inside || painted())
            return false;
        m_inside = true;
        QCoreApplication::sendEvent(watched, event);
        m_inside = false;
        m_done = Clock::now();
        return true;
    }

private:
    QObject* m_target = nullptr;
    bool m_inside = false;
    Clock::time_point m_done{};
};

// The bare reference for following: an inotify watch on every log, on a thread of its own,
// noting the first change of each log after it is armed.
class BareWatch {
public:
    explicit BareWatch(const std::vector<std::string>& paths) : m_seen(paths.size())
    {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        for (std::size_t i = 0; i < paths.size(); ++i)
            m_index[::inotify_add_watch(m_fd, paths[i].c_str(), IN_MODIFY)] = i;
        m_thread = std::thread([this] { run(); });
    }
    ~BareWatch()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    void arm(std::size_t i) { m_seen[i] = 0; }
    // When the log's change was seen (nothing: not yet).
    Clock::time_point seen(std::size_t i) const
    {
        return Clock::time_point(Clock::duration(m_seen[i].load()));
    }

private:
    void run()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        while (!m_stop) {
            pollfd in{m_fd, POLLIN, 0};
            if (::poll(&in, 1, 50) <= 0)
                continue;
            const auto now = Clock::now().time_since_epoch().count();
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                const auto found = m_index.find(event->wd);
                if (found != m_index.end()) {
                    Clock::rep none = 0;
                    m_seen[found->second].compare_exchange_strong(none, now);
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    int m_fd = -1;
    std::map<int, std::size_t> m_index;
    std::vector<std::atomic<Clock::rep>> m_seen;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Log {
    std::string path;
    std::int64_t lines = 0;   // as the file holds them now
    std::int64_t size = 0;    // before anything is appended
    tlg::LogTab* tab = nullptr;
};

// Every tab holds its log indexed, shown and followed. expected: each path's lines; ready
// gets the time each tab was first found so.
bool allOpen(const tlg::MainWindow* window, const QHash<QString, std::int64_t>& expected,
             QHash<const tlg::LogTab*, Clock::time_point>& ready)
{
    const QList<tlg::LogTab*> tabs = window->tabs()->tabs();
    for (const tlg::LogTab* tab : tabs) {
        const auto* log = qobject_cast<const tlg::FileLog*>(tab->log());
        if (!ready.contains(tab) && log && !log->busy() && tab->view()->lineCount() == expected.value(tab->path(), -1) &&
            tab->watchTimer()->isActive() && log->watchState().FileOpen)
            ready[tab] = Clock::now();
    }
    return tabs.size() == expected.size() && ready.size() == expected.size() && !window->tabs()->busy();
}

void findTabs(const tlg::MainWindow* window, std::vector<Log>& logs)
{
    for (Log& log : logs) {
        for (tlg::LogTab* tab : window->tabs()->tabs()) {
            if (QFileInfo(tab->path()).absoluteFilePath().toStdString() == log.path)
                log.tab = tab;
        }
    }
}

const char* verdict(bool pass)
{
    return pass ? "PASS" : "MISS";
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const tlg::bench::QuietHome home;
    QApplication application(argc, argv);
    tlg::bench::QuietHome::answerQuestions();
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/tlg-tabs-bench-logs");
    const int count = argc > 2 ? std::atoi(argv[2]) : 50;
    int megabytes = argc > 3 ? std::atoi(argv[3]) : 100;
    const int rounds = std::max(1, argc > 4 ? std::atoi(argv[4]) : 3);
    const QString bin = QCoreApplication::applicationDirPath();

    // The logs: written when missing, else reused.
    QDir().mkpath(folder);
    std::vector<Log> logs(static_cast<std::size_t>(count));
    std::vector<std::string> paths;
    QStringList arguments;
    bool missing = false;
    for (int i = 0; i < count; ++i) {
        const QString path = QFileInfo(folder + QStringLiteral("/log%1.log").arg(i + 1, 2, 10, QLatin1Char('0'))).absoluteFilePath();
        logs[static_cast<std::size_t>(i)].path = path.toStdString();
        paths.push_back(path.toStdString());
        arguments << path;
        missing = missing || !QFileInfo::exists(path);
    }
    struct statvfs disk {};
    if (missing && ::statvfs(folder.toLocal8Bit().constData(), &disk) == 0 &&
        static_cast<double>(disk.f_bavail) * static_cast<double>(disk.f_frsize) < 8.0 * (1u << 30) && megabytes > 40) {
        megabytes = 40;
        std::printf("less than 8 GiB free in %s: the logs missing are written with 40 MiB each\n", qPrintable(folder));
    }
    for (const QString& path : arguments) {
        if (QFileInfo::exists(path))
            continue;
        if (QProcess::execute(bin + QStringLiteral("/genlog"), {QString::number(megabytes), path}) != 0) {
            std::fprintf(stderr, "genlog could not write %s\n", qPrintable(path));
            return 1;
        }
    }
    // Read once: the page cache holds them for the floor and the viewer alike.
    std::int64_t bytes = 0, lines = 0;
    for (Log& log : logs) {
        log.lines = countLines(log.path);
        log.size = QFileInfo(QString::fromStdString(log.path)).size();
        bytes += log.size;
        lines += log.lines;
    }
    std::printf("%d logs in %s, %.0f MiB in all, %lld lines\n", count, qPrintable(folder),
                static_cast<double>(bytes) / (1 << 20), static_cast<long long>(lines));

    QHash<QString, std::int64_t> expected;
    for (const Log& log : logs)
        expected[QString::fromStdString(log.path)] = log.lines;

    auto floorMs = [&] {
        QProcess floor;
        floor.start(bin + QStringLiteral("/floor"), arguments);
        floor.waitForFinished(-1);
        return QString::fromLatin1(floor.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0).toDouble();
    };

    // 1. The open, in turn with the floor; the median of the rounds' ratios.
    delete tlg::startViewer({}); // warms fonts and the settings files up
    QElapsedTimer clock;
    clock.start();
    delete tlg::startViewer({});
    QApplication::processEvents();
    const double bare = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    floorMs(); // a warm-up
    std::vector<double> floors, opens, ratios;
    tlg::MainWindow* window = nullptr;
    long peakOpen = 0, rssOpen = 0;
    for (int round = 0; round < rounds; ++round) {
        delete window;
        window = nullptr;
        QApplication::processEvents();
        const double floorCpuBefore = cpuMs(RUSAGE_CHILDREN), floorBusyBefore = machineBusyMs();
        const double floor = floorMs();
        const double floorCpu = cpuMs(RUSAGE_CHILDREN) - floorCpuBefore;
        // What other programs took meanwhile says whether the machine was shared.
        const double floorOthers = machineBusyMs() - floorBusyBefore - floorCpu;
        const double openCpuBefore = cpuMs(RUSAGE_SELF), openBusyBefore = machineBusyMs();
        QHash<const tlg::LogTab*, Clock::time_point> ready;
        const auto started = Clock::now();
        clock.restart();
        window = static_cast<tlg::MainWindow*>(tlg::startViewer(arguments));
        const double made = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (!waitUntil([&] { return allOpen(window, expected, ready); }, 300000)) {
            std::fprintf(stderr, "the logs were not all open after 300 s\n");
            return 1;
        }
        const double open = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const double openCpu = cpuMs(RUSAGE_SELF) - openCpuBefore;
        const double openOthers = machineBusyMs() - openBusyBefore - openCpu;
        if (round == 0) {
            peakOpen = statusMegabytes("VmHWM");
            rssOpen = statusMegabytes("VmRSS");
        }
        floors.push_back(floor);
        opens.push_back(open);
        ratios.push_back(open / floor);
        std::vector<double> readyMs;
        for (const Clock::time_point at : ready)
            readyMs.push_back(millis(at - started));
        std::printf("round %d: floor %.0f ms, open %.0f ms, ratio %.2f (startViewer returned at %.0f ms; tabs ready: "
                    "first %.0f ms, half %.0f ms, last %.0f ms; processor time: floor %.0f ms, open %.0f ms; other programs' "
                    "meanwhile: %.0f ms, %.0f ms)\n",
                    round + 1, floor, open, open / floor, made, percentile(readyMs, 0), percentile(readyMs, 0.5),
                    percentile(readyMs, 1), floorCpu, openCpu, std::max(0.0, floorOthers),
                    std::max(0.0, openOthers));
    }
    const double floor = percentile(floors, 0.5), open = percentile(opens, 0.5), ratio = percentile(ratios, 0.5);
    std::printf("start without a log %.0f ms\n", bare);
    std::printf("open %d logs: floor (mmap + memchr, every index kept) %.0f ms, open until all indexed, shown and "
                "followed %.0f ms (start included), median ratio %.2f\n",
                count, floor, open, ratio);

    // 2. Memory once all are open (the first round, before any was closed).
    std::printf("memory once all are open: peak (VmHWM) %ld MiB, current (VmRSS) %ld MiB\n", peakOpen, rssOpen);

    // The overview strips mark their logs beside the GUI thread once the logs are shown: what
    // they take, and when they end.
    findTabs(window, logs);
    clock.restart();
    const bool marked = waitUntil([&] {
        return std::all_of(logs.begin(), logs.end(), [](const Log& log) { return log.tab->overview()->idle(); });
    }, 120000);
    std::printf("overview strips %s %.0f ms after the last open; memory then: peak %ld MiB, current %ld MiB\n",
                marked ? "all marked" : "still marking", static_cast<double>(clock.nsecsElapsed()) / 1e6,
                statusMegabytes("VmHWM"), statusMegabytes("VmRSS"));

    // What fifty followed logs cost while nothing happens: the watch timers' looks.
    const double idleCpuBefore = cpuMs(RUSAGE_SELF);
    waitUntil([] { return false; }, 10000);
    std::printf("10 s with all followed and nothing written: %.0f ms of processor time\n",
                cpuMs(RUSAGE_SELF) - idleCpuBefore);

    // 3. Switching: every tab in turn, several rounds.
    tlg::LogTabs* tabs = window->tabs();
    PaintClock paints;
    for (const Log& log : logs)
        log.tab->view()->viewport()->installEventFilter(&paints);
    std::vector<double> switches, firstVisits;
    int unpainted = 0;
    const int switchRounds = 5;
    for (int round = 0; round < switchRounds; ++round) {
        for (const Log& log : logs) {
            if (tabs->current() == log.tab)
                continue;
            paints.arm(log.tab->view()->viewport());
            const auto start = Clock::now();
            tabs->setCurrent(log.tab);
            if (!waitUntil([&] { return paints.painted(); }, 2000)) {
                ++unpainted;
                continue;
            }
            (round == 0 ? firstVisits : switches).push_back(millis(paints.done() - start));
        }
    }
    for (const Log& log : logs)
        log.tab->view()->viewport()->removeEventFilter(&paints);
    std::vector<double> allSwitches = switches;
    allSwitches.insert(allSwitches.end(), firstVisits.begin(), firstVisits.end());
    std::printf("switch tabs until the view has painted, %zu switches: p50 %.1f ms, p95 %.1f ms, max %.1f ms "
                "(first visits: p50 %.1f ms, max %.1f ms; later: p95 %.1f ms, max %.1f ms)%s\n",
                allSwitches.size(), percentile(allSwitches, 0.5), percentile(allSwitches, 0.95),
                percentile(allSwitches, 1.0), percentile(firstVisits, 0.5), percentile(firstVisits, 1.0),
                percentile(switches, 0.95), percentile(switches, 1.0),
                unpainted ? qPrintable(QStringLiteral(", %1 never painted").arg(unpainted)) : "");

    // 4. Following: a line appended to each log, one log after another, then to all at once.
    std::vector<double> oneByOne, atOnce, bareOne, bareAll;
    int unseen = 0;
    {
        BareWatch bareWatch(paths);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<Clock::time_point> written(logs.size()), shown(logs.size());
        std::vector<QString> texts(logs.size());
        auto append = [&](std::size_t i, int pass) {
            const std::string text = "2026-12-07 23:59:59.999 [99999] appended " + std::to_string(pass) +
                                     " to log " + std::to_string(i + 1);
            texts[i] = QString::fromStdString(text);
            shown[i] = {};
            bareWatch.arm(i);
            const int fd = ::open(logs[i].path.c_str(), O_WRONLY | O_APPEND);
            const std::string line = text + "\n";
            if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                std::abort();
            written[i] = Clock::now();
            ::close(fd);
            ++logs[i].lines;
        };
        auto isShown = [&](std::size_t i) {
            const tlg::LogView* view = logs[i].tab->view();
            return view->lineCount() == logs[i].lines && view->lineText(view->lineCount() - 1) == texts[i];
        };
        auto note = [&](std::size_t i, std::vector<double>& into, std::vector<double>& bareInto) {
            into.push_back(millis(shown[i] - written[i]));
            if (bareWatch.seen(i) != Clock::time_point{})
                bareInto.push_back(std::max(0.0, millis(bareWatch.seen(i) - written[i])));
        };
        for (std::size_t i = 0; i < logs.size(); ++i) {
            waitUntil([] { return false; }, 20); // a pause between the writes
            append(i, 1);
            if (waitUntil([&] { return isShown(i); }, 10000)) {
                shown[i] = Clock::now();
                note(i, oneByOne, bareOne);
            } else {
                ++unseen;
            }
        }
        waitUntil([] { return false; }, 300);
        for (std::size_t i = 0; i < logs.size(); ++i)
            append(i, 2);
        std::size_t left = logs.size();
        waitUntil([&] {
            const auto now = Clock::now();
            for (std::size_t i = 0; i < logs.size(); ++i) {
                if (shown[i] == Clock::time_point{} && isShown(i)) {
                    shown[i] = now;
                    --left;
                }
            }
            return left == 0;
        }, 10000);
        unseen += static_cast<int>(left);
        for (std::size_t i = 0; i < logs.size(); ++i) {
            if (shown[i] != Clock::time_point{})
                note(i, atOnce, bareAll);
        }
    }
    std::printf("follow, a line appended to one log after another: p50 %.1f ms, p95 %.1f ms, max %.1f ms "
                "(inotify, same writes: p50 %.2f ms, p95 %.2f ms)\n",
                percentile(oneByOne, 0.5), percentile(oneByOne, 0.95), percentile(oneByOne, 1.0),
                percentile(bareOne, 0.5), percentile(bareOne, 0.95));
    std::printf("follow, a line appended to all %d at once: p50 %.1f ms, p95 %.1f ms, max %.1f ms "
                "(inotify: p50 %.2f ms, p95 %.2f ms)%s\n",
                count, percentile(atOnce, 0.5), percentile(atOnce, 0.95), percentile(atOnce, 1.0),
                percentile(bareAll, 0.5), percentile(bareAll, 0.95),
                unseen ? qPrintable(QStringLiteral(", %1 never shown").arg(unseen)) : "");
    std::printf("memory at the end: peak (VmHWM) %ld MiB, current %ld MiB\n", statusMegabytes("VmHWM"),
                statusMegabytes("VmRSS"));

    delete window;
    for (const Log& log : logs) // the lines appended go again
        ::truncate(log.path.c_str(), log.size);

    std::vector<double> follows = oneByOne;
    follows.insert(follows.end(), atOnce.begin(), atOnce.end());
    const double switchP95 = percentile(allSwitches, 0.95), followP50 = percentile(follows, 0.5);
    std::printf("goal: open %d logs %.0f ms (floor %.0f ms, ratio %.2f), goal 3000 ms: %s\n", count, open, floor, ratio,
                verdict(open <= 3000));
    std::printf("goal: peak memory once open %ld MiB, goal 300 MiB: %s\n", peakOpen, verdict(peakOpen <= 300));
    std::printf("goal: switch tabs p95 %.1f ms (max %.1f ms), goal 16 ms: %s\n", switchP95,
                percentile(allSwitches, 1.0), verdict(!allSwitches.empty() && unpainted == 0 && switchP95 <= 16));
    std::printf("goal: follow p50 %.1f ms (inotify %.2f ms), goal 50 ms: %s\n", followP50,
                percentile(bareOne, 0.5), verdict(!follows.empty() && unseen == 0 && followP50 <= 50));
    return 0;
}
