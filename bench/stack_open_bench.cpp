// Opens a large log in the whole viewer with a stack of five filters, as the command line does,
// side by side in one run with the floor (mmap and memchr, its own program) and the grep
// pipeline that shows the same lines: from the start until the view shows the kept lines, and
// until every row is matched on every line (the stack shows its lines first and then matches
// the rows it skipped on lines already hidden), in several rounds, each of the three in turn.
// Then switches a row off and on in the stack's bar until the view shows the lines combined
// again, and prints the GUI thread's longest pause in both and the peak memory.
//
//   stack_open_bench <log> [rounds]

#include "fiverows.h"
#include "measures.h"
#include "app/logtab.h"
#include "source/follower.h"
#include "app/logtab.h"
#include "app/logtabs.h"
#include "app/mainwindow.h"
#include "app/viewer.h"
#include "document/keptlines.h"
#include "navigate/filterstackbar.h"
#include "navigate/filterstackrunner.h"
#include "quiethome.h"
#include "stallmeter.h"
#include "view/logview.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using tlg::bench::floorMilliseconds;
using tlg::bench::folderOf;
using tlg::bench::median;
using tlg::bench::peakMegabytes;
using tlg::bench::verdict;

namespace {

double pipelineMilliseconds(const std::string& pipeline)
{
    QElapsedTimer clock;
    clock.start();
    if (std::system(pipeline.c_str()) == -1)
        std::exit(1);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// Runs the event loop until the view shows kept lines other than `before`.
void waitForKeptLines(tlg::LogView* view, const tlg::LinesPtr& before)
{
    for (;;) {
        const tlg::LinesPtr& shown = view->document();
        if (shown != before && dynamic_cast<const tlg::KeptLines*>(shown.get()))
            return;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: stack_open_bench <log> [rounds]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const tlg::bench::QuietHome home;
    QApplication application(argc, argv);
    tlg::bench::QuietHome::answerQuestions();
    const std::string logPath = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const QString log = QString::fromLocal8Bit(argv[1]);
    const std::string floor = folderOf(argv[0]) + "floor";
    const std::string counted = "/tmp/stack_open_bench.out";

    // The rows as the command line gives them: each an expression (a plain row's text escaped),
    // then the log.
    QStringList arguments;
    for (const tlg::bench::BenchRow& row : tlg::bench::kFiveRows) {
        arguments << QString::fromLatin1(row.kind == tlg::FilterRow::Hide ? "--hide" : "--show") +
                         QString::fromLatin1(row.matchCase ? "" : "-i")
                  << (row.regex ? QString::fromLatin1(row.pattern) : QRegularExpression::escape(QString::fromLatin1(row.pattern)));
    }
    arguments << QStringLiteral("--") << log;
    const std::string pipeline = tlg::bench::FiveRowsPipeline(logPath, counted);

    delete tlg::startViewer({}); // warms fonts and the settings files up
    floorMilliseconds(floor, logPath);

    std::vector<double> floors, opens, settles, pipes, openRatios;
    qint64 openStall = 0;
    long long shownLines = 0;
    QMainWindow* window = nullptr;
    // A warm-up round, then the rounds measured; the last window stays open for the switches.
    for (int round = 0; round <= rounds; ++round) {
        delete window;
        window = nullptr;
        const double floorMs = floorMilliseconds(floor, logPath);
        tlg::bench::StallMeter stalls;
        QElapsedTimer clock;
        stalls.start();
        clock.start();
        window = tlg::startViewer(arguments);
        auto* main = static_cast<tlg::MainWindow*>(window);
        tlg::LogView* view = main->tabs()->current()->view();
        waitForKeptLines(view, nullptr);
        const double openMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const tlg::LinesPtr shown = view->document();
        while (main->tabs()->current()->filterStack()->running())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double settledMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        stalls.stop();
        if (view->document() != shown)
            std::printf("the lines shown changed once every row was matched\n");
        shownLines = view->lineCount();
        const double pipeMs = pipelineMilliseconds(pipeline);
        std::printf("round %d: floor %.1f ms, open with the stack %.1f ms (ratio %.2f), every row matched %.1f ms, "
                    "pipeline %.1f ms, longest pause %lld ms\n",
                    round, floorMs, openMs, openMs / floorMs, settledMs, pipeMs, static_cast<long long>(stalls.worst()));
        if (round == 0)
            continue;
        floors.push_back(floorMs);
        opens.push_back(openMs);
        settles.push_back(settledMs);
        pipes.push_back(pipeMs);
        openRatios.push_back(openMs / floorMs);
        openStall = std::max(openStall, stalls.worst());
    }
    const long openPeak = peakMegabytes();
    long grepLines = 0;
    if (FILE* out = ::popen(("wc -l < " + counted).c_str(), "r")) {
        if (std::fscanf(out, "%ld", &grepLines) != 1)
            grepLines = -1;
        ::pclose(out);
    }
    std::remove(counted.c_str());

    // The first row switched off and on again by its check box, five times, every row matched.
    auto* main = static_cast<tlg::MainWindow*>(window);
    tlg::LogTab* tab = main->tabs()->current();
    tlg::LogView* view = tab->view();
    auto* on = tab->filterStackBar()->findChild<QCheckBox*>(QStringLiteral("FilterRowOn"));
    std::vector<double> switches;
    tlg::bench::StallMeter stalls;
    stalls.start();
    for (int i = 0; i < 10; ++i) {
        const tlg::LinesPtr before = view->document();
        QElapsedTimer clock;
        clock.start();
        on->click();
        waitForKeptLines(view, before);
        switches.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        QApplication::processEvents();
    }
    stalls.stop();
    delete window;

    const double ratio = median(openRatios);
    const double openMs = median(opens);
    const double pipeMs = median(pipes);
    const double switchMs = *std::max_element(switches.begin(), switches.end());
    std::printf("shown %lld lines, the grep pipeline %ld lines: %s\n", shownLines, grepLines,
                grepLines == shownLines ? "same" : "DIFFERENT");
    std::printf("floor (mmap + memchr index): median %.1f ms\n", median(floors));
    std::printf("open with the stack, shown:  median %.1f ms, median ratio to the floor %.2f  %s (within 3x)\n", openMs,
                ratio, verdict(ratio <= 3.0));
    std::printf("every row matched:           median %.1f ms\n", median(settles));
    std::printf("grep -v ... | grep -E ...:   median %.1f ms  %s (the open within it)\n", pipeMs,
                verdict(openMs <= pipeMs));
    std::printf("switch a row off and on:     median %.1f ms, slowest %.1f ms of 10  %s (<= 50 ms)\n",
                median(switches), switchMs, verdict(switchMs <= 50));
    std::printf("longest pause of the GUI thread: open %lld ms, switches %lld ms  %s (<= 50 ms)\n",
                static_cast<long long>(openStall), static_cast<long long>(stalls.worst()),
                verdict(std::max(openStall, stalls.worst()) <= 50));
    std::printf("peak memory (VmHWM): %ld MiB  %s (<= 150 MiB)\n", openPeak, verdict(openPeak <= 150));
    return 0;
}
