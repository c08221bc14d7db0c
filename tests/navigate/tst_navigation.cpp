// Find in the shown view, the line indicator, and the arrow keys that scroll at once.

#include "log/logview.h"
#include "navigate/finddialog.h"
#include "support/numberedlines.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QLineEdit>
#include <QToolButton>

using tlg::ByteOffset;
using tlg::FindDialog;
using tlg::LogView;
using tlg::MainWindow;
using tlg::testing::numberedLines;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

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
        LogView* view = window->log()->shownView();
        QCOMPARE(view, window->log()->view3()); // the search runs in whichever view is shown

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
        window->finder()->FindDialog1Find();
        QCOMPARE(view->selectionStart(), 17);
        window->finder()->FindDialog1Find();
        QCOMPARE(view->selectionStart(), 23); // on the next line
        // After the last occurrence nothing changes, and nothing is said.
        window->finder()->FindDialog1Find();
        QCOMPARE(view->selectionStart(), 23);
        QCOMPARE(view->selectionLength(), 4);
        QVERIFY(viewer.messages.isEmpty());

        // An occurrence right at the caret is found; earlier ones are not.
        view->setSelection(17, 0);
        window->finder()->FindDialog1Find();
        QCOMPARE(view->selectionStart(), 17);
        view->setSelection(18, 0);
        dialog->setFindText(QStringLiteral("ALPHA"));
        window->finder()->FindDialog1Find();
        QCOMPARE(view->selectionStart(), 18);
        QCOMPARE(view->selectionLength(), 0);

        // Inside words, and accented letters in either case.
        view->setSelection(0, 0);
        dialog->setFindText(QStringLiteral("ET"));
        window->finder()->FindDialog1Find();
        QCOMPARE(view->selectionStart(), 7);
        dialog->setFindText(QStringLiteral("\u00E9t\u00E9"));
        window->finder()->FindDialog1Find();
        QCOMPARE(view->selectionStart(), 28);

        // Ctrl+F in the main window brings the dialog back.
        dialog->close();
        QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(dialog->isVisible());
    }

    void anEmptyViewFindsNothing()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        viewer.find<FindDialog>("FindDialog1")->setFindText(QStringLiteral("x"));
        window->finder()->FindDialog1Find();
        QCOMPARE(window->log()->shownView()->selectionLength(), 0);
        QCOMPARE(window->log()->shownView()->caretOffset(), 0);
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
        window->finder()->FindDialog1Find();
        LogView* view = window->log()->shownView();
        QTRY_COMPARE(view->selectionStart(), ByteOffset(text.size() - 18));
        QCOMPARE(view->selectionLength(), 6);
        QVERIFY(view->caretPixelPos().y() < view->viewport()->height());
    }

    void theIndicatorShowsTheCaretLineAndTheLineCount()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "lines.log", QByteArray::fromStdString(numberedLines(100)));
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        LogView* view = window->log()->shownView();
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
        QCOMPARE(window->log()->watchState().SavedCaretLine, 2);
    }

    void arrowKeysJumpToTheEdgeOfTheView()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "keys.log", QByteArray::fromStdString(numberedLines(400)));
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        LogView* view = window->log()->shownView();
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
