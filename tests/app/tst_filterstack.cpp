// The filter stack on the log itself, as the whole viewer shows it.

#include "app/commandline.h"
#include "app/logtab.h"
#include "app/logtabs.h"
#include "document/logdocument.h"
#include "navigate/filterstackbar.h"
#include "navigate/filterstackrunner.h"
#include "navigate/finddialog.h"
#include "navigate/gotolinedialog.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"
#include "view/caretplacement.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>

using tlg::LogTab;
using tlg::MainWindow;
using tlg::StackRow;
using tlg::testing::appendFile;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

// The lines the view shows, as text, and the numbers the gutter gives them.
QStringList shownLines(const tlg::LogView* view)
{
    QStringList lines;
    for (std::int64_t row = 0; row < view->lineCount(); ++row)
        lines << QString::number(view->document()->lineInLog(row).value() + 1) + QLatin1Char(' ') + view->lineText(row);
    return lines;
}

void waitForStack(ViewerFixture& viewer, LogTab* tab)
{
    viewer.settle();
    QTRY_VERIFY_WITH_TIMEOUT(!tab->filterStack()->running(), 60000);
}

} // namespace

class FilterStackTest : public QObject {
    Q_OBJECT

private slots:
    void theCommandLineGivesTheStackInOrder()
    {
        const tlg::CommandLine line = tlg::ReadCommandLine(
            {"tlgview", "--hide", "DEBUG", "--show-i", "req=1", "--hide-i=health", "--show", "a|b", "app.log"});
        QCOMPARE(line.action, tlg::CommandLine::Open);
        QCOMPARE(line.logs, QStringList{"app.log"});
        const QList<tlg::CommandLine::Filter> expected{
            {"DEBUG", false, false}, {"req=1", true, true}, {"health", false, true}, {"a|b", true, false}};
        QCOMPARE(line.filters, expected);
        QCOMPARE(tlg::ReadCommandLine({"tlgview", "--hide"}).action, tlg::CommandLine::Refused);
    }

