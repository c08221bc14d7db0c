// The time histogram above a tab's view.

#include "app/logtab.h"
#include "source/follower.h"
#include "app/logtab.h"
#include "app/logtabs.h"
#include "navigate/filterstackrunner.h"
#include "navigate/histogramstrip.h"
#include "source/logtimes.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"
#include "view/logview.h"

#include <QSignalSpy>

#include <ctime>

using tlg::HistogramStrip;
using tlg::LogTab;
using tlg::MainWindow;
using tlg::TimeBucket;
using tlg::testing::appendFile;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

// Seconds since 1970 of 2026-12-07 10:00:00 UTC.
std::int64_t startSeconds()
{
    std::tm parts{};
    parts.tm_year = 2026 - 1900;
    parts.tm_mon = 11;
    parts.tm_mday = 7;
    parts.tm_hour = 10;
    return static_cast<std::int64_t>(::timegm(&parts));
}

// A log of `lines` lines two seconds apart from `first`, every fifth a stack frame without a
// stamp; `times` gets each line's carried time.
QByteArray stampedLines(int first, int lines, std::vector<std::int64_t>& times)
{
    QByteArray text;
    std::int64_t carried = times.empty() ? 0 : times.back();
    for (int i = first; i < first + lines; ++i) {
        if (i % 5 == 4) {
            text += "    at frame " + QByteArray::number(i) + "\n";
        } else {
            const std::time_t seconds = startSeconds() + 2 * i;
            std::tm parts{};
            ::gmtime_r(&seconds, &parts);
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts);
            text += QByteArray(stamp) + " line " + QByteArray::number(i) + "\n";
            carried = seconds * kSecond;
        }
        times.push_back(carried);
    }
    return text;
}

std::int64_t totalLines(const tlg::TimeHistogram::Bars& bars)
{
    std::int64_t lines = 0;
    for (const TimeBucket& bar : bars.bars)
        lines += bar.lines;
    return lines;
}

bool followUntil(ViewerFixture& viewer, LogTab* tab, std::int64_t lines)
{
    for (int tick = 0; tick < 50 && tab->view()->lineCount() != lines; ++tick) {
        tab->follower()->tick();
        viewer.settle();
    }
    return tab->view()->lineCount() == lines;
}

} // namespace

class HistogramTest : public QObject {
    Q_OBJECT

private slots:
    void aClickGoesToTheFirstLineOfItsIntervalInSight()
    {
        ViewerFixture viewer;
        std::vector<std::int64_t> times;
        const QString log = writeFile(viewer.home() + "app.log", stampedLines(0, 1500, times));
        MainWindow* window = viewer.start({log});
        window->resize(900, 600);
        LogTab* tab = window->tabs()->current();
        auto* strip = viewer.find<HistogramStrip>("TimeHistogram");
        QCOMPARE(strip, tab->histogram());
        QTRY_VERIFY_WITH_TIMEOUT(strip->isVisible() && strip->counts() && strip->idle(), 60000);
        // Above the view, as wide as it.
        QVERIFY(strip->geometry().bottom() < tab->view()->geometry().top());
        QVERIFY(strip->width() >= tab->view()->width());
        QTRY_VERIFY(!strip->bars().bars.empty());
        QCOMPARE(totalLines(strip->bars()), std::int64_t{1500});

        // Late in the log, out of sight: the caret goes to the interval's first line, in sight.
        const tlg::TimeHistogram::Bars& bars = strip->bars();
        const int bar = static_cast<int>(bars.bars.size()) * 3 / 4;
        const std::int64_t start = bars.start + bars.interval * bar;
        const auto first = std::find_if(times.begin(), times.end(), [start](std::int64_t t) { return t >= start; });
        QVERIFY(first != times.end());
        const auto expected = static_cast<std::int64_t>(first - times.begin());
        QTest::mouseClick(strip, Qt::LeftButton, {}, strip->barRect(bar).center());
        QTRY_COMPARE(tab->view()->caretLine(), expected);
        QVERIFY(tab->view()->firstVisibleLine() <= expected);
        QVERIFY(expected < tab->view()->firstVisibleLine() + tab->view()->visibleRows());

        // On a filtered view the histogram still counts the log's lines, and a click whose first
        // line is hidden goes to the next line shown.
        const auto hidden = [](std::int64_t line) { return line % 5 != 4 && line % 2 == 0; };
        tab->addFilterRow({QStringLiteral("line [0-9]*[02468]$"), true, false, tlg::FilterRow::Hide, true});
        QTRY_VERIFY_WITH_TIMEOUT(!tab->filterStack()->running() && tab->view()->lineCount() < 1500, 60000);
        QCOMPARE(totalLines(strip->bars()), std::int64_t{1500});
        int hiddenBar = -1;
        std::int64_t hiddenFirst = 0;
        for (int i = static_cast<int>(bars.bars.size()) / 2; i < static_cast<int>(bars.bars.size()) && hiddenBar < 0; ++i) {
            const std::int64_t barStart = bars.start + bars.interval * i;
            const auto line = std::find_if(times.begin(), times.end(), [barStart](std::int64_t t) { return t >= barStart; });
            if (line != times.end() && hidden(line - times.begin())) {
                hiddenBar = i;
                hiddenFirst = line - times.begin();
            }
        }
        QVERIFY(hiddenBar >= 0);
        std::int64_t shownBefore = 0;
        for (std::int64_t line = 0; line < hiddenFirst; ++line)
            shownBefore += hidden(line) ? 0 : 1;
        QTest::mouseClick(strip, Qt::LeftButton, {}, strip->barRect(hiddenBar).center());
        QTRY_COMPARE(tab->view()->caretLine(), shownBefore);
        QCOMPARE(tab->view()->document()->lineInLog(tab->view()->caretLine()).value(), hiddenFirst + 1);
    }

