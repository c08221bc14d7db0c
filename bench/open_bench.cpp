// Opens a log in the whole viewer, in process on the offscreen platform, and prints what each
// phase costs: the start without a log, the start with it on the command line (read, index,
// shown), the two watcher ticks that bring it coloured, the last screenful painted, and then
// the paints while paging and jumping at random, word wrap, and the peak memory.
//
//   open_bench <log>

#include "app/mainwindow.h"
#include "filelist/filelistpanel.h"
#include "app/logpresenter.h"
#include "app/logtab.h"
#include "source/follower.h"
#include "navigate/finder.h"
#include "app/viewer.h"
#include "measures.h"
#include "stallmeter.h"
#include "quiethome.h"
#include "view/logview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

double elapsedMs(QElapsedTimer& clock)
{
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    return ms;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: open_bench <log>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const tlg::bench::QuietHome home;
    QApplication application(argc, argv);
    tlg::bench::QuietHome::answerQuestions();
    const QString log = QString::fromLocal8Bit(argv[1]);

    QElapsedTimer clock;
    delete tlg::startViewer({}); // warms fonts and the settings files up
    clock.start();
    delete tlg::startViewer({});
    QApplication::processEvents();
    const double bare = elapsedMs(clock);

    tlg::bench::StallMeter stalls;
    stalls.start();
    auto* window = static_cast<tlg::MainWindow*>(tlg::startViewer({log}));
    // The log is read on its source's thread and shown, coloured, when it answers.
    auto settle = [window] {
        QApplication::processEvents();
        while (window->log()->busy())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    settle();
    const double opened = elapsedMs(clock);
    window->tab()->follower()->tick(); // nothing changed: nothing is read
    settle();
    const double coloured = elapsedMs(clock);
    tlg::LogView* view = window->tab()->view();
    window->tab()->presenter()->scrollToBottom();
    view->viewport()->grab();
    const double bottom = elapsedMs(clock);
    std::printf("start without a log      %8.1f ms\n", bare);
    std::printf("start with the log       %8.1f ms  (%.1f ms beyond the start)\n", opened, opened - bare);
    std::printf("two ticks, coloured      %8.1f ms\n", coloured);
    std::printf("last screenful painted   %8.1f ms\n", bottom);
    std::printf("open to coloured bottom  %8.1f ms beyond the start\n", opened - bare + coloured + bottom);
    stalls.stop();
    std::printf("longest the GUI thread went without its loop while opening: %lld ms\n",
                static_cast<long long>(stalls.worst()));
    std::printf("lines %lld, peak memory after open %ld MiB\n",
                static_cast<long long>(view->lineCount()), tlg::bench::peakMegabytes());

    std::vector<double> paints;
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        if (i % 2)
            view->setFirstVisibleLine(static_cast<std::int64_t>(random() % std::max<std::int64_t>(view->lineCount(), 1)));
        else
            view->setFirstVisibleLine(view->firstVisibleLine() + view->visibleRows());
        clock.restart();
        view->viewport()->grab();
        paints.push_back(elapsedMs(clock));
    }
    std::printf("paints while paging and jumping: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                percentile(paints, 0.5), percentile(paints, 0.99), percentile(paints, 1.0));
    clock.restart();
    view->setWordWrap(true);
    view->viewport()->grab();
    const double wrapOn = elapsedMs(clock);
    view->setWordWrap(false);
    view->viewport()->grab();
    std::printf("word wrap on and painted %8.2f ms, off %.2f ms\n", wrapOn, elapsedMs(clock));
    std::printf("peak memory %ld MiB\n", tlg::bench::peakMegabytes());
    delete window;
    return 0;
}
