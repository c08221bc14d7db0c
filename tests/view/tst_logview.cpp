#include "document/logdocument.h"
#include "view/logview.h"
#include "document/keptlines.h"
#include "support/numberedlines.h"
#include "support/syntheticlines.h"
#include "support/tempdir.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

// The view takes and gives offsets as plain integers.
using ByteOffset = std::int64_t;
using tlg::ColourRules;
using tlg::DocumentPtr;
using tlg::Encoding;
using tlg::LogDocument;
using tlg::LogView;
using tlg::testing::numberedLines;

namespace {

DocumentPtr doc(const std::string& bytes)
{
    return LogDocument::fromBytes(bytes);
}

// Reads of one file descriptor, counted where they reach the system: a document read from a
// file reads through pread, so its largest read tells how much it was asked for at once.
struct ReadCount {
    int fd = -1;
    std::size_t largest = 0;
    std::size_t total = 0;
};
ReadCount g_reads;

void countRead(int fd, std::size_t bytes)
{
    if (fd != g_reads.fd)
        return;
    g_reads.largest = std::max(g_reads.largest, bytes);
    g_reads.total += bytes;
}

// Sizes at which a line of a few KiB is already long, read in windows of a few KiB.
LogView::LongLineSizes smallWindows()
{
    LogView::LongLineSizes sizes;
    sizes.longLine = 4096;
    sizes.checkpointBytes = 4096;
    sizes.colourReach = 2048;
    sizes.scanChunk = 8192;
    return sizes;
}

// A file of tiny cache blocks, so that a stretch of a few KiB already crosses them.
DocumentPtr openPaged(const std::string& path, int* fd = nullptr)
{
    tlg::FileHandle file = tlg::OpenForReading(path);
    struct stat st {};
    ::fstat(file.fd(), &st);
    if (fd)
        *fd = file.fd();
    tlg::PagingSizes sizes;
    sizes.cacheBlock = 4096;
    sizes.cacheBlocks = 4;
    sizes.hashBlock = 4096;
    return LogDocument::fromFile(std::move(file), path, {st.st_dev, st.st_ino, true}, nullptr, sizes);
}

// A long line of words of every length, some longer than the windows the view reads, with
// labels inside them and near the seams, tabs and control bytes; in UTF-8 also accented,
// wide and combined characters, an emoji sequence and an invalid byte.
std::string longLine(bool utf8, bool spaces, std::size_t bytes)
{
    std::string line;
    unsigned seed = 7;
    auto next = [&seed](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    const char* pieces[] = {"info", "FAIL", "ab", "x ERR", "\t", "\x01", "zz"};
    const char* wide[] = {"\xC3\xA9", "\xE6\x9C\x8D", "\xF0\x9F\x98\x80", "e\xCC\x81",
                          "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB", "\xFF"};
    while (line.size() < bytes) {
        // Now and then a word far longer than a window, with or without a label in it.
        const std::size_t length = next(20) == 0 ? 400 + next(3000) : 1 + next(30);
        const std::size_t labelAt = next(3) == 0 ? next(static_cast<unsigned>(length)) : length;
        for (std::size_t i = 0; i < length; ++i) {
            if (i == labelAt)
                line += pieces[next(2)];
            else if (utf8 && next(4) == 0)
                line += wide[next(6)];
            else if (next(40) == 0)
                line += pieces[2 + next(5)];
            else
                line += static_cast<char>('a' + next(26));
        }
        if (spaces)
            line += ' ';
    }
    if (!spaces)
        line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; }), line.end());
    return line;
}

} // namespace

