#include "view/logview.h"

#include "core/cp1252.h"
#include "document/linelayout.h"
#include "document/logdocument.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>

namespace tlg {

namespace {

constexpr int kMargin = 2;
// The light background of the find text's occurrences.
const QColor kMarkColour(255, 236, 140);
// Bytes past the last cell a row paints that are read with it, so that the cell decodes whole.
constexpr std::size_t kCellRoom = 16;

// Courier New at 8 points where the system has it (or a metric twin such as Liberation
// Mono), else the system's fixed-pitch font.
QFont viewFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(8);
    font.setStyleHint(QFont::TypeWriter);
    if (QFontInfo(font).fixedPitch())
        return font;
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

bool isWordBoundary(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

LogView::LogView(QWidget* parent)
    : QAbstractScrollArea(parent), m_document(LogDocument::empty()), m_renderer(viewFont()), m_colours(m_layout),
      m_background(Qt::white)
{
    m_layout.setLines(m_document);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setFont(m_renderer.font());
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);
    m_gutter = new LineGutter(m_renderer, [this] { return LineGutter::RowsInSight{rows(), {m_topLine, m_topSubRow}}; }, this);
    m_gutter->setObjectName(QStringLiteral("LineNumberGutter"));
    m_gutter->hide();
    connect(m_gutter, &LineGutter::marksChanged, this, &LogView::lineMarksChanged);
    connect(&m_colours, &LineColours::longWordMeasured, viewport(), qOverload<>(&QWidget::update));
    updateScrollBars();
}

LogView::~LogView()
{
    // The gutter asks the layout and the renderer, which go before the view's children do.
    delete m_gutter;
}

void LogView::setDocument(LinesPtr document, RulesPtr rules)
{
    setDocument(std::move(document), std::move(rules), LineMapping());
}

void LogView::setDocument(LinesPtr document, RulesPtr rules, const LineMapping& mapping)
{
    document = document ? std::move(document) : LogDocument::empty();
    const LinesPtr shown = std::move(m_document);
    // A log that grew keeps what was measured of the lines it had: only its last line can
    // have changed, and a long one is measured on from where it ended.
    const bool grew = document == shown || document->grewFrom(*shown);
    const LineCount keptRows = grew ? shown->rowCount() : 0;
    // Where the caret and the anchor stand in the lines shown: a line and a byte of it.
    const auto spotOf = [&shown](ByteOffset offset) {
        const LineNumber line = shown->lineFromOffset(offset);
        return std::make_pair(line, offset - shown->lineIndex(line));
    };
    const auto caret = spotOf(m_caret);
    const auto anchor = spotOf(m_anchor);
    m_document = std::move(document);
    m_layout.setLines(m_document, keptRows);
    m_colours.setRules(std::move(rules));
    m_colours.linesChanged(keptRows);
    std::optional<RowPos> mappedTop;
    if (grew) {
        // A character cut by the old end may be whole now, a lone CR a CR LF.
        const ByteOffset changed = shown->size() - 8;
        if (m_caret > changed)
            m_caret = onCellBoundary(m_caret);
        if (m_anchor > changed)
            m_anchor = onCellBoundary(m_anchor);
    } else if (mapping) {
        const LineNumber last = EndLine(m_document->rowCount()) - 1;
        // The line that shows a shown one, and whether it is that line: a line still there
        // comes before the one that shows the line after it.
        const auto mapped = [&](LineNumber line) {
            const LineNumber to = mapping(line);
            const LineNumber next = line + 1 < EndLine(shown->rowCount()) ? mapping(line + 1) : last + 1;
            return std::make_pair(std::clamp<LineNumber>(to, 0, last), to < next);
        };
        const auto place = [&](const std::pair<LineNumber, ByteOffset>& spot) {
            const auto [line, kept] = mapped(spot.first);
            const ByteOffset start = m_document->lineIndex(line);
            if (!kept || spot.second > m_layout.lineLength(line))
                return start;
            return start + static_cast<ByteOffset>(m_layout.boundaryAt(line, static_cast<std::size_t>(spot.second.value())));
        };
        m_caret = place(caret);
        m_anchor = place(anchor);
        const auto [topLine, kept] = mapped(m_topLine);
        mappedTop = RowPos{topLine, kept ? m_topSubRow : 0};
        m_desiredColumn = -1;
    } else {
        m_caret = m_anchor = 0;
        m_topLine = 0;
        m_topSubRow = 0;
        m_firstColumn = 0;
        m_desiredColumn = -1;
        m_selecting = false;
    }
    updateGutter();
    if (mappedTop) {
        // The new lines may be narrower than those shown.
        const std::int64_t widest = m_document->widestLineColumns() + 1 - visibleColumns();
        m_firstColumn = std::min(m_firstColumn, std::max<std::int64_t>(widest, 0));
        setTop(*mappedTop);
    } else {
        updateScrollBars();
        viewport()->update();
    }
    emit contentChanged();
    emit documentChanged();
}

ByteOffset LogView::onCellBoundary(ByteOffset offset) const
{
    const LineNumber line = m_document->lineFromOffset(offset);
    const ByteOffset start = m_document->lineIndex(line);
    if (offset - start > m_layout.lineLength(line))
        return m_document->lineIndex(line + 1); // inside a CR LF
    return start + static_cast<ByteOffset>(m_layout.boundaryAt(line, static_cast<std::size_t>((offset - start).value())));
}

void LogView::setColourRules(RulesPtr rules)
{
    m_colours.setRules(std::move(rules));
    viewport()->update();
    emit contentChanged();
}

void LogView::setLongLineSizes(const LongLineSizes& sizes)
{
    m_layout.setSizes(sizes);
    m_colours.forget();
    setTop({m_topLine, m_topSubRow});
    viewport()->update();
}

void LogView::setEncoding(Encoding held)
{
    held = HeldEncoding(held);
    if (held == m_encoding)
        return;
    m_encoding = held;
    m_layout.setUtf8(held == Encoding::Utf8);
    m_colours.setEncoding(held);
    // The caret and selection stay on cell boundaries.
    const LineNumber line = m_document->lineFromOffset(m_caret);
    if (m_caret - m_document->lineIndex(line) <= m_layout.lineLength(line))
        m_caret = onCellBoundary(m_caret);
    m_anchor = m_caret;
    updateScrollBars();
    viewport()->update();
    emit contentChanged();
}

std::string LogView::text() const
{
    return m_document->copyText();
}

QString LogView::lineText(std::int64_t number) const
{
    const LineNumber line = number;
    if (line < 0 || line >= EndLine(m_document->rowCount()))
        return QString();
    const TextSlice text = m_document->lineText(line);
    QString shown;
    shown.reserve(static_cast<qsizetype>(std::min<std::size_t>(text.size(), 1u << 20)));
    for (Cell at{0, 0}; at.byte < text.size();) {
        const Cluster cell = clusterAt(text, at, m_layout.utf8());
        shown += LineRenderer::cellText(text, cell, m_encoding);
        at = {cell.end, cell.column + cell.width};
    }
    return shown;
}

std::int64_t LogView::caretLine() const
{
    return m_document->lineFromOffset(selectionStart() + selectionLength()).value();
}

void LogView::setSelection(std::int64_t startAt, std::int64_t lengthAsked)
{
    const ByteOffset size = m_document->size();
    const ByteOffset start = std::clamp<ByteOffset>(startAt, 0, size);
    const ByteOffset length = std::clamp<ByteOffset>(lengthAsked, 0, size - start);
    m_anchor = start;
    m_caret = start + length;
    m_desiredColumn = -1;
    viewport()->update();
}

void LogView::selectAll()
{
    m_anchor = 0;
    m_caret = m_document->size();
    viewport()->update();
}

void LogView::copy()
{
    if (selectionLength() == 0)
        return;
    if (static_cast<std::size_t>(selectionLength()) > m_copyLimit) {
        emit statusMessage(QStringLiteral("Selection too large to copy: %1 MiB (at most %2 MiB)")
                               .arg((selectionLength() + (1 << 20) - 1) >> 20)
                               .arg(static_cast<qulonglong>(m_copyLimit >> 20)));
        return;
    }
    try {
        QApplication::clipboard()->setText(selectedText(selectionLength()));
    } catch (const std::bad_alloc&) {
        // A selection too large for memory as text is not copied; the view goes on.
        QApplication::beep();
    }
}

QString LogView::selectedText(std::int64_t limit) const
{
    // Read from the file when the text is not in memory, straight into one string.
    const std::int64_t length = std::min(selectionLength(), limit);
    const TextSlice bytes = m_document->read(selectionStart(), selectionStart() + length);
    if (m_encoding == Encoding::Utf8)
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (m_encoding == Encoding::Iso8859_1)
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return QString::fromStdU16String(decodeCp1252(bytes));
}

void LogView::setWordWrap(bool on)
{
    if (m_wordWrap == on)
        return;
    // The caret's row keeps its place on screen when it is in sight, and comes into sight
    // when it is not.
    const std::int64_t shown = visibleRows();
    const std::int64_t caretFromTop = rowsFromTop(rows().rowOfOffset(m_caret), shown);
    m_wordWrap = on;
    m_topSubRow = 0;
    m_firstColumn = 0;
    setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    if (caretFromTop >= 0 && caretFromTop < shown) {
        const LayoutCache::Rows wrapped = rows();
        RowPos top = wrapped.rowOfOffset(m_caret);
        wrapped.moveRows(top, -caretFromTop);
        setTop(top);
    } else {
        setTop({m_topLine, 0});
    }
    scrollCaretIntoView();
}

void LogView::setBackgroundColour(const QColor& colour)
{
    m_background = colour;
    viewport()->update();
}

void LogView::setBaseTextColour(const QColor& colour)
{
    m_colours.setBaseColour(colour);
    viewport()->update();
}

QColor LogView::colourAt(std::int64_t at) const
{
    return m_colours.colourAt(at);
}

void LogView::setFirstVisibleLine(std::int64_t line)
{
    setTop({std::clamp<LineNumber>(line, 0, EndLine(m_document->rowCount()) - 1), 0});
}

// --- Rows and columns --------------------------------------------------------------------

int LogView::visibleRows() const
{
    return std::max(1, viewport()->height() / m_renderer.lineHeight());
}

std::int64_t LogView::visibleColumns() const
{
    const qreal width = viewport()->width() - 2 * kMargin;
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(width / m_renderer.cellWidth()));
}

std::int64_t LogView::rowsFromTop(const RowPos& pos, std::int64_t limit) const
{
    if (!m_wordWrap)
        return (pos.line - m_topLine).value();
    const LayoutCache::Rows wrapped = rows();
    RowPos walk{m_topLine, m_topSubRow};
    const bool below = pos.line > walk.line || (pos.line == walk.line && pos.subRow >= walk.subRow);
    std::int64_t count = 0;
    while (walk != pos && count <= limit) {
        if (!(below ? wrapped.nextRow(walk) : wrapped.previousRow(walk)))
            break;
        ++count;
    }
    return below ? count : -count;
}

ByteOffset LogView::offsetAtRowColumn(const RowPos& pos, double column) const
{
    const ByteOffset lineStart = m_document->lineIndex(pos.line);
    if (!m_wordWrap)
        return lineStart + static_cast<ByteOffset>(m_layout.caretIndexAt(pos.line, column));
    const LayoutCache::Rows wrapped = rows();
    const Cell start = wrapped.rowStart(pos);
    const Cell end = wrapped.rowEnd(pos);
    column = std::clamp(column, static_cast<double>(start.column),
                        static_cast<double>(std::max(start.column, end.column)));
    std::size_t index = m_layout.caretIndexAt(pos.line, column, start);
    // The end of a row that another row follows is the start of that next row: keep the caret
    // on this row, before its last character.
    if (pos.subRow + 1 < wrapped.rowsOfLine(pos.line) && index >= end.byte && end.byte > start.byte)
        index = m_layout.previousBoundaryAt(pos.line, end.byte);
    return lineStart + static_cast<ByteOffset>(index);
}

ByteOffset LogView::offsetAtPoint(const QPoint& point) const
{
    const LayoutCache::Rows shown = rows();
    RowPos pos{m_topLine, m_topSubRow};
    const auto row = static_cast<std::int64_t>(
        std::floor(static_cast<double>(point.y()) / m_renderer.lineHeight()));
    shown.moveRows(pos, row);
    const double column = static_cast<double>(shown.rowFirstColumn(pos)) +
                          (point.x() - kMargin) / m_renderer.cellWidth();
    return offsetAtRowColumn(pos, column);
}

QPoint LogView::caretPixelPos() const
{
    const LayoutCache::Rows shown = rows();
    const RowPos pos = shown.rowOfOffset(m_caret);
    const std::int64_t limit = 2 * static_cast<std::int64_t>(visibleRows()) + 2;
    const std::int64_t fromTop = std::clamp<std::int64_t>(rowsFromTop(pos, limit), -limit, limit);
    const qreal x = kMargin + static_cast<qreal>(m_layout.columnOfOffset(m_caret) - shown.rowFirstColumn(pos)) *
                                  m_renderer.cellWidth();
    return QPoint(static_cast<int>(x), static_cast<int>(fromTop * m_renderer.lineHeight()));
}

// --- Scrolling ----------------------------------------------------------------------------

LogView::RowPos LogView::lastPageTop() const
{
    const LayoutCache::Rows shown = rows();
    const LineNumber lastLine = EndLine(m_document->rowCount()) - 1;
    RowPos last{lastLine, shown.rowsOfLine(lastLine) - 1};
    shown.moveRows(last, -(visibleRows() - 1));
    return last;
}

void LogView::setTop(RowPos top)
{
    // Never scroll past the page that ends with the last row.
    const RowPos last = lastPageTop();
    if (top.line > last.line || (top.line == last.line && top.subRow > last.subRow))
        top = last;
    if (top.line < 0)
        top = {0, 0};
    top.subRow = std::clamp<std::int64_t>(top.subRow, 0, rows().rowsOfLine(top.line) - 1);
    m_topLine = top.line;
    m_topSubRow = top.subRow;
    updateScrollBars();
    viewport()->update();
}

void LogView::scrollRows(std::int64_t n)
{
    RowPos top{m_topLine, m_topSubRow};
    rows().moveRows(top, n);
    setTop(top);
}

namespace {

// The vertical scroll bar counts lines while they fit in this many steps; a longer log's bar
// counts this many steps over its lines, each step a few lines.
constexpr std::int64_t kScrollSteps = std::int64_t(1) << 30;

// The scroll bar's value for a top line, when the top may go as far as maxTop.
int scrollValueOfLine(LineNumber topLine, LineNumber maxTopLine)
{
    const std::int64_t maxTop = maxTopLine.value();
    const std::int64_t line = std::clamp<LineNumber>(topLine, 0, std::max<LineNumber>(maxTop, 0)).value();
    if (maxTop <= kScrollSteps)
        return ToQtInt(line);
    // line * steps / maxTop without overflow: maxTop < 2^62, steps = 2^30.
    const std::int64_t whole = line / maxTop * kScrollSteps;
    const auto part = static_cast<std::int64_t>((static_cast<long double>(line % maxTop) * kScrollSteps) / maxTop);
    return ToQtInt(std::min(whole + part, kScrollSteps));
}

// The top line for a scroll bar's value: the first line that has it.
LineNumber lineOfScrollValue(int value, LineNumber maxTopLine)
{
    const std::int64_t maxTop = maxTopLine.value();
    if (maxTop <= kScrollSteps)
        return value;
    const std::int64_t step = std::clamp<std::int64_t>(value, 0, kScrollSteps);
    return maxTop / kScrollSteps * step + ((maxTop % kScrollSteps) * step + kScrollSteps - 1) / kScrollSteps;
}

} // namespace

void LogView::updateScrollBars()
{
    m_settingScrollBars = true;
    QScrollBar* vertical = verticalScrollBar();
    m_scrollMaxTop = std::max(lastPageTop().line, m_topLine);
    vertical->setRange(0, scrollValueOfLine(m_scrollMaxTop, m_scrollMaxTop));
    vertical->setPageStep(m_scrollMaxTop <= kScrollSteps ? visibleRows()
                                                         : std::max(1, scrollValueOfLine(visibleRows(), m_scrollMaxTop)));
    vertical->setValue(scrollValueOfLine(m_topLine, m_scrollMaxTop));

    QScrollBar* horizontal = horizontalScrollBar();
    if (m_wordWrap) {
        horizontal->setRange(0, 0);
    } else {
        const std::int64_t columns = visibleColumns();
        // Room for the caret after the widest line's last character.
        const std::int64_t maxFirst =
            std::max<std::int64_t>(m_document->widestLineColumns() + 1 - columns, m_firstColumn);
        horizontal->setRange(0, ToQtInt(std::clamp<std::int64_t>(maxFirst, 0, INT32_MAX)));
        horizontal->setPageStep(ToQtInt(std::min<std::int64_t>(columns, INT32_MAX)));
        horizontal->setValue(ToQtInt(std::min<std::int64_t>(m_firstColumn, INT32_MAX)));
    }
    m_settingScrollBars = false;
}

void LogView::scrollContentsBy(int, int)
{
    if (m_settingScrollBars)
        return;
    // The user moved a scroll bar: the vertical one counts lines (or steps of a few lines in a
    // log too long for its range), the horizontal one columns.
    const int value = verticalScrollBar()->value();
    if (value != scrollValueOfLine(m_topLine, m_scrollMaxTop)) {
        m_topLine = std::min(lineOfScrollValue(value, m_scrollMaxTop), std::max<LineNumber>(EndLine(m_document->rowCount()) - 1, 0));
        m_topSubRow = 0;
    }
    if (!m_wordWrap)
        m_firstColumn = horizontalScrollBar()->value();
    viewport()->update();
}

void LogView::scrollCaretIntoView()
{
    const RowPos caret = rows().rowOfOffset(m_caret);
    const std::int64_t shown = visibleRows();
    const std::int64_t fromTop = rowsFromTop(caret, shown);
    if (fromTop < 0) {
        setTop(caret);
    } else if (fromTop >= shown) {
        RowPos top = caret;
        rows().moveRows(top, -(shown - 1));
        setTop(top);
    }
    if (!m_wordWrap) {
        const std::int64_t column = m_layout.columnOfOffset(m_caret);
        const std::int64_t columns = visibleColumns();
        if (column < m_firstColumn)
            m_firstColumn = std::max<std::int64_t>(0, column - columns / 3);
        else if (column >= m_firstColumn + columns)
            m_firstColumn = column - columns + columns / 3 + 1;
        updateScrollBars();
    }
    viewport()->update();
}

// --- Caret movement ----------------------------------------------------------------------

void LogView::moveCaret(ByteOffset offset, bool extendSelection)
{
    m_caret = std::clamp<ByteOffset>(offset, 0, m_document->size());
    if (!extendSelection)
        m_anchor = m_caret;
    m_desiredColumn = -1;
    viewport()->update();
}

ByteOffset LogView::stepLeft(ByteOffset offset) const
{
    if (offset <= 0)
        return 0;
    const LineNumber line = m_document->lineFromOffset(offset);
    const ByteOffset start = m_document->lineIndex(line);
    if (offset > m_document->lineContentEnd(line))
        return m_document->lineContentEnd(line); // inside a CR LF
    if (offset > start)
        return start + static_cast<ByteOffset>(m_layout.previousBoundaryAt(line, static_cast<std::size_t>(offset - start)));
    return m_document->lineContentEnd(line - 1);
}

ByteOffset LogView::stepRight(ByteOffset offset) const
{
    const LineNumber line = m_document->lineFromOffset(offset);
    const ByteOffset start = m_document->lineIndex(line);
    if (offset < m_document->lineContentEnd(line))
        return start + static_cast<ByteOffset>(m_layout.nextBoundaryAt(line, static_cast<std::size_t>(offset - start)));
    if (line + 1 < EndLine(m_document->rowCount()))
        return m_document->lineIndex(line + 1);
    return m_document->size();
}

ByteOffset LogView::verticalMove(std::int64_t count)
{
    const LayoutCache::Rows shown = rows();
    RowPos pos = shown.rowOfOffset(m_caret);
    double column = m_desiredColumn;
    if (column < 0)
        column = static_cast<double>(m_layout.columnOfOffset(m_caret) - (m_wordWrap ? shown.rowFirstColumn(pos) : 0));
    shown.moveRows(pos, count);
    const double base = m_wordWrap ? static_cast<double>(shown.rowFirstColumn(pos)) : 0.0;
    const ByteOffset target = offsetAtRowColumn(pos, base + column);
    m_desiredColumn = column;
    return target;
}

void LogView::selectWordAt(ByteOffset offset)
{
    // A line break is a boundary: the word lies within its line.
    offset = std::clamp<ByteOffset>(offset, 0, m_document->size());
    // The line is read a chunk at a time from the offset out, so that a word as long as the
    // line is found without holding it.
    const LineNumber line = m_document->lineFromOffset(offset);
    const ByteOffset lineStart = m_document->lineIndex(line);
    ByteOffset start = offset;
    ByteOffset end = offset;
    m_document->forEachChunkBackwards(lineStart, offset, m_layout.sizes().scanChunk, 0,
                                      [&](ByteOffset at, std::string_view bytes) {
                                          for (std::size_t i = bytes.size(); i > 0; --i) {
                                              if (isWordBoundary(bytes[i - 1])) {
                                                  start = at + static_cast<ByteOffset>(i);
                                                  return false;
                                              }
                                          }
                                          start = at;
                                          return true;
                                      });
    m_document->forEachChunk(end, m_document->lineContentEnd(line), m_layout.sizes().scanChunk, 0,
                             [&](ByteOffset at, std::string_view bytes) {
                                 for (std::size_t i = 0; i < bytes.size(); ++i) {
                                     if (isWordBoundary(bytes[i])) {
                                         end = at + static_cast<ByteOffset>(i);
                                         return false;
                                     }
                                 }
                                 end = at + static_cast<ByteOffset>(bytes.size());
                                 return true;
                             });
    setSelection(start.value(), (end - start).value());
}

// --- Marks -------------------------------------------------------------------------------

void LogView::setMarkedText(std::string pattern)
{
    if (pattern == m_marked.pattern)
        return;
    m_marked.pattern = std::move(pattern);
    viewport()->update();
}

void LogView::paintMarks(QPainter& painter, LineNumber line, const LineRenderer::Row& row,
                         std::size_t rowEnd, std::size_t base, int y) const
{
    if (m_marked.pattern.empty() || rowEnd <= row.start.byte)
        return;
    // Only the bytes this row shows are searched, and a pattern's length around them.
    const TextSearch search = TextSearch::forLog(m_marked.pattern, m_encoding);
    const ByteOffset lineStart = m_document->lineIndex(line) + static_cast<ByteOffset>(base);
    const auto from = static_cast<ByteOffset>(row.start.byte);
    const auto to = static_cast<ByteOffset>(rowEnd);
    const qreal cell = m_renderer.cellWidth();
    for (const auto& [start, end] : OccurrencesTouching(search, *m_document, lineStart + from, lineStart + to)) {
        const auto first = static_cast<std::size_t>(std::clamp(start - lineStart, from, to));
        const auto last = static_cast<std::size_t>(std::clamp(end - lineStart, from, to));
        if (last <= first)
            continue;
        // Walked from the row's start, which lies before both.
        const std::int64_t left = columnOfByte(row.line, first, m_layout.utf8(), row.start);
        const std::int64_t right = columnOfByte(row.line, last, m_layout.utf8(), row.start);
        painter.fillRect(QRectF(kMargin + static_cast<qreal>(left - row.firstColumn) * cell, y,
                                static_cast<qreal>(right - left) * cell, lineHeight()),
                         kMarkColour);
    }
}

// --- Events ------------------------------------------------------------------------------

void LogView::paintEvent(QPaintEvent*)
{
    // A long word not measured yet is measured once the paint is over, never while it runs.
    m_colours.setPainting(true);
    const auto painted = qScopeGuard([this] { m_colours.setPainting(false); });
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), m_background);

    const LineRenderer::Palette colours{m_colours.baseColour(), palette().color(QPalette::Highlight),
                                        palette().color(QPalette::HighlightedText)};
    const int lineHeight = m_renderer.lineHeight();
    const int rows = viewport()->height() / lineHeight + 1;
    const ByteOffset selStart = selectionStart();
    const ByteOffset selEnd = selStart + selectionLength();
    const LineCount lineRows = m_document->rowCount();
    const std::int64_t columns = visibleColumns() + 1;
    const LayoutCache::Rows shown = this->rows();
    // Each column shows at most one byte of single-byte text, a few of UTF-8.
    const std::size_t perColumn = m_layout.utf8() ? 8 : 1;

    RowPos pos{m_topLine, m_topSubRow};
    const RowPos caret = shown.rowOfOffset(m_caret);
    int caretRow = -1;
    std::int64_t caretFirstColumn = 0;
    LineNumber measuredLine = -1; // the line whose selection columns `row` holds
    std::size_t length = 0;       // its length in bytes
    bool longLine = false;
    TextSlice whole;              // a short line's bytes
    std::size_t selectedFrom = 0; // its selected bytes [selectedFrom, selectedTo)
    std::size_t selectedTo = 0;
    Cell previousStart{0, 0};     // where the row before on the same line started
    LineRenderer::Palette lineColours = colours; // with the line's own text colour
    LineRenderer::Row row;
    std::vector<ColourSpan> spans;
    for (int i = 0, y = 0; i < rows; ++i, y += lineHeight) {
        if (pos.line != measuredLine) {
            // Per line: its selected bytes and their columns, and its width.
            measuredLine = pos.line;
            lineColours.text = m_colours.lineTextColour(pos.line);
            const ByteOffset lineStart = m_document->lineIndex(pos.line);
            length = static_cast<std::size_t>(m_layout.lineLength(pos.line));
            longLine = m_layout.isLong(pos.line);
            whole = longLine ? TextSlice() : m_document->lineText(pos.line);
            const auto bytes = static_cast<ByteOffset>(length);
            row.encoding = m_encoding;
            selectedFrom = static_cast<std::size_t>(std::clamp<ByteOffset>(selStart - lineStart, 0, bytes));
            selectedTo = static_cast<std::size_t>(std::clamp<ByteOffset>(selEnd - lineStart, 0, bytes));
            const bool selected = selectedTo > selectedFrom;
            row.selectionStartColumn = selected ? m_layout.columnAt(pos.line, selectedFrom) : 0;
            row.selectionEndColumn = selected ? m_layout.columnAt(pos.line, selectedTo) : 0;
            row.breakSelected = pos.line + 1 < EndLine(lineRows) && selStart <= lineStart + bytes &&
                                selEnd > lineStart + bytes;
            // The width is wanted for the break's cell only: a long line is not measured for it.
            row.lineColumns = row.breakSelected || !longLine ? m_layout.lineColumns(pos.line) : 0;
            previousStart = {0, 0};
            if (longLine && m_colours.matchRules()) {
                // The colours of what the rows below can show of a long line, at once.
                const Cell first = m_layout.cellAt(pos.line, shown.rowFirstColumn(pos));
                const auto rowsOfIt = static_cast<std::size_t>(m_wordWrap ? rows - i : 1);
                const std::size_t reach = rowsOfIt * perColumn * static_cast<std::size_t>(columns);
                m_colours.labelSpans(pos.line, first.byte, std::min(length, first.byte + reach + 1));
            }
        }
        const std::vector<Cell>* wrapped = shown.wrappedRowStarts(pos.line);
        row.firstColumn = shown.rowFirstColumn(pos);
        row.columns = columns;
        // A row of a long wrapped line is found from the one above it, and ends where the
        // next one starts.
        const Cell start = wrapped ? shown.rowStart(pos) : m_layout.cellAt(pos.line, row.firstColumn, previousStart);
        previousStart = start;
        row.lastRowOfLine = pos.subRow + 1 >= shown.rowsOfLine(pos.line);
        std::size_t endByte = length;
        if (wrapped)
            endByte = shown.rowEnd(pos).byte;
        else if (m_wordWrap && !row.lastRowOfLine)
            endByte = m_layout.cellAt(pos.line, row.firstColumn + visibleColumns(), start).byte;
        // The bytes this row can show; a long line is read that far only (and a little
        // more, so that its last cell decodes whole).
        const std::size_t rowEnd =
            std::min({length, endByte, start.byte + perColumn * static_cast<std::size_t>(columns) + 1});
        const LayoutCache::Stretch part =
            longLine ? m_layout.stretch(pos.line, start.byte, rowEnd + kCellRoom) : LayoutCache::Stretch{whole, 0};
        const std::size_t base = part.base;
        row.line = part.bytes.view();
        row.start = part.local(start);
        row.endByte = m_wordWrap || longLine ? rowEnd - base : std::string_view::npos;
        row.selectionStart = std::clamp(selectedFrom, base, base + row.line.size()) - base;
        row.selectionEnd = std::clamp(selectedTo, base, base + row.line.size()) - base;
        // The colours of the bytes this row can show.
        m_colours.rowSpans(pos.line, start.byte, rowEnd, base, row.line.size(), lineColours.text, spans);
        row.spans = &spans;
        paintMarks(painter, pos.line, row, rowEnd - base, base, y);
        m_renderer.paintRow(painter, kMargin, y, row, lineColours);
        if (pos == caret) {
            caretRow = i;
            caretFirstColumn = row.firstColumn;
        }
        if (!shown.nextRow(pos))
            break;
    }

    if (hasFocus() && caretRow >= 0) {
        const qreal x = kMargin + static_cast<qreal>(m_layout.columnOfOffset(m_caret) - caretFirstColumn) *
                                      m_renderer.cellWidth();
        painter.fillRect(QRectF(x, caretRow * lineHeight, 1, lineHeight), m_colours.baseColour());
    }
    if (m_gutter->numbersShown())
        m_gutter->update();
}

