#include "log/logview.h"
#include "support/numberedlines.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using tlg::ByteOffset;
using tlg::DocumentPtr;
using tlg::LogDocument;
using tlg::LogView;
using tlg::testing::numberedLines;

namespace {

DocumentPtr doc(const std::string& bytes)
{
    return LogDocument::fromBytes(bytes);
}

} // namespace

class LogViewTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_view = new LogView();
        m_view->resize(400, 300);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view));
    }
    void cleanup() { delete m_view; }

    void linesAndCaret_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<qint64>("line1Index");
        QTest::addColumn<qint64>("endLine");
        QTest::newRow("lf") << QByteArray("ab\ncd\n") << qint64(2) << qint64(3) << qint64(2);
        QTest::newRow("crlf") << QByteArray("ab\r\ncd\r\n") << qint64(2) << qint64(4) << qint64(2);
        QTest::newRow("no final break") << QByteArray("ab\r\ncd") << qint64(2) << qint64(4) << qint64(1);
        QTest::newRow("lone cr") << QByteArray("ab\rcd\r") << qint64(2) << qint64(3) << qint64(2);
    }
    void linesAndCaret()
    {
        QFETCH(QByteArray, text);
        QFETCH(qint64, lines);
        QFETCH(qint64, line1Index);
        QFETCH(qint64, endLine);
        m_view->setDocument(doc(text.toStdString()));
        QCOMPARE(m_view->text(), text.toStdString());
        QCOMPARE(m_view->lineCount(), lines);
        QCOMPARE(m_view->lineIndex(0), 0);
        QCOMPARE(m_view->lineIndex(1), line1Index);
        QCOMPARE(m_view->lineIndex(99), ByteOffset(text.size()));

        m_view->setSelection(line1Index, 0);
        QCOMPARE(m_view->caretLine(), 1);
        // The caret line is the line of the selection's end.
        m_view->setSelection(0, line1Index);
        QCOMPARE(m_view->caretLine(), 1);
        m_view->setSelection(ByteOffset(text.size()), 0);
        QCOMPARE(m_view->caretLine(), endLine);

        // Out-of-range selections are clamped into the text.
        m_view->setSelection(1, 1000);
        QCOMPARE(m_view->selectionStart(), 1);
        QCOMPARE(m_view->selectionLength(), ByteOffset(text.size()) - 1);
        m_view->setSelection(-3, 1);
        QCOMPARE(m_view->selectionStart(), 0);
    }

    void keysMoveOverWholeLineBreaks()
    {
        m_view->setDocument(doc("abc\r\nde\nfghij"));
        m_view->setFocus();
        m_view->setSelection(3, 0); // end of "abc"
        QTest::keyClick(m_view, Qt::Key_Right);
        QCOMPARE(m_view->caretOffset(), 5); // past CR LF, never between them
        QTest::keyClick(m_view, Qt::Key_Left);
        QCOMPARE(m_view->caretOffset(), 3);
        QTest::keyClick(m_view, Qt::Key_Down); // column 3 on "de" is its end
        QCOMPARE(m_view->caretOffset(), 7);
        QTest::keyClick(m_view, Qt::Key_Down); // the kept column 3 on "fghij"
        QCOMPARE(m_view->caretOffset(), 11);
        QTest::keyClick(m_view, Qt::Key_Home);
        QCOMPARE(m_view->caretOffset(), 8);
        QTest::keyClick(m_view, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(m_view->selectionStart(), 8);
        QCOMPARE(m_view->selectionLength(), 5);
        QTest::keyClick(m_view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(m_view->caretOffset(), 0);
        QCOMPARE(m_view->selectionLength(), 0);
        QTest::keyClick(m_view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(m_view->caretOffset(), 13);
        QTest::keyClick(m_view, Qt::Key_Up);
        QCOMPARE(m_view->caretLine(), 1);
    }

    void keySignalComesBeforeTheMoveAndClickSignalAfter()
    {
        m_view->setDocument(doc(numberedLines(50)));
        m_view->setFocus();
        ByteOffset caretAtSignal = -1;
        connect(m_view, &LogView::keyPressed, this, [&] { caretAtSignal = m_view->caretOffset(); });
        QTest::keyClick(m_view, Qt::Key_Down);
        QCOMPARE(caretAtSignal, 0);
        QCOMPARE(m_view->caretLine(), 1);

        tlg::LineNumber lineAtClick = -1;
        connect(m_view, &LogView::mousePressed, this, [&] { lineAtClick = m_view->caretLine(); });
        const int h = m_view->lineHeight();
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(5, 3 * h + h / 2));
        QCOMPARE(lineAtClick, 3);
        QCOMPARE(m_view->caretLine(), 3);
    }

    void scrollingBringsTheCaretIntoSight()
    {
        m_view->setDocument(doc(numberedLines(1000, "\r\n")));
        const int rows = m_view->visibleRows();
        QVERIFY(rows > 3);
        m_view->setSelection(m_view->lineIndex(500), 0);
        m_view->scrollCaretIntoView();
        QVERIFY(m_view->firstVisibleLine() <= 500);
        QVERIFY(m_view->firstVisibleLine() + rows > 500);
        const int y = m_view->caretPixelPos().y();
        QVERIFY(y >= 0 && y < m_view->viewport()->height());

        // The end of a text with a final break is the empty line after it.
        m_view->setSelection(m_view->lineIndex(m_view->lineCount()), 0);
        m_view->scrollCaretIntoView();
        QCOMPARE(m_view->caretLine(), 1000);
        QCOMPARE(m_view->firstVisibleLine(), 1000 - rows + 1);

        // Back at the top, the caret is on the view's first row.
        m_view->setSelection(0, 0);
        m_view->scrollCaretIntoView();
        QCOMPARE(m_view->firstVisibleLine(), 0);
        QCOMPARE(m_view->caretPixelPos().y(), 0);
    }

    void wordWrapReachesTheEndOfALongLine()
    {
        const std::string longLine(5000, 'w');
        m_view->setDocument(doc("short\n" + longLine + "\nlast"));
        m_view->setWordWrap(true);
        QVERIFY(m_view->wordWrap());
        m_view->setSelection(6 + 4990, 0); // near the end of the long line
        m_view->scrollCaretIntoView();
        const int y = m_view->caretPixelPos().y();
        QVERIFY(y >= 0 && y < m_view->viewport()->height());
        QCOMPARE(m_view->caretLine(), 1);
        // Down from the long line's last row goes to the next line.
        m_view->setFocus();
        m_view->setSelection(6 + 5000, 0);
        QTest::keyClick(m_view, Qt::Key_Down);
        QCOMPARE(m_view->caretLine(), 2);

        m_view->setWordWrap(false);
        m_view->setSelection(6 + 4990, 0);
        m_view->scrollCaretIntoView();
        const QPoint caret = m_view->caretPixelPos();
        QVERIFY(caret.x() >= 0 && caret.x() < m_view->viewport()->width());
    }

    void wrappedRowEdgesKeepTheCaretMoving()
    {
        m_view->setWordWrap(true);
        const std::int64_t width = m_view->visibleColumns();
        QVERIFY(width > 4);
        // A line exactly one row wide, then a line two rows wide.
        const std::string first(static_cast<std::size_t>(width), 'a');
        const std::string second(static_cast<std::size_t>(2 * width), 'b');
        m_view->setDocument(doc(first + "\n" + second + "\nc"));
        m_view->setFocus();
        const ByteOffset secondStart = width + 1;
        const int h = m_view->lineHeight();

        // From the end of the two-row line, Up climbs one row at a time.
        m_view->setSelection(secondStart + 2 * width, 0);
        m_view->scrollCaretIntoView();
        int y = m_view->caretPixelPos().y();
        QTest::keyClick(m_view, Qt::Key_Up);
        QCOMPARE(m_view->caretLine(), 1);
        QCOMPARE(m_view->caretPixelPos().y(), y - h);
        QVERIFY(m_view->caretOffset() < secondStart + width); // on its first row
        QTest::keyClick(m_view, Qt::Key_Up);
        QCOMPARE(m_view->caretLine(), 0);
        QCOMPARE(m_view->caretPixelPos().y(), y - 2 * h);

        // From the end of the one-row line, Down lands on the next line's first row.
        m_view->setSelection(width, 0);
        y = m_view->caretPixelPos().y();
        QTest::keyClick(m_view, Qt::Key_Down);
        QCOMPARE(m_view->caretLine(), 1);
        QCOMPARE(m_view->caretPixelPos().y(), y + h);
        QTest::keyClick(m_view, Qt::Key_Down);
        QCOMPARE(m_view->caretPixelPos().y(), y + 2 * h);
        QTest::keyClick(m_view, Qt::Key_Down);
        QCOMPARE(m_view->caretLine(), 2);
    }

    void tabsWidenTheHorizontalScrollRange()
    {
        const std::string line = std::string(200, '\t') + "END";
        m_view->setDocument(doc(line));
        const std::int64_t width = 200 * 8 + 3;
        QCOMPARE(m_view->horizontalScrollBar()->maximum(), int(width + 1 - m_view->visibleColumns()));
        m_view->setSelection(ByteOffset(line.size()), 0);
        m_view->scrollCaretIntoView();
        const int x = m_view->caretPixelPos().x();
        QVERIFY(x >= 0 && x < m_view->viewport()->width());
    }

    void copiesTheSelectionDecodedFromWindows1252()
    {
        m_view->setDocument(doc("x caf\xE9 \x80 5\n"));
        m_view->setSelection(2, 8);
        m_view->copy();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("caf\u00E9 \u20AC 5"));
        m_view->selectAll();
        QCOMPARE(m_view->selectionLength(), 11);
    }

    void paintsTextInTheBaseColourOnTheBackground()
    {
        std::string text = "tab\there";
        text += std::string("\0nul\x81", 5);
        text += "\n" + std::string(100000, 'z');
        m_view->setDocument(doc(text));
        m_view->setBaseTextColour(QColor(0, 0, 128));
        m_view->setBackgroundColour(QColor(192, 192, 192));
        const QImage image = m_view->viewport()->grab().toImage();
        bool sawBackground = false;
        bool sawText = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                sawBackground |= pixel == QColor(192, 192, 192);
                sawText |= pixel.blue() > pixel.red() + 40; // navy or a blend of it
            }
        }
        QVERIFY(sawBackground);
        QVERIFY(sawText);
    }

private:
    LogView* m_view = nullptr;
};

QTEST_MAIN(LogViewTest)
#include "tst_logview.moc"