// Every pread and pread64 of the program passes here first.
extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset)
{
    using Pread = ssize_t (*)(int, void*, size_t, off64_t);
    static const auto real = reinterpret_cast<Pread>(::dlsym(RTLD_NEXT, "pread64"));
    countRead(fd, count);
    return real(fd, buffer, count, offset);
}

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset)
{
    return pread64(fd, buffer, count, offset);
}

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

    // Marks: M, Ctrl+F2 and the gutter set and take them away; F2 and Shift+F2 go between them;
    // a log that grew keeps them.
    void linesAreMarkedAndVisited()
    {
        const std::string text = numberedLines(100);
        m_view->setDocument(doc(text));
        m_view->setLineNumbersShown(true);
        QSignalSpy changed(m_view, &LogView::lineMarksChanged);
        m_view->setSelection(m_view->lineIndex(10), 0);
        QTest::keyClick(m_view, Qt::Key_M);
        m_view->setSelection(m_view->lineIndex(40), 0);
        QTest::keyClick(m_view, Qt::Key_F2, Qt::ControlModifier);
        auto* gutter = m_view->findChild<QWidget*>(QStringLiteral("LineNumberGutter"));
        QCOMPARE(m_view->firstVisibleLine(), 0);
        QTest::mouseClick(gutter, Qt::LeftButton, {}, QPoint(5, 2 * m_view->lineHeight() + 2)); // beside line 2
        QCOMPARE(m_view->lineMarks(), (std::set<std::int64_t>{2, 10, 40}));
        QCOMPARE(changed.size(), 3);

        m_view->setSelection(m_view->lineIndex(5), 0);
        QTest::keyClick(m_view, Qt::Key_F2);
        QCOMPARE(m_view->caretLine(), 10);
        QTest::keyClick(m_view, Qt::Key_F2);
        QCOMPARE(m_view->caretLine(), 40);
        QTest::keyClick(m_view, Qt::Key_F2); // none after: the caret stays
        QCOMPARE(m_view->caretLine(), 40);
        QTest::keyClick(m_view, Qt::Key_F2, Qt::ShiftModifier);
        QCOMPARE(m_view->caretLine(), 10);
        QTest::keyClick(m_view, Qt::Key_M); // taken away
        QCOMPARE(m_view->lineMarks(), (std::set<std::int64_t>{2, 40}));

        m_view->setDocument(LogDocument::fromBytes(text)->appended("more\n"));
        QCOMPARE(m_view->lineMarks(), (std::set<std::int64_t>{2, 40}));
    }

    // The scroll bar holds an int: a log past 2^31 lines is scrolled in steps of a few lines,
    // and every line can still be the top one, whether the log holds them all or some.
    void aLogPastTwoBillionLinesScrollsToEveryLine()
    {
        const tlg::LineCount total = 3'000'000'000;
        const auto log = std::make_shared<tlg::testing::SyntheticLines>(total);
        for (const tlg::LinesPtr& lines :
             {tlg::LinesPtr(log), tlg::LinesPtr(tlg::KeptLines::ofRanges(log, {{0, 10}, {600'000'000, tlg::EndLine(total)}}))}) {
            m_view->setDocument(lines);
            m_view->setLineNumbersShown(true);
            QScrollBar* bar = m_view->verticalScrollBar();
            QTest::keyClick(m_view, Qt::Key_End, Qt::ControlModifier);
            QCOMPARE(m_view->caretLine(), lines->lineCount());
            QVERIFY(m_view->firstVisibleLine() + m_view->visibleRows() > lines->lineCount() - 1);
            QVERIFY(bar->maximum() > 0);
            QCOMPARE(bar->value(), bar->maximum());
            QCOMPARE(m_view->lineText(lines->lineCount().value() - 1), QString::fromStdString(tlg::testing::SyntheticLines::lineOf(tlg::EndLine(total) - 1)));

            const double linesPerStep = double(lines->lineCount()) / bar->maximum();
            bar->setValue(bar->maximum() / 2);
            QVERIFY(std::abs(double(m_view->firstVisibleLine()) - lines->lineCount().value() / 2.0) <= linesPerStep + m_view->visibleRows());

            const std::int64_t top = lines->lineCount().value() - 1'000'000'000;
            m_view->setFirstVisibleLine(top);
            QCOMPARE(m_view->firstVisibleLine(), top);
            QVERIFY(std::abs(bar->value() - top / linesPerStep) <= m_view->visibleRows() + 2);
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            QVERIFY(m_view->firstVisibleLine() > top);
            QVERIFY(m_view->firstVisibleLine() <= top + 2 * linesPerStep + 1);
        }
    }

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

        // Over the limit the copy is refused with a word, and the clipboard keeps what it had.
        QSignalSpy said(m_view, &tlg::LogView::statusMessage);
        m_view->setCopyLimit(10);
        m_view->copy();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("caf\u00E9 \u20AC 5"));
        QCOMPARE(said.count(), 1);
        QVERIFY(said.first().first().toString().startsWith(QStringLiteral("Selection too large to copy")));
        m_view->setSelection(2, 8);
        m_view->copy();
        QCOMPARE(said.count(), 1);
        m_view->setCopyLimit(tlg::LogView::kCopyLimit);
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

    void showsUtf8AsCharacters()
    {
        // Latin with accents, Cyrillic, Chinese, an emoji, a combining accent, and bytes that
        // are not UTF-8: each byte is shown, none merged into its neighbours.
        const std::string line = "Caf\xC3\xA9 \xD0\x96\xE6\x9C\x8D\xF0\x9F\x98\x80 e\xCC\x81 \xE9\x80!\t\x01";
        m_view->setDocument(doc(line + "\r\nnext"));
        // As Windows-1252 (the view's start), one character a byte.
        QCOMPARE(m_view->lineText(0).size(), qsizetype(line.size()));
        QCOMPARE(m_view->lineText(0).left(5), QStringLiteral(u"Caf\u00C3\u00A9"));
        m_view->setEncoding(Encoding::Utf8);
        QCOMPARE(m_view->lineText(0), QStringLiteral(u"Caf\u00E9 \u0416\u670D\U0001F600 e\u0301 \u00E9\u20AC!\t\u2401"));
        QCOMPARE(m_view->lineText(1), QStringLiteral("next"));
        QCOMPARE(m_view->lineText(2), QString());
        // 16-bit logs are held as UTF-8.
        m_view->setEncoding(Encoding::Utf16Le);
        QCOMPARE(m_view->encoding(), Encoding::Utf8);
        // ISO-8859-1 has no characters at 0x80 to 0x9F.
        m_view->setDocument(doc("\xE9\x80"));
        m_view->setEncoding(Encoding::Iso8859_1);
        QCOMPARE(m_view->lineText(0), QStringLiteral(u"\u00E9\uFFFD"));
    }

    void caretAndSelectionFollowCharacters()
    {
        // "a", 服 (3 bytes, 2 columns), Ж (2 bytes), the face (4 bytes, 2 columns), "z".
        const std::string text = "a\xE6\x9C\x8D\xD0\x96\xF0\x9F\x98\x80z\nnext";
        m_view->setEncoding(Encoding::Utf8);
        m_view->setDocument(doc(text));
        m_view->setFocus();
        const ByteOffset stops[] = {0, 1, 4, 6, 10, 11};
        for (std::size_t i = 1; i < std::size(stops); ++i) {
            QTest::keyClick(m_view, Qt::Key_Right);
            QCOMPARE(m_view->caretOffset(), stops[i]);
        }
        for (std::size_t i = std::size(stops) - 1; i > 0; --i) {
            QTest::keyClick(m_view, Qt::Key_Left);
            QCOMPARE(m_view->caretOffset(), stops[i - 1]);
        }
        // Shift+Right selects whole characters, and the caret stands after the wide ones.
        m_view->setSelection(1, 0);
        QTest::keyClick(m_view, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(m_view->selectionStart(), 1);
        QCOMPARE(m_view->selectionLength(), 3);
        // Columns: 服 and the face take two each.
        auto xAt = [&](ByteOffset offset) {
            m_view->setSelection(offset, 0);
            return m_view->caretPixelPos().x();
        };
        const int x0 = xAt(0);
        QVERIFY(qAbs((xAt(10) - x0) - 2 * (xAt(4) - x0)) <= 1); // column 6 against column 3
        QVERIFY(qAbs((xAt(6) - x0) - 4 * (xAt(1) - x0)) <= 2);  // column 4 against column 1
        const int cell = xAt(1) - x0;
        QVERIFY(cell > 0);

        // A click anywhere on a character lands before or after it, never inside.
        const int y = m_view->lineHeight() / 2;
        for (int x = 0; x < 8 * cell; ++x) {
            QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(x, y));
            const ByteOffset at = m_view->caretOffset();
            QVERIFY2(std::find(std::begin(stops), std::end(stops), at) != std::end(stops),
                     qPrintable(QStringLiteral("x %1 put the caret at byte %2").arg(x).arg(at)));
        }
        // Down from the face keeps its column on the next line.
        m_view->setSelection(6, 0);
        QTest::keyClick(m_view, Qt::Key_Down);
        QCOMPARE(m_view->caretLine(), 1);
        QCOMPARE(m_view->caretOffset(), 12 + 4);

        // Copying gives the characters.
        m_view->setSelection(1, 9);
        m_view->copy();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral(u"\u670D\u0416\U0001F600"));
    }

    void coloursFollowCharactersAndLabelsMatchInTheLogsEncoding()
    {
        // The labels come as the format file holds them, in Windows-1252: "café" is an error
        // label, "Info" an info label. Letter case is ignored for a to z only.
        auto rules = std::make_shared<ColourRules>();
        rules->errorLabels[0] = "caf\xE9";
        rules->infoLabels[0] = "info";
        rules->infoLabels[1] = "x\xDE"; // xÞ
        const std::string text = "\xE6\x9C\x8D CAF\xC3\xA9! \xD0\x96INFO\xF0\x9F\x98\x80 caf\xC3\x89 x\xC3\x8E\n";
        m_view->setEncoding(Encoding::Utf8);
        m_view->setDocument(doc(text), rules);
        const QColor red = QColor::fromRgb(tlg::kErrorRgb);
        const QColor blue = QColor::fromRgb(tlg::kInfoRgb);
        const QColor base = m_view->baseTextColour();
        QCOMPARE(m_view->colourAt(0), base);          // 服
        QCOMPARE(m_view->colourAt(4), red);           // "CAFé!" holds the label
        QCOMPARE(m_view->colourAt(8), red);           // its é, both bytes
        QCOMPARE(m_view->colourAt(12), blue);         // ЖINFO😀 holds "info"
        QCOMPARE(m_view->colourAt(18), blue);         // the face's bytes with it
        QCOMPARE(m_view->colourAt(23), base);         // "cafÉ": É is not é outside a to z
        QCOMPARE(m_view->colourAt(29), base);         // "xÎ" is not "xÞ", whose bytes the
                                                      // Windows-1252 table would confuse
        // The same labels on the Windows-1252 text of the same words.
        m_view->setEncoding(Encoding::Windows1252);
        m_view->setDocument(doc("x CAF\xE9 y\n"), rules);
        QCOMPARE(m_view->colourAt(2), red);
        // A label with no character in ISO-8859-1 matches nothing, not a "?".
        rules->errorLabels[0] = "\x80";
        m_view->setEncoding(Encoding::Iso8859_1);
        m_view->setDocument(doc("a ? b\n"), rules);
        QCOMPARE(m_view->colourAt(2), base);
    }

    void wordWrapBreaksBetweenWords()
    {
        m_view->setWordWrap(true);
        const std::int64_t width = m_view->visibleColumns();
        QVERIFY(width > 12);
        // Words of five letters and a space: a row holds as many whole words as fit.
        std::string line;
        for (int i = 0; i < 40; ++i)
            line += "word" + std::to_string(i % 10) + " ";
        m_view->setDocument(doc(line + "\n" + std::string(static_cast<std::size_t>(3 * width), 'x') + "\n"));
        const std::int64_t wordsPerRow = (width + 1) / 6;
        const ByteOffset secondRow = wordsPerRow * 6;
        m_view->setSelection(secondRow, 0);
        QCOMPARE(m_view->caretPixelPos().y(), m_view->lineHeight());
        QVERIFY(m_view->caretPixelPos().x() <= 2);
        m_view->setSelection(secondRow - 1, 0); // before the hanging space
        QCOMPARE(m_view->caretPixelPos().y(), 0);
        // A word longer than the view breaks inside it.
        const ByteOffset longWord = static_cast<ByteOffset>(line.size()) + 1;
        m_view->setSelection(longWord + width, 0);
        m_view->scrollCaretIntoView();
        const int rowOfBreak = m_view->caretPixelPos().y();
        m_view->setSelection(longWord + width - 1, 0);
        QCOMPARE(m_view->caretPixelPos().y(), rowOfBreak - m_view->lineHeight());
    }

    void turningWrapOnOrOffKeepsTheCaretsLineInSight()
    {
        std::string text;
        for (int i = 0; i < 300; ++i)
            text += "line " + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i % 7) * 40, 'w') + " end\n";
        m_view->setDocument(doc(text));
        m_view->setFocus();
        for (const bool wrap : {true, false, true, false}) {
            m_view->setSelection(m_view->lineIndex(wrap ? 250 : 40) + 3, 0);
            m_view->scrollCaretIntoView();
            const int before = m_view->caretPixelPos().y();
            m_view->setWordWrap(wrap);
            const int y = m_view->caretPixelPos().y();
            QVERIFY2(y >= 0 && y + m_view->lineHeight() <= m_view->viewport()->height(),
                     qPrintable(QStringLiteral("wrap %1: caret at %2, was %3").arg(wrap).arg(y).arg(before)));
        }
        // A caret out of sight comes into sight.
        m_view->setSelection(m_view->lineIndex(10), 0);
        m_view->setFirstVisibleLine(200);
        m_view->setWordWrap(true);
        const int y = m_view->caretPixelPos().y();
        QVERIFY(y >= 0 && y < m_view->viewport()->height());
    }

    void longUtf8LinesAreMeasuredFromRememberedPoints()
    {
        // A line of 40,000 wide characters (120,000 bytes) is walked from points remembered
        // along it; the answers must be those of a walk from its start.
        std::string line;
        for (int i = 0; i < 40000; ++i)
            line += "\xE6\x9C\x8D";
        line += "end";
        m_view->setEncoding(Encoding::Utf8);
        m_view->setDocument(doc(line + "\n"));
        m_view->setFocus();
        const ByteOffset middle = 3 * 30001;
        m_view->setSelection(middle, 0);
        m_view->scrollCaretIntoView();
        const QPoint caret = m_view->caretPixelPos();
        QVERIFY(caret.x() >= 0 && caret.x() < m_view->viewport()->width());
        QTest::keyClick(m_view, Qt::Key_Right);
        QCOMPARE(m_view->caretOffset(), middle + 3);
        QTest::keyClick(m_view, Qt::Key_Left);
        QTest::keyClick(m_view, Qt::Key_Left);
        QCOMPARE(m_view->caretOffset(), middle - 3);
        // A click on the caret's place puts it back there, on a character's edge.
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(caret.x() + 1, caret.y() + 2));
        QCOMPARE(m_view->caretOffset(), middle);
        // Wrapped, the line takes two columns a character.
        m_view->setWordWrap(true);
        const std::int64_t perRow = m_view->visibleColumns() / 2;
        m_view->setSelection(3 * 30000 + 3 * 2 * perRow, 0);
        const int y = m_view->caretPixelPos().y();
        m_view->setSelection(3 * 30000, 0);
        QVERIFY(qAbs(y - m_view->caretPixelPos().y()) >= m_view->lineHeight());
    }


    void longLinesReadByWindowsAnswerAsWholeLines_data()
    {
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<bool>("spaces");
        QTest::addColumn<bool>("wrap");
        QTest::newRow("single-byte") << false << true << false;
        QTest::newRow("utf-8") << true << true << false;
        QTest::newRow("one word, wrapped") << false << false << true;
        QTest::newRow("utf-8, wrapped") << true << true << true;
    }
    void longLinesReadByWindowsAnswerAsWholeLines()
    {
        // The same line read by tiny windows and read whole must give the same colours,
        // columns, caret steps, word selection and picture, across every seam.
        QFETCH(bool, utf8);
        QFETCH(bool, spaces);
        QFETCH(bool, wrap);
        const std::string line = longLine(utf8, spaces, 150000);
        const std::string text = "first line\n" + line + "\r\nlast FAIL line\n";
        tlg::testing::TempDir folder;
        const DocumentPtr document = openPaged(folder.write("long.log", text));
        const ByteOffset lineStart = 11;
        const auto length = static_cast<ByteOffset>(line.size());

        auto rules = std::make_shared<ColourRules>();
        rules->infoLabels[0] = "info";
        rules->errorLabels[0] = "fail";
        rules->errorLabels[1] = "x err";
        LogView windowed;
        LogView whole;
        LogView::LongLineSizes tiny;
        tiny.longLine = 1000;
        tiny.checkpointBytes = 777;
        tiny.colourReach = 300;
        tiny.scanChunk = 1000;
        windowed.setLongLineSizes(tiny);
        LogView::LongLineSizes never;
        never.longLine = std::size_t(1) << 40;
        whole.setLongLineSizes(never);
        for (LogView* view : {&windowed, &whole}) {
            view->resize(420, 240);
            view->setEncoding(utf8 ? Encoding::Utf8 : Encoding::Windows1252);
            view->setDocument(document, rules);
            view->setLineNumbersShown(true);
            view->setWordWrap(wrap);
            view->show();
            QVERIFY(QTest::qWaitForWindowExposed(view));
        }

        // Colours, at a stride and on both sides of the seams of remembered points and windows.
        std::vector<ByteOffset> offsets;
        for (ByteOffset at = 0; at < length; at += 97)
            offsets.push_back(at);
        for (ByteOffset seam = 777; seam < length; seam += 777) {
            for (ByteOffset near : {seam - 1, seam, seam + 1})
                offsets.push_back(near);
        }
        int coloured = 0;
        for (ByteOffset at : offsets) {
            const QColor colour = windowed.colourAt(lineStart + at);
            QCOMPARE(colour, whole.colourAt(lineStart + at));
            coloured += colour != windowed.baseTextColour();
        }
        // A line without spaces is one word, and it holds labels.
        if (spaces)
            QVERIFY(coloured > 0 && coloured < static_cast<int>(offsets.size()));
        else
            QCOMPARE(coloured, static_cast<int>(offsets.size()));

        // A line read whole is wrapped between words, a long one at the width: only a line
        // without spaces wraps alike both ways. A long line's rows are a width each.
        const bool alike = !wrap || !spaces;

        // The caret: where it is painted, and where Left, Right, Down and Up take it.
        for (ByteOffset at = 0; at < length; at += 4999) {
            for (LogView* view : {&windowed, &whole}) {
                view->setFocus();
                view->setSelection(lineStart + at, 0);
                view->scrollCaretIntoView();
            }
            if (alike) {
                // The same place on screen, and the view scrolled as far sideways.
                QCOMPARE(windowed.caretPixelPos(), whole.caretPixelPos());
                QCOMPARE(windowed.horizontalScrollBar()->value(), whole.horizontalScrollBar()->value());
            }
            for (Qt::Key key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Left, Qt::Key_Down, Qt::Key_Up}) {
                const QPoint before = windowed.caretPixelPos();
                QTest::keyClick(&windowed, key);
                QTest::keyClick(&whole, key);
                if (alike || key == Qt::Key_Left || key == Qt::Key_Right)
                    QCOMPARE(windowed.caretOffset(), whole.caretOffset());
                if (wrap && key == Qt::Key_Down && before.y() + 2 * windowed.lineHeight() <= windowed.viewport()->height())
                    QCOMPARE(windowed.caretPixelPos().y(), before.y() + windowed.lineHeight());
            }
            if (!alike)
                continue;
            // A double click selects the same word, however long.
            const QPoint caret = windowed.caretPixelPos() + QPoint(2, 2);
            QTest::mouseDClick(windowed.viewport(), Qt::LeftButton, {}, caret);
            QTest::mouseDClick(whole.viewport(), Qt::LeftButton, {}, caret);
            QCOMPARE(windowed.selectionStart(), whole.selectionStart());
            QCOMPARE(windowed.selectionLength(), whole.selectionLength());
        }
        if (!wrap) {
            // End of the line, and back home.
            for (Qt::Key key : {Qt::Key_End, Qt::Key_Home}) {
                QTest::keyClick(&windowed, key);
                QTest::keyClick(&whole, key);
                QCOMPARE(windowed.caretOffset(), whole.caretOffset());
                QCOMPARE(windowed.caretPixelPos(), whole.caretPixelPos());
            }
        }

        // The picture, gutter included, with a selection and marks crossing seams.
        if (alike) {
            for (ByteOffset at : {ByteOffset(0), length / 3, length - 200}) {
                for (LogView* view : {&windowed, &whole}) {
                    view->setSelection(lineStart + at, 0);
                    view->scrollCaretIntoView();
                    view->setSelection(lineStart + at - 700, 1500);
                    view->setMarkedText("ab");
                    view->clearFocus(); // only one window has the focus: neither shows its caret
                }
                QCOMPARE(windowed.grab().toImage(), whole.grab().toImage());
            }
        }
    }

    void paintingALongLineReadsOnlyWindows()
    {
        // No read of the long line larger than a window reaches the file: not while it is
        // measured, painted, scrolled through, wrapped, searched for marks or coloured.
        std::string text = "head line one\nhead line two\n";
        std::string line;
        while (line.size() < 400000)
            line += "word\tinfo " + std::string(300, 'x') + " FAIL ";
        text += line + "\ntail line\n";
        tlg::testing::TempDir folder;
        int fd = -1;
        const DocumentPtr document = openPaged(folder.write("long.log", text), &fd);
        m_view->setLongLineSizes(smallWindows());
        auto rules = std::make_shared<ColourRules>();
        rules->infoLabels[0] = "info";
        rules->errorLabels[0] = "fail";
        g_reads = {fd, 0, 0};
        m_view->setDocument(document, rules);
        m_view->setLineNumbersShown(true);
        m_view->setMarkedText("FAIL");
        m_view->setFocus();
        // The first paint, the line's start in sight, does not measure it.
        m_view->viewport()->repaint();
        QVERIFY2(g_reads.total < 64 * 1024, std::to_string(g_reads.total).c_str());
        for (bool wrap : {false, true}) {
            m_view->setWordWrap(wrap);
            for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_End, Qt::Key_PageDown, Qt::Key_Left,
                                Qt::Key_Home, Qt::Key_Right, Qt::Key_PageUp}) {
                QTest::keyClick(m_view, key, key == Qt::Key_PageDown ? Qt::ControlModifier : Qt::NoModifier);
                m_view->viewport()->repaint();
            }
            m_view->horizontalScrollBar()->setValue(m_view->horizontalScrollBar()->maximum() / 2);
            m_view->viewport()->repaint();
        }
        QTest::keyClick(m_view, Qt::Key_End, Qt::ControlModifier);
        m_view->viewport()->repaint();
        QCOMPARE(m_view->colourAt(static_cast<ByteOffset>(text.find("info", 200000))), QColor::fromRgb(tlg::kInfoRgb));
        QCOMPARE(m_view->colourAt(static_cast<ByteOffset>(text.find("FAIL", 300000))), QColor::fromRgb(tlg::kErrorRgb));
        QVERIFY2(g_reads.total > line.size(), "the line was measured once");
        QVERIFY2(g_reads.largest <= 16384, std::to_string(g_reads.largest).c_str());

        // Once measured, a paint in sight of the line reads a few windows only.
        m_view->setWordWrap(false);
        m_view->setSelection(28 + 300000, 0);
        m_view->scrollCaretIntoView();
        m_view->viewport()->repaint();
        g_reads.total = 0;
        m_view->setSelection(28 + 250000, 0);
        m_view->scrollCaretIntoView();
        m_view->viewport()->repaint();
        QVERIFY2(g_reads.total < 64 * 1024, std::to_string(g_reads.total).c_str());
        g_reads = {};
    }


    // A paint used to read a huge word through on the GUI thread to learn its colour (seconds
    // for a word of a GiB): it is now measured after the paint, beside the GUI thread, and the
    // view paints again once it is known. (This waited for a second paint, which never came
    // when the word was measured before the first paint was counted.)
    void aHugeWordIsColouredWithoutHoldingThePaint()
    {
        const std::string word = std::string(300000, 'x') + "fail" + std::string(1000, 'x');
        const std::string text = "short line\n" + word + "\n";
        tlg::testing::TempDir folder;
        const DocumentPtr document = openPaged(folder.write("word.log", text));
        m_view->setLongLineSizes(smallWindows());
        auto rules = std::make_shared<ColourRules>();
        rules->errorLabels[0] = "fail";
        m_view->setDocument(document, rules);
        // The word's first cells, painted: red (the glyphs' edges are blended).
        const auto redPainted = [this] {
            const QImage picture = m_view->viewport()->grab().toImage();
            for (int y = m_view->lineHeight(); y < 2 * m_view->lineHeight(); ++y) {
                for (int x = 0; x < picture.width(); ++x) {
                    const QColor pixel = picture.pixelColor(x, y);
                    if (pixel.red() > 150 && pixel.green() < 100 && pixel.blue() < 100)
                        return true;
                }
            }
            return false;
        };
        // The first paint does not wait for the word: its label lies far out of the window read.
        QVERIFY(!redPainted());
        QTRY_VERIFY_WITH_TIMEOUT(redPainted(), 60000);
        QCOMPARE(m_view->colourAt(static_cast<ByteOffset>(text.find('x'))), QColor::fromRgb(tlg::kErrorRgb));
    }

    // A log that grew keeps the view's place; a log whose lines map to the shown ones keeps it
    // on the lines that show the same; any other log starts at the top.
    void aNewDocumentKeepsThePlaceWhenItGrewOrIsMapped()
    {
        std::string text;
        for (int i = 0; i < 300; ++i)
            text += "line " + std::to_string(i) + (i % 2 == 0 ? std::string(150, 'w') : std::string()) + "\n";
        const DocumentPtr first = doc(text);
        auto rules = std::make_shared<ColourRules>();
        rules->infoLabels[0] = "line 1";
        for (bool wrap : {false, true}) {
            m_view->setWordWrap(wrap);
            // Appended to, so that it has room to grow into: what is appended to it grew from it.
            const DocumentPtr shown = doc(text.substr(0, 10))->appended(text.substr(10));
            m_view->setDocument(shown, rules);
            m_view->setFocus();
            // A caret at column 60 of line 150 goes down onto a short line and keeps column 60.
            m_view->setSelection(m_view->lineIndex(150) + 60, 0);
            m_view->scrollCaretIntoView();
            QTest::keyClick(m_view, Qt::Key_Down, Qt::ShiftModifier);
            m_view->setFirstVisibleLine(140);
            if (wrap)
                QTest::keyClick(m_view, Qt::Key_PageDown); // the top row in the middle of a line
            const std::int64_t start = m_view->selectionStart();
            const std::int64_t length = m_view->selectionLength();
            const QImage before = m_view->viewport()->grab().toImage();
            QSignalSpy changed(m_view, &LogView::documentChanged);
            QSignalSpy content(m_view, &LogView::contentChanged);
            const DocumentPtr grown = shown->appended("appended\n");
            QVERIFY(grown->grewFrom(*shown));
            m_view->setDocument(grown, rules);
            QCOMPARE(changed.size(), 1);
            QCOMPARE(content.size(), 1);
            QCOMPARE(m_view->selectionStart(), start);
            QCOMPARE(m_view->selectionLength(), length);
            QCOMPARE(m_view->viewport()->grab().toImage(), before);
            QTest::keyClick(m_view, Qt::Key_Down);
            if (!wrap)
                QCOMPARE(m_view->caretOffset(), m_view->lineIndex(152) + 60);
        }
        m_view->setWordWrap(false);

        // The lines kept by a filter, then more of them: the caret, the anchor and the top go
        // to the lines that show theirs.
        std::vector<tlg::LineNumber> even;
        std::vector<tlg::LineNumber> all;
        for (int i = 0; i < 300; ++i) {
            all.push_back(i);
            if (i % 2 == 0)
                even.push_back(i);
        }
        const auto kept = tlg::KeptLines::of(first, even);
        const auto more = tlg::KeptLines::of(first, all);
        const auto byLogLine = [](const tlg::LinesPtr& from, const tlg::LinesPtr& to) {
            return [from, to](tlg::LineNumber line) { return to->lineShowing(from->lineInLog(line)); };
        };
        m_view->setDocument(kept, rules);
        m_view->setSelection(m_view->lineIndex(40) + 2, m_view->lineIndex(50) + 3 - m_view->lineIndex(40) - 2);
        m_view->setFirstVisibleLine(35);
        m_view->setDocument(more, rules, byLogLine(kept, more));
        QCOMPARE(m_view->selectionStart(), m_view->lineIndex(80) + 2);
        QCOMPARE(m_view->caretOffset(), m_view->lineIndex(100) + 3);
        QCOMPARE(m_view->firstVisibleLine(), std::int64_t(70));
        // Line 100 is gone: the caret goes to the start of the next line shown; line 80 stays.
        std::vector<tlg::LineNumber> some;
        for (int i = 0; i < 300; ++i) {
            if ((i % 5 == 0 && i != 100) || i == 101)
                some.push_back(i);
        }
        const auto fewer = tlg::KeptLines::of(first, some);
        m_view->setDocument(fewer, rules, byLogLine(more, fewer));
        QCOMPARE(m_view->selectionStart(), m_view->lineIndex(16) + 2);
        QCOMPARE(m_view->caretOffset(), m_view->lineIndex(20));
        QCOMPARE(m_view->firstVisibleLine(), std::int64_t(14));
        // Without a mapping, a log that did not grow from the one shown starts at the top.
        m_view->setDocument(more, rules);
        QCOMPARE(m_view->caretOffset(), std::int64_t(0));
        QCOMPARE(m_view->firstVisibleLine(), std::int64_t(0));
    }

    void aGrowingLongLineIsMeasuredOnFromWhereItEnded()
    {
        // A log whose long last line grows: the view measures the new bytes only, and answers
        // as a view that measured the grown line afresh. UTF-8 with a character cut in two by
        // the old end, and marks joining the last character, so that the points just before
        // the end move.
        std::string line;
        while (line.size() < 300000)
            line += "ab\tc\xE6\x9C\x8D d\xC3\xA9" "e\xCC\x81 ";
        line += "e\xE6\x9C";
        tlg::testing::TempDir folder;
        const std::string path = folder.write("grows.log", "head\n" + line);
        int fd = -1;
        const DocumentPtr first = openPaged(path, &fd);
        LogView::LongLineSizes sizes;
        sizes.longLine = 4096;
        sizes.checkpointBytes = 4096;
        sizes.scanChunk = 8192;
        LogView fresh;
        for (LogView* view : {m_view, &fresh}) {
            view->setLongLineSizes(sizes);
            view->setEncoding(Encoding::Utf8);
        }
        m_view->setDocument(first);
        m_view->setFocus();
        QTest::keyClick(m_view, Qt::Key_End, Qt::ControlModifier);
        m_view->viewport()->repaint();

        std::ofstream(path, std::ios::binary | std::ios::app) << "\x8D\xCC\x81\xCC\x81 and more\tafter";
        const DocumentPtr grown = first->grown();
        QVERIFY(grown->size() > first->size());
        g_reads = {fd, 0, 0};
        m_view->setDocument(grown);
        QTest::keyClick(m_view, Qt::Key_End, Qt::ControlModifier);
        m_view->viewport()->repaint();
        QVERIFY2(g_reads.total < 64 * 1024, std::to_string(g_reads.total).c_str());
        g_reads = {};

        fresh.resize(m_view->size());
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        fresh.setDocument(grown);
        fresh.setFocus();
        QTest::keyClick(&fresh, Qt::Key_End, Qt::ControlModifier);
        // The grown view kept its place sideways: the fresh one is scrolled alike, so that the
        // caret stands in the same place when it stands at the same column.
        fresh.horizontalScrollBar()->setValue(m_view->horizontalScrollBar()->value());
        QCOMPARE(m_view->caretOffset(), fresh.caretOffset());
        QCOMPARE(m_view->caretPixelPos(), fresh.caretPixelPos());
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(m_view, Qt::Key_Left);
            QTest::keyClick(&fresh, Qt::Key_Left);
            QCOMPARE(m_view->caretOffset(), fresh.caretOffset());
            QCOMPARE(m_view->caretPixelPos(), fresh.caretPixelPos());
        }
    }

private:
    LogView* m_view = nullptr;
};

QTEST_MAIN(LogViewTest)
#include "tst_logview.moc"
