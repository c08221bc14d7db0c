// Several logs opened as one timeline.

#include "app/logtab.h"
#include "app/logtabs.h"
#include "app/mainwindow.h"
#include "navigate/fileslegend.h"
#include "source/mergedsource.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"
#include "view/logview.h"

#include <QCheckBox>
#include <QTabWidget>

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
        QCOMPARE(tab->firstLogLineAtOrAfter(tlg::DaysFromCivil(2026, 12, 7) * 86400'000'000'000 + 36003'000'000'000),
                 std::optional<std::int64_t>(3));
        QCOMPARE(tab->timeOfLogLine(4), tab->timeOfLogLine(3));

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
            back = restored->merged() ? restored : back;
        QCOMPARE(window->tabs()->tabs().size(), 2);
        QVERIFY(back);
        QCOMPARE(back->merged()->paths(), QStringList({app, sys, web}));
        QTRY_COMPARE_WITH_TIMEOUT(back->view()->lineCount(), 10, 60000);
    }
};

QTEST_MAIN(MergedTest)
#include "tst_merged.moc"
