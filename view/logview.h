#pragma once

// The read-only view of a log document. It paints only the lines in sight and never copies
// the text into a QTextDocument, so that it opens logs of any size at once. Offsets are byte
// offsets into the document and lines count from 0.

#include "document/encoding.h"
#include "document/layoutcache.h"
#include "document/linesource.h"
#include "search/colourrules.h"
#include "search/textsearch.h"
#include "view/linecolours.h"
#include "view/linegutter.h"
#include "view/linerenderer.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QStringList>

#include <functional>
#include <memory>
#include <set>
#include <string>

class QMenu;
class QPainter;

namespace tlg {

class LogView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    using RulesPtr = std::shared_ptr<const ColourRules>;

    // Shows a document (shared, never copied), coloured by the rules (none: all in the base
    // text colour); a null document shows as empty. Emits contentChanged and documentChanged.
    // - The same document, or one that grew from the one shown (LineSource::grewFrom), keeps
    //   the caret, the selection, the top line and row, the horizontal position, the column
    //   kept by Up and Down, and what was measured of the lines; a caret on a character that
    //   the growth completed goes to its start.
    // - Else, given a mapping (the line of the new document that shows a shown line, or the
    //   first one after it that it shows), the caret, the anchor and the top line go to the
    //   lines that show theirs, clamped into the new document: at the same byte of the line
    //   where the line is still there and that long, else at the line's start. The horizontal
    //   position stays as far as the new lines are wide.
    // - Else the caret goes to the start, scrolled to the top and the left.
    using LineMapping = std::function<LineNumber(LineNumber shownLine)>;
    void setDocument(LinesPtr document, RulesPtr rules = nullptr);
    void setDocument(LinesPtr document, RulesPtr rules, const LineMapping& mapping);
    const LinesPtr& document() const { return m_document; }
    void clear() { setDocument(nullptr); }

    // How the document holds its characters: Windows-1252 (at start), ISO-8859-1 or UTF-8
    // (16-bit logs are held as UTF-8). The view decodes the lines it paints by it, and encodes
    // the colour rules' labels (held in Windows-1252) by it before matching them.
    void setEncoding(Encoding held);
    Encoding encoding() const { return m_encoding; }

    // The shown bytes, exactly as loaded.
    std::string text() const;
    // The characters the view shows for a line, without its line break: tabs as tabs, control
    // bytes as their visible stand-ins, bytes that are not valid UTF-8 as Windows-1252. It
    // reads the whole line, however long: the view's own painting and moves never call it.
    QString lineText(std::int64_t line) const;
    // Lines of the text, not counting the empty line after a final line break.
    std::int64_t lineCount() const { return m_document->lineCount().value(); }
    // Offset of a line's first byte; past the last line, the end of the text.
    std::int64_t lineIndex(std::int64_t line) const { return m_document->lineIndex(line).value(); }
    std::int64_t lineFromOffset(std::int64_t offset) const { return m_document->lineFromOffset(offset).value(); }

    // The selection runs between the anchor and the caret; its end is the larger of the two.
    std::int64_t caretOffset() const { return m_caret.value(); }
    std::int64_t selectionStart() const { return std::min(m_anchor, m_caret).value(); }
    std::int64_t selectionLength() const { return std::abs((m_caret - m_anchor).value()); }
    // The line that holds the end of the selection (the caret when nothing is selected).
    std::int64_t caretLine() const;
    // Selects `length` bytes from `start` (both clamped into the text), with the caret at the
    // end; length 0 just places the caret. Does not scroll.
    void setSelection(std::int64_t start, std::int64_t length);
    // Scrolls as little as needed to bring the caret into sight.
    void scrollCaretIntoView();

    // The first line in sight, how many whole rows fit in the view, and how many columns (the
    // width at which word wrap breaks rows).
    std::int64_t firstVisibleLine() const { return m_topLine.value(); }
    int visibleRows() const;
    std::int64_t visibleColumns() const;
    // The caret's position in viewport pixels (it may lie outside the viewport).
    QPoint caretPixelPos() const;
    int lineHeight() const { return m_renderer.lineHeight(); }

