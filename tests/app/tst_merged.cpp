// Several logs opened as one timeline.

#include "app/logtab.h"
#include "app/logtabs.h"
#include "app/mainwindow.h"
#include "navigate/fileslegend.h"
#include "navigate/histogramstrip.h"
#include "source/logtimes.h"
#include "search/overview.h"
#include "source/mergedlog.h"
#include "support/journalfiles.h"
#include "support/qtfiles.h"
#include "support/tempdir.h"
#include "support/viewerfixture.h"
#include "view/logview.h"
#include "view/overviewstrip.h"

#include <QCheckBox>
#include <QTabWidget>

#include <ctime>
#include <filesystem>

using tlg::LogTab;
using tlg::MainWindow;
using tlg::testing::appendFile;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

QStringList shownLines(const tlg::LogView* view)
{
    QStringList lines;
    for (std::int64_t line = 0; line < view->lineCount(); ++line)
        lines << view->lineText(line);
    return lines;
}

constexpr std::int64_t kSecond = 1'000'000'000;

// A stamp of 2026-12-07 10:00:00 UTC plus `seconds`, as strftime writes it with `format`.
QByteArray stampAt(int seconds, const char* format)
{
    std::tm parts{};
    parts.tm_year = 2026 - 1900;
    parts.tm_mon = 11;
    parts.tm_mday = 7;
    parts.tm_hour = 10;
    const std::time_t at = ::timegm(&parts) + seconds;
    ::gmtime_r(&at, &parts);
    char stamp[48];
    std::strftime(stamp, sizeof stamp, format, &parts);
    return stamp;
}

// An application's log in ISO stamps, three seconds apart from `first` on, with labels of both
// kinds and a stack frame now and then.
QByteArray appLines(int first, int count)
{
    static const char* const kWords[] = {"started", "ERROR failed", "info: ready", "warning", "nothing", "Error again"};
    QByteArray text;
    for (int i = first; i < first + count; ++i) {
        if (i % 6 == 5)
            text += "    at frame " + QByteArray::number(i) + "\n";
        else
            text += stampAt(3 * i, "%Y-%m-%dT%H:%M:%SZ") + " " + kWords[i % 6] + " " + QByteArray::number(i) + "\n";
    }
    return text;
}

// A web server's log in its own stamps, four seconds apart from one second on.
QByteArray webLines(int first, int count)
{
    QByteArray text;
    for (int i = first; i < first + count; ++i)
        text += "10.0.0.1 - - " + stampAt(1 + 4 * i, "[%d/%b/%Y:%H:%M:%S +0000]") + " \"GET /" +
                (i % 4 == 0 ? "fail" : "info") + "\" 200 " + QByteArray::number(i) + "\n";
    return text;
}

// The strip's bars counted again row by row: each merged row at the time the tab gives it,
// with the marks the overview found for it.
std::vector<tlg::TimeBucket> rowsPerBar(LogTab* tab, const tlg::TimeHistogram::Bars& bars)
{
    std::vector<tlg::TimeBucket> counts(bars.bars.size());
    const std::vector<std::uint8_t>& marks = tab->overview()->lineMarks();
    for (std::int64_t row = 0; row < tab->logLineCount(); ++row) {
        const std::optional<std::int64_t> time = tab->log()->timeOfLine(row);
        if (!time || *time < bars.start || *time >= bars.end())
            continue;
        const std::uint8_t mark = marks[static_cast<std::size_t>(row)];
        tlg::TimeBucket& bar = counts[static_cast<std::size_t>((*time - bars.start) / bars.interval)];
        bar += {1, (mark & tlg::kMarkError) ? 1 : 0, !(mark & tlg::kMarkError) && (mark & tlg::kMarkInfo) ? 1 : 0};
    }
    return counts;
}

std::int64_t totalLines(const tlg::TimeHistogram::Bars& bars)
{
    std::int64_t lines = 0;
    for (const tlg::TimeBucket& bar : bars.bars)
        lines += bar.lines;
    return lines;
}

} // namespace