    void theViewShowsTheKeptLinesWithTheirNumbersInTheLog()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "app.log",
                                      "start\nDEBUG one\nreq=1 GET /health\nreq=1 GET /page\nDEBUG two\nreq=2 GET /page\nend\n");
        MainWindow* window = viewer.start();
        // Show only req=, hiding the health checks: as `grep 'req=' | grep -v health`.
        const std::vector<StackRow> rows{{"req=", false, true, tlg::FilterRow::ShowOnly, true},
                                         {"HEALTH", false, false, tlg::FilterRow::Hide, true}};
        window->tabs()->open(log, tlg::OpenWay::Chosen, {}, [&rows](LogTab* tab) {
            tab->filterStackBar()->setRows(rows);
            tab->filterStack()->setRows(rows);
        });
        LogTab* tab = window->tabs()->current();
        waitForStack(viewer, tab);
        auto* view = viewer.find<tlg::LogView>("RichEdit1");
        QCOMPARE(shownLines(view), QStringList({"4 req=1 GET /page", "6 req=2 GET /page"}));
        QCOMPARE(viewer.status(4), QStringLiteral("2 of 7 lines shown"));

        // New lines of the followed log pass through the stack as they come.
        appendFile(log, "req=3 GET /health\nreq=4 GET /x\nother\n");
        for (int tick = 0; tick < 50 && view->lineCount() < 3; ++tick) {
            viewer.tick();
            waitForStack(viewer, tab);
        }
        QCOMPARE(shownLines(view), QStringList({"4 req=1 GET /page", "6 req=2 GET /page", "9 req=4 GET /x"}));
        QCOMPARE(viewer.status(4), QStringLiteral("3 of 10 lines shown"));

        // Find and go to line work on the kept lines; a hidden line goes to the next shown.
        tlg::FindDialog* dialog = window->finder()->findDialog();
        dialog->setFindText(QStringLiteral("GET /x"));
        window->finder()->findNext();
        QTRY_COMPARE(view->caretLine(), 2);
        QTimer::singleShot(0, window, [window] {
            auto* asked = window->findChild<tlg::GotoLineDialog*>(QStringLiteral("GotoLineDialog"));
            QVERIFY(asked && asked->isVisible());
            asked->numberEdit()->setText(QStringLiteral("5")); // a hidden line of the log
            asked->accept();
        });
        window->navigation()->goToLine();
        QCOMPARE(view->lineText(view->caretLine()), QStringLiteral("req=2 GET /page"));

        // A mark set on a kept line is the log's line's, kept as such.
        QTest::keyClick(view, Qt::Key_M);
        QCOMPARE(view->lineMarks(), (std::set<std::int64_t>{5}));

        // Switching the stack off shows every line, the caret on the same line of the log.
        auto* on = tab->filterStackBar()->findChild<QCheckBox*>(QStringLiteral("FilterRowOn"));
        on->click();
        tab->filterStackBar()->findChildren<QCheckBox*>(QStringLiteral("FilterRowOn")).at(1)->click();
        waitForStack(viewer, tab);
        QTRY_COMPARE(view->lineCount(), 10);
        QCOMPARE(view->caretLine(), 5);
        QCOMPARE(viewer.status(4), QString());
        QCOMPARE(view->document()->lineInLog(5).value(), 5);
        tlg::ScrollToLine(view, 0);
        QTest::keyClick(view, Qt::Key_F2);
        QCOMPARE(view->caretLine(), 5);
    }

    void anInvalidRowSaysWhyAndTheOthersStillApply()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "app.log", "keep 1\r\ndrop 2\r\nkeep 3\r\n");
        MainWindow* window = viewer.start({log});
        LogTab* tab = window->tabs()->current();
        tab->addFilterRow({"(unclosed", true, false, tlg::FilterRow::ShowOnly, true});
        tab->addFilterRow({"drop", false, false, tlg::FilterRow::Hide, true});
        waitForStack(viewer, tab);
        auto* view = viewer.find<tlg::LogView>("RichEdit1");
        QTRY_COMPARE(view->lineCount(), 2);
        QCOMPARE(shownLines(view), QStringList({"1 keep 1", "3 keep 3"}));
        const QList<QLabel*> errors = tab->filterStackBar()->findChildren<QLabel*>(QStringLiteral("FilterRowError"));
        QCOMPARE(errors.size(), 2);
        QVERIFY(errors[0]->text().contains(QStringLiteral("parenthesis")));
        QVERIFY(errors[1]->text().isEmpty());

        // The stack is kept with the log and comes back when it opens again.
        window->close();
        viewer.window.reset();
        window = viewer.start({log});
        tab = window->tabs()->current();
        waitForStack(viewer, tab);
        QCOMPARE(tab->filterStack()->rows().size(), std::size_t(2));
        QTRY_COMPARE(viewer.find<tlg::LogView>("RichEdit1")->lineCount(), 2);
    }

    void errorsOnlyShowsTheLinesWithAnErrorLabel()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "app.log", "ok\nan ERROR here\nStart of job\nplain\nFailed twice\n");
        MainWindow* window = viewer.start({log});
        LogTab* tab = window->tabs()->current();
        tab->addLevelRow(false);
        waitForStack(viewer, tab);
        auto* view = viewer.find<tlg::LogView>("RichEdit1");
        QTRY_COMPARE(shownLines(view), QStringList({"2 an ERROR here", "5 Failed twice"}));
        tab->addLevelRow(true); // a second row: errors and infos, both must match
        waitForStack(viewer, tab);
        QTRY_COMPARE(view->lineCount(), 2);
    }

    void aRowSwitchedBeforeEveryRowIsMatchedShowsWhatItShould()
    {
        // The plain row hides lines before the expression is matched on them; switched off
        // while the rest is matched, those lines come back with the expression's matches.
        tlg::FilterStackRunner runner;
        const tlg::LinesPtr text = tlg::LogDocument::fromBytes("DEBUG req=1\nreq=2\nDEBUG x\nreq=x\nreq=3 DEBUG\n");
        std::vector<StackRow> rows{{"DEBUG", false, true, tlg::FilterRow::Hide, true},
                                   {"req=[0-9]", true, true, tlg::FilterRow::ShowOnly, true}};
        QSignalSpy shown(&runner, &tlg::FilterStackRunner::shownChanged);
        runner.setRows(rows);
        runner.shownOf(text, tlg::Encoding::Utf8);
        QVERIFY(shown.wait(60000));
        QCOMPARE(runner.shownText(), QStringLiteral("1 of 5 lines shown"));
        QVERIFY(runner.running()); // matching the expression on the lines hidden
        rows[0].on = false;
        runner.setRows(rows);
        QTRY_VERIFY_WITH_TIMEOUT(!runner.running(), 60000);
        QCOMPARE(runner.shownText(), QStringLiteral("3 of 5 lines shown"));
        const tlg::LinesPtr lines = runner.shownOf(text, tlg::Encoding::Utf8);
        QCOMPARE(lines->lineInLog(0).value(), 0);
        QCOMPARE(lines->lineInLog(2).value(), 4);
    }
};

QTEST_MAIN(FilterStackTest)
#include "tst_filterstack.moc"