    void setWordWrap(bool on);
    bool wordWrap() const { return m_wordWrap; }
    void setBackgroundColour(const QColor& colour);
    QColor backgroundColour() const { return m_background; }
    void setBaseTextColour(const QColor& colour);
    QColor baseTextColour() const { return m_colours.baseColour(); }
    const RulesPtr& colourRules() const { return m_colours.rules(); }
    // Colours the same document by other rules (none: the base text colour), keeping the
    // caret, the selection and what is in sight.
    void setColourRules(RulesPtr rules);
    // The colour in which the byte at offset is painted (selection aside).
    // A line whose source gives it a level (lineLevel) is in that level's colour where no
    // label colours it, while colouring is on and the level's gate is open.
    QColor colourAt(std::int64_t offset) const;
    // Scrolls so that the line is the first in sight (as far as the text allows).
    void setFirstVisibleLine(std::int64_t line);

    // The menu shown on a right click; the view does not own it.
    void setContextMenu(QMenu* menu) { m_contextMenu = menu; }

    // A gutter at the left numbers the lines from 1 (by their numbers in the log, for a source
    // that shows some of its lines), on the first row of each line; off at start. It paints
    // only the rows in sight.
    void setLineNumbersShown(bool on);
    bool lineNumbersShown() const { return m_gutter->numbersShown(); }
    // Marks on lines the reader set: M or Ctrl+F2 sets or takes away the caret line's mark, and
    // so does a click in the gutter; F2 and Shift+F2 go to the next and the previous mark. They
    // are drawn in the gutter and stay when the log grows; whoever shows another log sets them.
    // They are kept by the line of the log (lineInLog), so a filtered log shows the marks of the
    // lines it keeps.
    void setLineMarks(std::set<std::int64_t> logLines) { m_gutter->setMarks(std::move(logLines)); }
    const std::set<std::int64_t>& lineMarks() const { return m_gutter->marks(); }
    // The mark of the view's line `line`, or of the log's line `logLine`.
    void toggleLineMark(std::int64_t line);
    void toggleLogLineMark(std::int64_t logLine) { m_gutter->toggleMark(logLine); }
    // Puts the caret on the next (or previous) marked line, a third of the view below the top;
    // false when there is none that way.
    bool goToLineMark(bool forward);
    static QColor lineMarkColour() { return LineGutter::markColour(); }
    // The rule in the gutter where lines of the log are left out (a filtered log).
    static QColor gapMarkColour() { return LineGutter::gapColour(); }
    // A log made of several files (a merged timeline) names them here, in the order its line
    // source numbers them (LineSource::fileOf): the gutter then shows each line's file as a
    // narrow bar in the file's colour, with the file's name in its tooltip. One name or none
    // shows no bar.
    void setFileNames(QStringList names);
    const QStringList& fileNames() const { return m_gutter->fileNames(); }
    static QColor fileColour(std::size_t file) { return LineGutter::fileColour(file); }
    // The file of the line at the height y of the view ("" when there is none or one file).
    QString fileNameAt(int y) const { return m_gutter->fileNameAt(y); }

    // The size of the text's font in points (kDefaultPointSize at start), clamped into
    // kMinPointSize..kMaxPointSize; the caret's line stays in sight.
    static constexpr int kDefaultPointSize = 8;
    static constexpr int kMinPointSize = 4;
    static constexpr int kMaxPointSize = 48;
    void setFontPointSize(int points);
    int fontPointSize() const { return m_renderer.font().pointSize(); }
    // The colour rules as they are matched: with their labels in the text's encoding.
    const RulesPtr& matchRules() const { return m_colours.matchRules(); }
    // Marks every occurrence of the text (in the document's encoding; empty: none) in the
    // lines it paints with a light background, ignoring case as find does. Esc takes them away.
    void setMarkedText(std::string pattern);
    const std::string& markedText() const { return m_marked.pattern; }

