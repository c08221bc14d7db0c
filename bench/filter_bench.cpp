// Measures the filter pane on a large log: the search alone (a word ignoring case, and the
// regular expression err(or)?\s+\d+), then the same typed into the pane of the whole viewer
// (offscreen), with the longest time the GUI thread went without running its loop meanwhile.
//
//   filter_bench <log> [word] [regex]

#include "measures.h"
#include "app/mainwindow.h"
#include "app/viewer.h"
#include "app/logtab.h"
#include "source/follower.h"
#include "document/textload.h"
#include "navigate/filterpane.h"
#include "search/linefilter.h"
#include "stallmeter.h"
#include "quiethome.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using tlg::bench::floorMilliseconds;
using tlg::bench::folderOf;
using tlg::bench::median;
using tlg::bench::peakMegabytes;

namespace {

// The search alone: a warm-up, then the median of five runs.
void measureCore(const tlg::LogDocument& document, const std::string& pattern, bool regex, bool matchCase)
{
    tlg::LineFilterOptions options;
    options.regex = regex;
    options.matchCase = matchCase;
    const tlg::LineFilter filter(pattern, options);
    std::vector<double> times;
    std::size_t count = 0;
    for (int i = 0; i < 6; ++i) {
        std::vector<tlg::LineNumber> lines;
        std::atomic<bool> cancel{false};
        std::atomic<std::int64_t> done{0};
        QElapsedTimer clock;
        clock.start();
        filter.run(document, 0, lines, cancel, done);
        if (i > 0)
            times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        count = lines.size();
    }
    std::printf("filter %-6s %-24s %9zu lines  median %8.1f ms\n", regex ? "regex" : "plain",
                pattern.c_str(), count, median(times));
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: filter_bench <log> [word] [regex]\n");
        return 2;
    }
    const std::string word = argc > 2 ? argv[2] : "error";
    const std::string regex = argc > 3 ? argv[3] : R"(err(or)?\s+\d+)";
    {
        const tlg::DocumentPtr document = tlg::LoadPlainText(argv[1]);
        measureCore(*document, word, false, false);
        measureCore(*document, regex, true, true);
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    const tlg::bench::QuietHome home;
    QApplication application(argc, argv);
    tlg::bench::QuietHome::answerQuestions();
    auto* window = static_cast<tlg::MainWindow*>(tlg::startViewer({QString::fromLocal8Bit(argv[1])}));
    // The log is read on its source's thread.
    QApplication::processEvents();
    while (window->log()->busy())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    tlg::FilterPane* pane = window->filterPane();
    pane->toggle();

    tlg::bench::StallMeter stalls;
    auto typed = [&](const std::string& pattern, bool isRegex) {
        pane->findChild<QCheckBox*>(QStringLiteral("FilterRegex"))->setChecked(isRegex);
        pane->findChild<QCheckBox*>(QStringLiteral("FilterCase"))->setChecked(isRegex);
        QEventLoop wait;
        const auto connection = QObject::connect(pane, &tlg::FilterPane::searchFinished, &wait, &QEventLoop::quit);
        QApplication::processEvents();
        stalls.start();
        QElapsedTimer clock;
        clock.start();
        pane->findChild<QLineEdit*>(QStringLiteral("FilterText"))->setText(QString::fromStdString(pattern));
        wait.exec();
        const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        stalls.stop();
        QObject::disconnect(connection);
        std::printf("pane   %-6s %-24s %9lld lines  %8.1f ms after the typing pause; longest GUI pause %lld ms\n",
                    isRegex ? "regex" : "plain", pattern.c_str(), static_cast<long long>(pane->matchCount()), ms,
                    static_cast<long long>(stalls.worst()));
    };
    typed(word, false);
    typed(regex, true);
    delete window;
    return 0;
}