void LogView::setLineNumbersShown(bool on)
{
    m_gutter->setNumbersShown(on);
    updateGutter();
}

void LogView::setFileNames(QStringList names)
{
    m_gutter->setFileNames(std::move(names));
    updateGutter();
}

void LogView::toggleLineMark(std::int64_t line)
{
    if (line >= 0 && line < lineCount())
        m_gutter->toggleMark(m_document->lineInLog(line).value());
}

bool LogView::goToLineMark(bool forward)
{
    if (lineCount() == 0)
        return false;
    const std::optional<LineNumber> line = m_gutter->markedLineFrom(caretLine(), forward);
    if (!line)
        return false;
    setSelection(lineIndex(line->value()), 0);
    setFirstVisibleLine(std::max<std::int64_t>(line->value() - visibleRows() / 3, 0));
    return true;
}

void LogView::updateGutter()
{
    const int width = m_gutter->widthWanted();
    if (viewportMargins().left() != width)
        setViewportMargins(width, 0, 0, 0);
    m_gutter->setVisible(width > 0);
    const QRect area = contentsRect();
    m_gutter->setGeometry(area.left(), area.top(), width, viewport()->height());
    m_gutter->update();
}

void LogView::setFontPointSize(int points)
{
    points = std::clamp(points, kMinPointSize, kMaxPointSize);
    if (points == fontPointSize())
        return;
    QFont font = m_renderer.font();
    font.setPointSize(points);
    m_renderer = LineRenderer(font);
    setFont(font);
    updateGutter();
    setTop({m_topLine, m_topSubRow});
    scrollCaretIntoView();
    viewport()->update();
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateGutter();
    setTop({m_topLine, m_topSubRow});
}

