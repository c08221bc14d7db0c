// Find in the shown view, the line indicator, and the arrow keys that scroll at once.

#include "view/logview.h"
#include "navigate/filterpane.h"
#include "navigate/finddialog.h"
#include "support/numberedlines.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <set>
#include <QLineEdit>
#include <QToolButton>

// The view takes and gives offsets as plain integers.
using ByteOffset = std::int64_t;
using tlg::FilterPane;
using tlg::FindDialog;
using tlg::LogView;
using tlg::MainWindow;
using tlg::testing::appendFile;
using tlg::testing::numberedLines;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

// The colour painted at the top of the cell where the byte at offset shows.
QColor cellColour(LogView* view, ByteOffset offset)
{
    const ByteOffset caret = view->caretOffset();
    view->setSelection(offset, 0);
    const QPoint at = view->caretPixelPos();
    view->setSelection(caret, 0);
    return view->viewport()->grab().toImage().pixelColor(at.x() + 3, at.y() + 1);
}

} // namespace

class NavigationTest : public QObject {
    Q_OBJECT

private slots:
    void findNextSelectsEachOccurrenceUpToTheEnd()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "find.log", "alpha Beta gamma beta\r\nBETA \xC9T\xC9 end\r\n");
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        LogView* view = window->tab()->view();

        // "Search" and Ctrl+F open the dialog; Enter in its text field finds the next one.
        viewer.find<QToolButton>("ToolButton15")->click();
        auto* dialog = viewer.find<FindDialog>("FindDialog1");
        QVERIFY(dialog->isVisible());
        auto* text = dialog->findChild<QLineEdit*>(QStringLiteral("FindText"));
        text->setText(QStringLiteral("beta"));
        view->setSelection(0, 0);
        QTest::keyClick(text, Qt::Key_Return);
        QCOMPARE(view->selectionStart(), 6); // "Beta", ignoring case
        QCOMPARE(view->selectionLength(), 4);
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 17);
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 23); // on the next line
        // After the last occurrence nothing changes, and no box comes up.
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 23);
        QCOMPARE(view->selectionLength(), 4);
        QVERIFY(viewer.messages.isEmpty());

        // An occurrence right at the caret is found; earlier ones are not.
        view->setSelection(17, 0);
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 17);
        view->setSelection(18, 0);
        dialog->setFindText(QStringLiteral("ALPHA"));
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 18);
        QCOMPARE(view->selectionLength(), 0);

        // Inside words, and accented letters in either case.
        view->setSelection(0, 0);
        dialog->setFindText(QStringLiteral("ET"));
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 7);
        dialog->setFindText(QStringLiteral("\u00E9t\u00E9"));
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 28);

        // Ctrl+F in the main window brings the dialog back.
        dialog->close();
        QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(dialog->isVisible());
    }

    void findPreviousMarksAndSaysWhenNothingIsFound()
    {
        ViewerFixture viewer;
        // "beta" at 0, 10, 19 (before a CR LF) and 29, ending the text; the "\xE9" makes it a
        // Windows-1252 log.
        const QString log = writeFile(viewer.home() + "back.log", "beta one\r\nbeta two beta\r\nend beta \xE9 ");
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        LogView* view = window->tab()->view();
        auto* dialog = viewer.find<FindDialog>("FindDialog1");
        dialog->setFindText(QStringLiteral("BETA"));
        auto* status = viewer.find<QLabel>("StatusPanel0");

        // From the end back to the first, through the menu item, Shift+F3 and the call.
        view->setSelection(ByteOffset(view->text().size()), 0);
        viewer.find<QAction>("FindPrevious1")->trigger();
        QCOMPARE(view->selectionStart(), 29);
        QCOMPARE(view->selectionLength(), 4);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(view->selectionStart(), 19);
        window->finder()->findPrevious();
        QCOMPARE(view->selectionStart(), 10);
        status->clear();
        window->finder()->findPrevious();
        QCOMPARE(view->selectionStart(), 0);
        QCOMPARE(status->text(), QString());
        // Nothing before the first: the selection stays and the status bar says so.
        window->finder()->findPrevious();
        QCOMPARE(view->selectionStart(), 0);
        QCOMPARE(view->selectionLength(), 4);
        QCOMPARE(status->text(), QStringLiteral("Not found: \"BETA\""));
        // Nothing after the last either.
        status->clear();
        view->setSelection(29, 4);
        QTest::keyClick(window, Qt::Key_F3);
        QCOMPARE(view->selectionStart(), 29);
        QCOMPARE(view->selectionLength(), 4);
        QCOMPARE(status->text(), QStringLiteral("Not found: \"BETA\""));
        // A caret inside an occurrence finds the one it is in only forwards; found, it takes
        // the old "Not found" away.
        view->setSelection(12, 0);
        window->finder()->findPrevious();
        QCOMPARE(view->selectionStart(), 10);
        QCOMPARE(status->text(), QString());
        // A text the log's encoding cannot hold is not found either, and marks nothing.
        dialog->setFindText(QStringLiteral("\u03A9beta"));
        window->finder()->findNext();
        QCOMPARE(status->text(), QStringLiteral("Not found: \"\u03A9beta\""));
        QCOMPARE(view->markedText(), std::string());
        QVERIFY(viewer.messages.isEmpty());

        // Every occurrence in sight is marked, the first, one before a CR LF and the last;
        // other text is not.
        dialog->setFindText(QStringLiteral("beta"));
        window->finder()->findNext();
        QCOMPARE(view->markedText(), std::string("beta"));
        QCOMPARE(window->tab()->view()->markedText(), std::string("beta"));
        QCOMPARE(window->tab()->view()->markedText(), std::string("beta"));
        view->clearFocus();
        view->setSelection(5, 0);
        // (Cells of letters that do not reach the top of their row.)
        const QColor mark = cellColour(view, 1);
        QVERIFY(mark != view->backgroundColour());
        QCOMPARE(cellColour(view, 3), mark);
        QCOMPARE(cellColour(view, 13), mark);
        QCOMPARE(cellColour(view, 22), mark);
        QCOMPARE(cellColour(view, 30), mark);
        QCOMPARE(cellColour(view, 32), mark);
        QCOMPARE(cellColour(view, 5), view->backgroundColour());
        QCOMPARE(cellColour(view, 25), view->backgroundColour());
        // Esc in the view takes them away; so does an empty find text.
        QTest::keyClick(view, Qt::Key_Escape);
        QCOMPARE(view->markedText(), std::string());
        QCOMPARE(cellColour(view, 1), view->backgroundColour());
        window->finder()->findNext();
        QCOMPARE(view->markedText(), std::string("beta"));
        dialog->findChild<QLineEdit*>(QStringLiteral("FindText"))->clear();
        QCOMPARE(window->tab()->view()->markedText(), std::string());
        QCOMPARE(window->tab()->view()->markedText(), std::string());
    }

    void findOptionsAndHistory()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "opts.log", "Error one\nterror two\nerror three\nERROR four 42\n");
        MainWindow* window = viewer.start({log});
        LogView* view = window->tab()->view();
        auto* dialog = viewer.find<FindDialog>("FindDialog1");
        auto* status = viewer.find<QLabel>("StatusPanel0");
        const auto found = [view] {
            return view->text().substr(static_cast<std::size_t>(view->selectionStart()),
                                       static_cast<std::size_t>(view->selectionLength()));
        };
        const auto findFromStart = [&](const QString& text, bool matchCase, bool word, bool regex) {
            dialog->findChild<QCheckBox*>(QStringLiteral("FindCase"))->setChecked(matchCase);
            dialog->findChild<QCheckBox*>(QStringLiteral("FindWholeWord"))->setChecked(word);
            dialog->findChild<QCheckBox*>(QStringLiteral("FindRegex"))->setChecked(regex);
            dialog->setFindText(text);
            view->setSelection(0, 0);
            window->finder()->findNext();
        };
        // Off at start: case ignored, inside words, plain text.
        findFromStart(QStringLiteral("error"), false, false, false);
        QCOMPARE(view->selectionStart(), 0);
        findFromStart(QStringLiteral("error"), true, false, false);
        QCOMPARE(view->selectionStart(), view->lineIndex(1) + 1); // in "terror"
        findFromStart(QStringLiteral("error"), true, true, false);
        QCOMPARE(view->selectionStart(), view->lineIndex(2));
        findFromStart(QStringLiteral("error"), false, true, false);
        window->finder()->findNext(); // "terror" passed by
        QCOMPARE(view->selectionStart(), view->lineIndex(2));
        window->finder()->findPrevious();
        QCOMPARE(view->selectionStart(), 0);

        // A regular expression, forwards and backwards, never across lines.
        findFromStart(QStringLiteral("\\d+|ERR(OR)? T"), false, false, true);
        QCOMPARE(found(), std::string("error t")); // in "terror two"
        view->setSelection(static_cast<std::int64_t>(view->text().size()), 0);
        window->finder()->findPrevious();
        QCOMPARE(found(), std::string("42"));
        findFromStart(QStringLiteral("one$\\s+terror"), false, false, true);
        QCOMPARE(status->text(), QStringLiteral("Not found: \"one$\\s+terror\""));
        findFromStart(QStringLiteral("err("), false, false, true);
        QVERIFY2(status->text().startsWith(QStringLiteral("Invalid pattern: ")), qPrintable(status->text()));

        // The texts found, last first, without repeats, at most 20.
        for (int i = 0; i < 25; ++i)
            findFromStart(QStringLiteral("t%1").arg(i % 22), false, false, false);
        QCOMPARE(dialog->history().size(), FindDialog::kHistory);
        QCOMPARE(dialog->history().first(), QStringLiteral("t2"));
        QCOMPARE(dialog->history().count(QStringLiteral("t2")), 1);
    }

    void theFilterPaneListsMatchingLines()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "filter.log", "start error 1\nfine\r\nERROR 22 here\nan err  5\nerr\n7\n");
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        FilterPane* pane = window->filterPane();
        QVERIFY(!pane->isVisible());
        // Shortcuts work in the active window.
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(pane->isVisible());
        viewer.find<QToolButton>("FilterButton")->click();
        QVERIFY(!pane->isVisible());
        viewer.find<QToolButton>("FilterButton")->click();
        QVERIFY(pane->isVisible());

        auto* text = viewer.find<QLineEdit>("FilterText");
        auto* matchCase = viewer.find<QCheckBox>("FilterCase");
        auto* regex = viewer.find<QCheckBox>("FilterRegex");
        auto* list = viewer.find<LogView>("FilterView");
        // A listed line: its number from 1 in the log, and its text.
        const auto row = [pane, list](std::int64_t at) {
            return QString::number(pane->matchedLine(at).value() + 1) + QLatin1Char(' ') + list->lineText(at);
        };
        auto* status = viewer.find<QLabel>("FilterStatus");

        // Plain text, ignoring case, each line once with its number from 1.
        text->setText(QStringLiteral("error"));
        QTRY_COMPARE(pane->matchCount(), 2);
        QCOMPARE(pane->property("matchCount").toLongLong(), 2);
        QCOMPARE(row(0), QStringLiteral("1 start error 1"));
        QCOMPARE(row(1), QStringLiteral("3 ERROR 22 here"));
        QCOMPARE(list->lineCount(), 2);
        matchCase->setChecked(true);
        QTRY_COMPARE(pane->matchCount(), 1);
        QCOMPARE(row(0), QStringLiteral("1 start error 1"));

        // A regular expression, within lines ("err" then "7" on the next line is no match).
        matchCase->setChecked(false);
        regex->setChecked(true);
        text->setText(QStringLiteral("err(or)?\\s+\\d+"));
        QTRY_COMPARE(pane->matchCount(), 3);
        QCOMPARE(row(2), QStringLiteral("4 an err  5"));
        QCOMPARE(status->text(), QStringLiteral("3 lines"));

        // An invalid one says why in the pane and lists nothing.
        text->setText(QStringLiteral("err(or"));
        QTRY_VERIFY(status->text().contains(QStringLiteral("missing closing parenthesis")));
        QCOMPARE(pane->matchCount(), 0);
        QCOMPARE(list->lineCount(), 0);
        QVERIFY(viewer.messages.isEmpty());

        // Lines the followed log appends are added as they arrive, a line cut short included.
        text->setText(QStringLiteral("err(or)?\\s+\\d+"));
        QTRY_COMPARE(pane->matchCount(), 3);
        QTRY_VERIFY(!pane->searching());
        list->setSelection(list->lineIndex(1), 0);
        appendFile(log, "ok\nerror 9 new\nerr");
        viewer.tick();
        QTRY_COMPARE(pane->matchCount(), 4);
        QCOMPARE(pane->matchedLine(3), 7);
        // Only the new lines were searched: the list was not filled again under the reader.
        QCOMPARE(list->caretLine(), 1);
        appendFile(log, "or 10\n");
        viewer.tick();
        QTRY_COMPARE(pane->matchCount(), 5);
        QCOMPARE(row(4), QStringLiteral("9 error 10"));
        QCOMPARE(list->caretLine(), 1);

        // A click on a listed line puts the view's caret on it; so does Enter.
        LogView* view = window->tab()->view();
        view->setSelection(0, 0);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(40, (3 - int(list->firstVisibleLine())) * list->lineHeight() + list->lineHeight() / 2));
        QCOMPARE(view->caretLine(), 7);
        QCOMPARE(view->caretOffset(), view->lineIndex(7));
        list->setFocus();
        list->setSelection(list->lineIndex(1), 0);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(window->tab()->view()->caretLine(), 2);
    }

    void theFilterListZoomsWithTheLogAndFollowsItsEnd()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "many.log", QByteArray::fromStdString(numberedLines(300)));
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        window->filterPane()->toggle();
        FilterPane* pane = window->filterPane();
        auto* list = viewer.find<LogView>("FilterView");
        viewer.find<QLineEdit>("FilterText")->setText(QStringLiteral("line"));
        QTRY_COMPARE(pane->matchCount(), 300);
        QTRY_VERIFY(!pane->searching());

        window->tab()->view()->setFontPointSize(13);
        QCOMPARE(list->fontPointSize(), 13);

        // At its end, the list shows the lines added; scrolled up, it stays where it is.
        QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier);
        appendFile(log, "line 300\nline 301\n");
        viewer.tick();
        QTRY_COMPARE(pane->matchCount(), 302);
        QVERIFY(list->firstVisibleLine() + list->visibleRows() > 301);
        QTest::keyClick(list, Qt::Key_Home, Qt::ControlModifier);
        appendFile(log, "line 302\n");
        viewer.tick();
        QTRY_COMPARE(pane->matchCount(), 303);
        QCOMPARE(list->firstVisibleLine(), 0);

        // The log's marks show on the listed lines; one set in the list is the log's. Both keep
        // them by the line of the log.
        viewer.find<QLineEdit>("FilterText")->setText(QStringLiteral("line 2"));
        QTRY_COMPARE(pane->matchCount(), 111); // 2, 20 to 29, 200 to 299
        QTRY_VERIFY(!pane->searching());
        window->tab()->view()->toggleLineMark(25);
        QCOMPARE(list->lineMarks(), (std::set<std::int64_t>{25}));
        list->setSelection(list->lineIndex(0), 0);
        QTest::keyClick(list, Qt::Key_M);
        QCOMPARE(window->tab()->view()->lineMarks(), (std::set<std::int64_t>{2, 25}));
        QCOMPARE(list->lineMarks(), (std::set<std::int64_t>{2, 25}));
        // F2 in the list goes to the listed line of the next mark.
        QTest::keyClick(list, Qt::Key_F2);
        QCOMPARE(list->caretLine(), 6);
    }

    void anEmptyViewFindsNothing()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        viewer.find<FindDialog>("FindDialog1")->setFindText(QStringLiteral("x"));
        window->finder()->findNext();
        QCOMPARE(window->tab()->view()->selectionLength(), 0);
        QCOMPARE(window->tab()->view()->caretOffset(), 0);
    }

    void aLargeTextIsSearchedWhileTheWindowRuns()
    {
        ViewerFixture viewer;
        QByteArray text(20 * 1024 * 1024, 'x');
        for (int i = 80; i < text.size(); i += 81)
            text[i] = '\n';
        text.append("needle at the end\n");
        const QString log = writeFile(viewer.home() + "big.log", text);
        MainWindow* window = viewer.start({log});
        viewer.find<FindDialog>("FindDialog1")->setFindText(QStringLiteral("NEEDLE"));
        window->finder()->findNext();
        LogView* view = window->tab()->view();
        QTRY_COMPARE(view->selectionStart(), ByteOffset(text.size() - 18));
        QCOMPARE(view->selectionLength(), 6);
        QVERIFY(view->caretPixelPos().y() < view->viewport()->height());

        // Esc in the view stops a search under way; what is selected stays.
        viewer.find<FindDialog>("FindDialog1")->setFindText(QStringLiteral("nowhere"));
        view->setSelection(0, 0);
        window->finder()->findNext();
        QVERIFY(window->finder()->searching());
        QVERIFY(viewer.status(0).startsWith(QStringLiteral("Searching...")));
        QTest::keyClick(view, Qt::Key_Escape);
        QVERIFY(!window->finder()->searching());
        QCOMPARE(viewer.status(0), QStringLiteral("Search stopped"));
        QCOMPARE(view->caretOffset(), 0);
    }

    void theIndicatorShowsTheCaretLineAndTheLineCount()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "lines.log", QByteArray::fromStdString(numberedLines(100)));
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        LogView* view = window->tab()->view();
        viewer.tick();
        QCOMPARE(viewer.status(2), QStringLiteral("Line : 0/100"));
        view->setSelection(view->text().size(), 0);
        viewer.tick();
        QCOMPARE(viewer.status(2), QStringLiteral("Line : 100/100"));

        // A click shows the clicked line at once.
        view->setSelection(0, 0);
        view->scrollCaretIntoView();
        const int h = view->lineHeight();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(4, 2 * h + h / 2));
        QCOMPARE(viewer.status(2), QStringLiteral("Line : 2/100"));
        // A key shows the line before the key moved the caret.
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(viewer.status(2), QStringLiteral("Line : 2/100"));
    }

    void arrowKeysJumpToTheEdgeOfTheView()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "keys.log", QByteArray::fromStdString(numberedLines(400)));
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        LogView* view = window->tab()->view();
        view->setFocus();
        const int h = view->lineHeight();
        const int rows = view->viewport()->height() / h;
        QVERIFY(rows > 6);

        // From the top line, Down puts the caret on the bottom line, and the view's own Down
        // then scrolls by one.
        view->setSelection(0, 0);
        view->scrollCaretIntoView();
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->caretLine(), rows);
        QCOMPARE(view->firstVisibleLine(), 1);
        // Low in the view, Down just moves and scrolls a line.
        QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(view->caretLine(), rows + 1);
        QCOMPARE(view->firstVisibleLine(), 2);

        // From the bottom, Up jumps to the top line of the view and then scrolls by one.
        QTest::keyClick(view, Qt::Key_Up);
        QCOMPARE(view->caretLine(), 1);
        QCOMPARE(view->firstVisibleLine(), 1);

        // Other keys only update the indicator.
        view->setSelection(view->lineIndex(50), 0);
        view->scrollCaretIntoView();
        QTest::keyClick(view, Qt::Key_PageDown);
        QCOMPARE(viewer.status(2), QStringLiteral("Line : 50/400"));

        // Near the ends the jump stays inside the text.
        view->setSelection(view->lineIndex(398), 0);
        view->setFirstVisibleLine(398);
        QTest::keyClick(view, Qt::Key_Down);
        QVERIFY(view->caretLine() <= view->lineCount());
        QVERIFY(view->caretOffset() <= ByteOffset(view->text().size()));
        view->setFirstVisibleLine(0);
        view->setSelection(view->lineIndex(3), 0);
        QTest::keyClick(view, Qt::Key_Up);
        QCOMPARE(view->caretLine(), 0);
        QCOMPARE(view->firstVisibleLine(), 0);
    }
};

QTEST_MAIN(NavigationTest)
#include "tst_navigation.moc"