    // How the view reads long lines (layoutcache.h): a long line is never read whole, only the
    // stretch a question needs or a row shows. Setting them forgets what was measured.
    using LongLineSizes = tlg::LongLineSizes;
    void setLongLineSizes(const LongLineSizes& sizes);
    const LongLineSizes& longLineSizes() const { return m_layout.sizes(); }

    // The selection's first `limit` bytes, as the characters shown.
    QString selectedText(std::int64_t limit) const;
    // Copies the selection to the clipboard as text.
    void copy();
    // The largest selection that Copy puts on the clipboard: a larger one is refused with a
    // word in the status bar (statusMessage), so that a copy never takes the memory away.
    static constexpr std::size_t kCopyLimit = std::size_t(256) << 20;
    void setCopyLimit(std::size_t bytes) { m_copyLimit = bytes; }
    void selectAll();

signals:
    // A key went down in the view, before the view handles it.
    void keyPressed(int key, Qt::KeyboardModifiers modifiers);
    // A mouse button went down in the view, after the view moved the caret.
    void mousePressed(Qt::MouseButton button);
    // A word for the first status panel.
    void statusMessage(const QString& text);
    // Ctrl with the wheel turned by whole steps (up: positive), for the font's size.
    void zoomRequested(int steps);
    // The document, its encoding or the colour rules changed.
    void contentChanged();
    // The view was given a document (setDocument).
    void documentChanged();
    // A line's mark was set or taken away by the reader.
    void lineMarksChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    using RowPos = LayoutCache::RowPos;
    // The rows as the view shows them now: wrapped at its width, or from its first column.
    LayoutCache::Rows rows() const { return m_layout.rows(m_wordWrap ? visibleColumns() : 0, m_firstColumn); }
    void updateGutter();
    // The offset on a cell boundary at or before `offset`; past the line's content (inside a
    // CR LF), the start of the next line.
    ByteOffset onCellBoundary(ByteOffset offset) const;
    // Paints the marks of one row, the bytes [row.start, rowEnd) of its line, behind its text.
    // `base` is the line's byte at which row.line starts.
    void paintMarks(QPainter& painter, LineNumber line, const LineRenderer::Row& row, std::size_t rowEnd,
                    std::size_t base, int y) const;
    ByteOffset offsetAtPoint(const QPoint& point) const;
    ByteOffset offsetAtRowColumn(const RowPos& pos, double column) const;
    // Rows from the top of the view to `pos`, stopping once past `limit`.
    std::int64_t rowsFromTop(const RowPos& pos, std::int64_t limit) const;

    void setTop(RowPos top);
    void scrollRows(std::int64_t n);
    void updateScrollBars();
    // The top of the page that ends with the last row: as far as the view scrolls.
    RowPos lastPageTop() const;
    void moveCaret(ByteOffset offset, bool extendSelection);
    ByteOffset stepLeft(ByteOffset offset) const;
    ByteOffset stepRight(ByteOffset offset) const;
    // The caret moved by `count` rows (negative: up), at the column Up and Down keep.
    ByteOffset verticalMove(std::int64_t count);
    void selectWordAt(ByteOffset offset);

    LinesPtr m_document;
    LineRenderer m_renderer;
    LayoutCache m_layout;  // of m_document
    LineColours m_colours; // of m_layout's lines
    ByteOffset m_caret = 0;
    ByteOffset m_anchor = 0;
    LineNumber m_topLine = 0;
    std::int64_t m_topSubRow = 0;
    std::int64_t m_firstColumn = 0;     // without word wrap
    double m_desiredColumn = -1;        // column kept by Up and Down; -1: take the caret's
    int m_wheelDelta = 0;               // wheel angle not yet turned into rows
    bool m_wordWrap = false;
    bool m_selecting = false;
    bool m_settingScrollBars = false;
    LineNumber m_scrollMaxTop = 0; // the top line the vertical scroll bar's end stands for
    QColor m_background;
    QMenu* m_contextMenu = nullptr;
    LineGutter* m_gutter = nullptr;
    Encoding m_encoding = Encoding::Windows1252;
    std::size_t m_copyLimit = kCopyLimit;
    TextSearch m_marked; // the marked text
};

} // namespace tlg