void LogView::keyPressEvent(QKeyEvent* event)
{
    emit keyPressed(event->key(), event->modifiers());
    if (event == QKeySequence::Copy || (event->key() == Qt::Key_Insert &&
                                        event->modifiers() == Qt::ControlModifier)) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (event->key() == Qt::Key_Escape && !m_marked.pattern.empty()) {
        setMarkedText({});
        return;
    }
    if ((event->key() == Qt::Key_M && event->modifiers() == Qt::NoModifier) ||
        (event->key() == Qt::Key_F2 && event->modifiers() == Qt::ControlModifier)) {
        if (caretLine() < lineCount())
            toggleLineMark(caretLine());
        return;
    }
    if (event->key() == Qt::Key_F2 && (event->modifiers() & ~Qt::ShiftModifier) == Qt::NoModifier) {
        if (!goToLineMark(!(event->modifiers() & Qt::ShiftModifier)))
            emit statusMessage(QStringLiteral("No more marks"));
        return;
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const std::int64_t page = std::max(1, visibleRows() - 1);
    switch (event->key()) {
    case Qt::Key_Left:
        if (!shift && selectionLength() > 0)
            moveCaret(selectionStart(), false);
        else
            moveCaret(stepLeft(m_caret), shift);
        break;
    case Qt::Key_Right:
        if (!shift && selectionLength() > 0)
            moveCaret(selectionStart() + selectionLength(), false);
        else
            moveCaret(stepRight(m_caret), shift);
        break;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const ByteOffset target = verticalMove(event->key() == Qt::Key_Up ? -1 : 1);
        const double keep = m_desiredColumn;
        moveCaret(target, shift);
        m_desiredColumn = keep;
        break;
    }
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const std::int64_t rows = event->key() == Qt::Key_PageUp ? -page : page;
        const ByteOffset target = verticalMove(rows);
        const double keep = m_desiredColumn;
        scrollRows(rows);
        moveCaret(target, shift);
        m_desiredColumn = keep;
        break;
    }
    case Qt::Key_Home:
        moveCaret(control ? 0 : m_document->lineIndex(m_document->lineFromOffset(m_caret)), shift);
        break;
    case Qt::Key_End:
        moveCaret(control ? m_document->size()
                          : m_document->lineContentEnd(m_document->lineFromOffset(m_caret)),
                  shift);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    scrollCaretIntoView();
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        moveCaret(offsetAtPoint(event->position().toPoint()),
                  event->modifiers() & Qt::ShiftModifier);
        m_selecting = true;
    }
    emit mousePressed(event->button());
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    moveCaret(offsetAtPoint(event->position().toPoint()), true);
    scrollCaretIntoView();
}

void LogView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_selecting = false;
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    selectWordAt(offsetAtPoint(event->position().toPoint()));
    m_selecting = false;
}

void LogView::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    if (std::abs(delta.x()) > std::abs(delta.y())) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        m_wheelDelta += delta.y();
        const int steps = m_wheelDelta / 120;
        m_wheelDelta -= steps * 120;
        if (steps != 0)
            emit zoomRequested(steps);
        event->accept();
        return;
    }
    // Rows rather than the scroll bar's lines, so that a wrapped line longer than the view
    // can be read to its end.
    m_wheelDelta += delta.y();
    const int steps = m_wheelDelta / 120; // a touchpad sends small deltas
    m_wheelDelta -= steps * 120;
    scrollRows(-static_cast<std::int64_t>(steps) * QApplication::wheelScrollLines());
    event->accept();
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_contextMenu)
        m_contextMenu->exec(event->globalPos());
}

void LogView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace tlg