class MergedTest : public QObject {
    Q_OBJECT

private slots:
    void threeFormsMergeFollowAndHide()
    {
        qputenv("TZ", "UTC");
        ViewerFixture viewer;
        // The same morning in three ways of writing it; the web server's line has no break at
        // its end.
        const QString app = writeFile(viewer.home() + "app.log",
                                      "2026-12-07T10:00:01.500Z INFO start\n"
                                      "2026-12-07T10:00:03Z ERROR failed\n"
                                      "    at Foo.bar(Foo.java:1)\n"
                                      "2026-12-07T10:00:05Z INFO done\n");
        const QString sys = writeFile(viewer.home() + "syslog",
                                      "Dec  7 10:00:01 host cron[1]: tick\n"
                                      "Dec  7 10:00:04 host cron[1]: tock\n");
        const QString web = writeFile(viewer.home() + "access.log",
                                      "127.0.0.1 - - [07/Dec/2026:10:00:00 +0000] \"GET / HTTP/1.1\" 200 1\n"
                                      "127.0.0.1 - - [07/Dec/2026:10:00:03 +0000] \"GET /b HTTP/1.1\" 200 1");
        MainWindow* window = viewer.start({});
        window->tabs()->openMerged({app, sys, web}, tlg::OpenWay::Chosen);
        LogTab* tab = window->tabs()->current();
        tlg::LogView* view = tab->view();
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 8, 60000);
        // Same times keep the order the files were named in; the stack trace stays with its line.
        const QStringList expected = {
            "127.0.0.1 - - [07/Dec/2026:10:00:00 +0000] \"GET / HTTP/1.1\" 200 1",
            "Dec  7 10:00:01 host cron[1]: tick",
            "2026-12-07T10:00:01.500Z INFO start",
            "2026-12-07T10:00:03Z ERROR failed",
            "    at Foo.bar(Foo.java:1)",
            "127.0.0.1 - - [07/Dec/2026:10:00:03 +0000] \"GET /b HTTP/1.1\" 200 1",
            "Dec  7 10:00:04 host cron[1]: tock",
            "2026-12-07T10:00:05Z INFO done",
        };
        QCOMPARE(shownLines(view), expected);
        // Each line keeps its number in its file and tells its file; the tab names the merge.
        const tlg::LinesPtr shown = view->document();
        QCOMPARE(shown->lineInFile(4).value(), 2);
        QCOMPARE(shown->fileOf(4), std::size_t(0));
        QCOMPARE(shown->fileOf(0), std::size_t(2));
        QCOMPARE(view->fileNames().size(), 3);
        QCOMPARE(window->tabs()->side(0)->tabText(window->tabs()->side(0)->currentIndex()), QStringLiteral("app.log + 2"));
        // A second open of the first file alone is a tab of its own.
        window->tabs()->open(app, tlg::OpenWay::Chosen);
        QTRY_COMPARE(window->tabs()->tabs().size(), 2);
        window->tabs()->setCurrent(tab);

        // Going to a time counts rows of the merged log.
        QCOMPARE(tab->log()->firstLineAtOrAfter(tlg::DaysFromCivil(2026, 12, 7) * 86400'000'000'000 + 36003'000'000'000),
                 std::optional<tlg::LineNumber>(3));
        QCOMPARE(tab->log()->timeOfLine(4), tab->log()->timeOfLine(3));