    void aDragLooksCloserAndARightClickLooksAtTheWholeLogAgain()
    {
        ViewerFixture viewer;
        std::vector<std::int64_t> times;
        const QString log = writeFile(viewer.home() + "app.log", stampedLines(0, 3000, times));
        MainWindow* window = viewer.start({log});
        window->resize(900, 600);
        auto* strip = viewer.find<HistogramStrip>("TimeHistogram");
        QTRY_VERIFY_WITH_TIMEOUT(strip->isVisible() && strip->counts() && strip->idle() && !strip->bars().bars.empty(), 60000);
        const std::int64_t wholeInterval = strip->bars().interval;

        const int count = static_cast<int>(strip->bars().bars.size());
        const QRect from = strip->barRect(count / 4);
        const QRect to = strip->barRect(count / 4 + 2);
        QTest::mousePress(strip, Qt::LeftButton, {}, from.center());
        QTest::mouseMove(strip, to.center());
        QTest::mouseRelease(strip, Qt::LeftButton, {}, to.center());
        QTRY_VERIFY_WITH_TIMEOUT(strip->zoom() && strip->idle(), 60000);
        const auto [zoomFrom, zoomTo] = *strip->zoom();
        QVERIFY(strip->bars().interval < wholeInterval);
        // The bars hold exactly the lines whose times fall in the range.
        const auto inside = std::count_if(times.begin(), times.end(), [&](std::int64_t t) { return t >= zoomFrom && t < zoomTo; });
        QVERIFY(inside > 0);
        QCOMPARE(totalLines(strip->bars()), static_cast<std::int64_t>(inside));

        QTest::mouseClick(strip, Qt::RightButton, {}, from.center());
        QVERIFY(!strip->zoom());
        QCOMPARE(strip->bars().interval, wholeInterval);
        QCOMPARE(totalLines(strip->bars()), std::int64_t{3000});
    }

    void aFollowedLogCountsItsNewLines()
    {
        ViewerFixture viewer;
        std::vector<std::int64_t> times;
        const QString log = writeFile(viewer.home() + "app.log", stampedLines(0, 400, times));
        MainWindow* window = viewer.start({log});
        LogTab* tab = window->tabs()->current();
        auto* strip = tab->histogram();
        QTRY_VERIFY_WITH_TIMEOUT(strip->counts() && strip->idle(), 60000);
        QCOMPARE(strip->counts()->histogram().lines(), std::int64_t{400});

        appendFile(log, stampedLines(400, 250, times));
        QVERIFY(followUntil(viewer, tab, 650));
        QTRY_VERIFY_WITH_TIMEOUT(strip->counts() && strip->counts()->lines() == tab->log()->lines() && strip->idle(), 60000);
        QCOMPARE(strip->counts()->histogram().lines(), std::int64_t{650});
        QCOMPARE(totalLines(strip->bars()), std::int64_t{650});
    }

    void noStripForALogWithoutStamps()
    {
        ViewerFixture viewer;
        QByteArray text;
        for (int i = 0; i < 300; ++i)
            text += "a line without a time " + QByteArray::number(i) + "\n";
        const QString log = writeFile(viewer.home() + "plain.log", text);
        MainWindow* window = viewer.start({log});
        LogTab* tab = window->tabs()->current();
        QTRY_VERIFY_WITH_TIMEOUT(tab->view()->lineCount() == 300 && !tab->log()->readingTimes(), 60000);
        QTRY_VERIFY(tab->histogram()->idle());
        QVERIFY(tab->histogram()->isHidden());
        QVERIFY(!tab->histogram()->counts());

        // A log with stamps shows one, until its times are turned off.
        std::vector<std::int64_t> times;
        const QString stamped = writeFile(viewer.home() + "app.log", stampedLines(0, 100, times));
        window->tabs()->open(stamped, tlg::OpenWay::Chosen);
        LogTab* stampedTab = window->tabs()->current();
        QTRY_VERIFY_WITH_TIMEOUT(stampedTab->histogram()->isVisible() && stampedTab->histogram()->counts(), 60000);
        stampedTab->log()->chooseTimeForm(tlg::TimeForm::None);
        QTRY_VERIFY(stampedTab->histogram()->isHidden());
        stampedTab->log()->chooseTimeForm(std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(stampedTab->histogram()->isVisible(), 60000);
    }
};

QTEST_MAIN(HistogramTest)
#include "tst_histogram.moc"