        // A line written to one file appears at its place in time: the newest at the end,
        // another between the lines of its time.
        appendFile(sys, "Dec  7 10:00:09 host cron[1]: newest\n");
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 9, 60000);
        QCOMPARE(view->lineText(8), QStringLiteral("Dec  7 10:00:09 host cron[1]: newest"));
        appendFile(app, "2026-12-07T10:00:06Z INFO between\n");
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 10, 60000);
        QCOMPARE(view->lineText(8), QStringLiteral("2026-12-07T10:00:06Z INFO between"));
        QCOMPARE(view->lineText(9), QStringLiteral("Dec  7 10:00:09 host cron[1]: newest"));

        // The legend hides a file's lines and shows them again.
        auto* legend = tab->findChild<tlg::FilesLegend*>(QStringLiteral("Files"));
        QVERIFY(legend && legend->isVisibleTo(tab));
        legend->box(1)->setChecked(false);
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 7, 60000);
        for (const QString& line : shownLines(view))
            QVERIFY(!line.contains("cron"));
        legend->box(1)->setChecked(true);
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 10, 60000);

        // The next start brings the merge back with its files, beside the first file alone.
        window->close();
        viewer.window.reset();
        window = viewer.start();
        LogTab* back = nullptr;
        for (LogTab* restored : window->tabs()->tabs())
            back = restored->log() && restored->log()->files().size() > 1 ? restored : back;
        QCOMPARE(window->tabs()->tabs().size(), 2);
        QVERIFY(back);
        QCOMPARE(back->log()->files(), QStringList({app, sys, web}));
        QTRY_COMPARE_WITH_TIMEOUT(back->view()->lineCount(), 10, 60000);
    }

    // The histogram of a merged log counts its rows, each file's in its own stamps; a click goes
    // to the first merged row of its interval, a drag looks closer, and it grows as a file does.
    void theHistogramCountsTheMergedRows()
    {
        qputenv("TZ", "UTC");
        ViewerFixture viewer;
        const QString app = writeFile(viewer.home() + "app.log", appLines(0, 300));
        const QString web = writeFile(viewer.home() + "access.log", webLines(0, 200));
        MainWindow* window = viewer.start({});
        window->resize(900, 600);
        window->tabs()->openMerged({app, web}, tlg::OpenWay::Chosen);
        LogTab* tab = window->tabs()->current();
        tlg::HistogramStrip* strip = tab->histogram();
        const auto settled = [&](std::int64_t rows) {
            return tab->view()->lineCount() == rows && strip->isVisible() && strip->counts() && strip->idle() &&
                   strip->counts()->lines() == tab->log()->lines() && !strip->bars().bars.empty() &&
                   tab->overview()->idle() && static_cast<std::int64_t>(tab->overview()->lineMarks().size()) == rows;
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(500), 60000);
        const tlg::TimeHistogram::Bars& bars = strip->bars();
        QCOMPARE(totalLines(bars), std::int64_t{500});
        const std::vector<tlg::TimeBucket> direct = rowsPerBar(tab, bars);
        for (std::size_t bar = 0; bar < direct.size(); ++bar)
            QVERIFY2(direct[bar] == bars.bars[bar], qPrintable(QStringLiteral("bar %1").arg(bar)));

        // A click late in the log puts the caret on the first merged row of the interval.
        const int bar = static_cast<int>(bars.bars.size()) * 3 / 4;
        const std::int64_t start = bars.start + bars.interval * bar;
        std::int64_t expected = 0;
        while (expected < tab->logLineCount() && tab->log()->timeOfLine(expected).value_or(0) < start)
            ++expected;
        QTest::mouseClick(strip, Qt::LeftButton, {}, strip->barRect(bar).center());
        QTRY_COMPARE(tab->view()->caretLine(), expected);

        // A drag counts the rows of both files in its range.
        const int count = static_cast<int>(bars.bars.size());
        QTest::mousePress(strip, Qt::LeftButton, {}, strip->barRect(count / 4).center());
        QTest::mouseMove(strip, strip->barRect(count / 4 + 3).center());
        QTest::mouseRelease(strip, Qt::LeftButton, {}, strip->barRect(count / 4 + 3).center());
        QTRY_VERIFY_WITH_TIMEOUT(strip->zoom() && strip->idle(), 60000);
        const auto [from, to] = *strip->zoom();
        std::int64_t inside = 0;
        for (std::int64_t row = 0; row < tab->logLineCount(); ++row) {
            const std::int64_t time = tab->log()->timeOfLine(row).value_or(-1);
            inside += time >= from && time < to ? 1 : 0;
        }
        QVERIFY(inside > 0);
        QCOMPARE(totalLines(strip->bars()), inside);
        QTest::mouseClick(strip, Qt::RightButton, {}, strip->barRect(0).center());

        // Lines written to the second file, among the first file's times and after them, count
        // where they fall.
        appendFile(web, webLines(200, 100));
        QTRY_VERIFY_WITH_TIMEOUT(settled(600), 60000);
        QCOMPARE(totalLines(strip->bars()), std::int64_t{600});
        const std::vector<tlg::TimeBucket> grown = rowsPerBar(tab, strip->bars());
        for (std::size_t i = 0; i < grown.size(); ++i)
            QVERIFY2(grown[i] == strip->bars().bars[i], qPrintable(QStringLiteral("bar %1").arg(i)));

        // Times turned off take the strip away, and back on bring it back.
        tab->log()->chooseTimeForm(tlg::TimeForm::None);
        QTRY_VERIFY(strip->isHidden());
        tab->log()->chooseTimeForm(std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(settled(600), 60000);
    }

    // A journal folder merged with a log file shows its entries, as journalctl's short-iso
    // lines, among the file's lines by time, with its own colour in the legend; entries written
    // later come in at their place.
    void aJournalJoinsTheTimelineAndIsFollowed()
    {
        qputenv("TZ", "UTC");
        ::tzset();
        constexpr std::uint64_t kStart = 1700000000000000ULL; // 2023-11-14T22:13:20Z
        const auto entries = [&](std::vector<std::pair<int, std::string>> at, const std::string& boot) {
            std::vector<tlg::testing::ExportEntry> list;
            for (const auto& [halfSeconds, message] : at) {
                tlg::testing::ExportEntry entry;
                entry.realtime = kStart + static_cast<std::uint64_t>(halfSeconds) * 500000;
                entry.boot = boot;
                entry.fields = {{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "app"}, {"_PID", "7"}, {"MESSAGE", message}};
                list.push_back(std::move(entry));
            }
            return tlg::testing::ExportText(list);
        };
        tlg::testing::TempDir dir;
        std::filesystem::create_directory(dir.path("journal"));
        const std::string folder = dir.path("journal");
        // Entries at 0, 2, 4 and 6 seconds, the second of two lines.
        QVERIFY(tlg::testing::MakeJournal(
            folder + "/a.journal", entries({{0, "journal 0"}, {4, "journal 1\nmore"}, {8, "journal 2"}, {12, "journal 3"}},
                                           "11111111111111111111111111111111")));
        ViewerFixture viewer;
        // Lines at 1, 3, 5, 7 and 9 seconds.
        QByteArray text;
        for (int i = 0; i < 5; ++i)
            text += "2023-11-14T22:13:2" + QByteArray::number(1 + 2 * i) + "Z plain " + QByteArray::number(i) + "\n";
        const QString plain = writeFile(viewer.home() + "plain.log", text);
        MainWindow* window = viewer.start({});
        // The journal named first, as Merge with... on its tab names it: the log file leads.
        window->tabs()->openMerged({QString::fromStdString(folder), plain}, tlg::OpenWay::Chosen);
        LogTab* tab = window->tabs()->current();
        QVERIFY(tab->log());
        QCOMPARE(tab->log()->files(), QStringList({plain, QString::fromStdString(folder)}));
        tlg::LogView* view = tab->view();
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 10, 60000);
        const auto expect = [&](const std::vector<std::pair<std::size_t, QString>>& rows) {
            QCOMPARE(view->lineCount(), static_cast<std::int64_t>(rows.size()));
            for (std::size_t row = 0; row < rows.size(); ++row) {
                const auto line = static_cast<std::int64_t>(row);
                QVERIFY2(view->lineText(line).endsWith(rows[row].second), qPrintable(view->lineText(line)));
                QCOMPARE(view->document()->fileOf(line), rows[row].first);
            }
        };
        expect({{1, "app[7]: journal 0"}, {0, "plain 0"}, {1, "app[7]: journal 1"}, {1, "more"}, {0, "plain 1"},
                {1, "app[7]: journal 2"}, {0, "plain 2"}, {1, "app[7]: journal 3"}, {0, "plain 3"}, {0, "plain 4"}});
        QVERIFY(view->lineText(0).startsWith("2023-11-14T22:13:20+0000 box "));
        auto* legend = tab->findChild<tlg::FilesLegend*>(QStringLiteral("Files"));
        QVERIFY(legend && legend->isVisibleTo(tab));
        QCOMPARE(legend->box(1)->text(), QStringLiteral("journal"));
        QCOMPARE(view->fileNames().size(), 2);

        // A second journal file (of a later boot) written into the folder: its entries take their
        // places among the log file's lines.
        QVERIFY(tlg::testing::MakeJournal(folder + "/b.journal",
                                          entries({{16, "late 8"}, {22, "newest"}}, "22222222222222222222222222222222")));
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 12, 60000);
        expect({{1, "app[7]: journal 0"}, {0, "plain 0"}, {1, "app[7]: journal 1"}, {1, "more"}, {0, "plain 1"},
                {1, "app[7]: journal 2"}, {0, "plain 2"}, {1, "app[7]: journal 3"}, {0, "plain 3"}, {1, "app[7]: late 8"},
                {0, "plain 4"}, {1, "app[7]: newest"}});
        // The histogram counts both: every row carries a time.
        QTRY_VERIFY_WITH_TIMEOUT(tab->histogram()->counts() && tab->histogram()->idle() &&
                                     tab->histogram()->counts()->histogram().lines() == 12,
                                 60000);
    }
};

QTEST_MAIN(MergedTest)
#include "tst_merged.moc"
