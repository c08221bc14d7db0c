#include "view/logview.h"

#include "core/cp1252.h"
#include "view/linelayout.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace tlg {

namespace {

constexpr int kMargin = 2;
// The light background of the find text's occurrences.
const QColor kMarkColour(255, 236, 140);
// Lines at least this long are measured and coloured by the part in sight, and wrap at the
// view's width without looking for spaces.
constexpr std::size_t kLongLine = 65536;
// A long UTF-8 line is walked from points remembered this many bytes apart.
constexpr std::size_t kCheckpointBytes = 4096;

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

// The line-number gutter: a strip in the view's left margin that the view paints.
class LogView::Gutter : public QWidget {
public:
    explicit Gutter(LogView* view) : QWidget(view), m_view(view) {}

protected:
    void paintEvent(QPaintEvent* event) override { m_view->paintGutter(event); }

private:
    LogView* m_view;
};

LogView::LogView(QWidget* parent)
    : QAbstractScrollArea(parent), m_document(LogDocument::empty()), m_renderer(viewFont()),
      m_background(Qt::white), m_textColour(0, 0, 128)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setFont(m_renderer.font());
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);
    m_gutter = new Gutter(this);
    m_gutter->setObjectName(QStringLiteral("LineNumberGutter"));
    m_gutter->hide();
    updateScrollBars();
}

LogView::~LogView() = default;

namespace {

// The rules with their labels in the text's encoding: a label that cannot occur in it is left
// out rather than turned into something that could match.
LogView::RulesPtr rulesFor(const LogView::RulesPtr& rules, Encoding held)
{
    if (!rules || held == Encoding::Windows1252)
        return rules;
    auto encoded = std::make_shared<ColourRules>(*rules);
    for (auto* labels : {&encoded->infoLabels, &encoded->errorLabels}) {
        for (std::string& label : *labels)
            label = RecodeCp1252ForLog(label, held).value_or(std::string());
    }
    encoded->asciiCaseOnly = true;
    return encoded;
}

} // namespace

void LogView::setDocument(DocumentPtr document, RulesPtr rules)
{
    m_document = document ? std::move(document) : LogDocument::empty();
    m_rules = std::move(rules);
    m_matchRules = rulesFor(m_rules, m_encoding);
    forgetLayout();
    m_caret = m_anchor = 0;
    m_topLine = 0;
    m_topSubRow = 0;
    m_firstColumn = 0;
    m_desiredColumn = -1;
    m_selecting = false;
    updateGutter();
    updateScrollBars();
    viewport()->update();
    emit contentChanged();
    emit documentChanged();
}

void LogView::setColourRules(RulesPtr rules)
{
    m_rules = std::move(rules);
    m_matchRules = rulesFor(m_rules, m_encoding);
    m_spans.clear();
    viewport()->update();
    emit contentChanged();
}

void LogView::forgetLayout()
{
    m_spans.clear();
    m_longLineColumns.clear();
    m_wrapRows.clear();
    m_checkpoints.clear();
}

void LogView::setEncoding(Encoding held)
{
    held = HeldEncoding(held);
    if (held == m_encoding)
        return;
    m_encoding = held;
    m_matchRules = rulesFor(m_rules, m_encoding);
    forgetLayout();
    // The caret and selection stay on cell boundaries.
    const LineNumber line = m_document->lineFromOffset(m_caret);
    const ByteOffset start = m_document->lineIndex(line);
    const TextSlice text = m_document->lineText(line);
    if (m_caret - start <= static_cast<ByteOffset>(text.size()))
        m_caret = start + static_cast<ByteOffset>(boundaryAtOrBefore(text, static_cast<std::size_t>(m_caret - start), utf8()));
    m_anchor = m_caret;
    updateScrollBars();
    viewport()->update();
    emit contentChanged();
}

std::string LogView::text() const
{
    return m_document->copyText();
}

QString LogView::lineText(LineNumber line) const
{
    if (line < 0 || line >= m_document->rowCount())
        return QString();
    const TextSlice text = m_document->lineText(line);
    QString shown;
    shown.reserve(static_cast<qsizetype>(std::min<std::size_t>(text.size(), 1u << 20)));
    for (Cell at{0, 0}; at.byte < text.size();) {
        const Cluster cell = clusterAt(text, at, utf8());
        shown += LineRenderer::cellText(text, cell, m_encoding);
        at = {cell.end, cell.column + cell.width};
    }
    return shown;
}

LineNumber LogView::caretLine() const
{
    return m_document->lineFromOffset(selectionStart() + selectionLength());
}

void LogView::setSelection(ByteOffset start, ByteOffset length)
{
    const ByteOffset size = m_document->size();
    start = std::clamp<ByteOffset>(start, 0, size);
    length = std::clamp<ByteOffset>(length, 0, size - start);
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
    // Read from the file when the text is not in memory, straight into one string.
    const TextSlice bytes = m_document->read(selectionStart(), selectionStart() + selectionLength());
    try {
        QString text;
        if (m_encoding == Encoding::Utf8)
            text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        else if (m_encoding == Encoding::Iso8859_1)
            text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        else
            text = QString::fromStdU16String(decodeCp1252(bytes));
        QApplication::clipboard()->setText(text);
    } catch (const std::bad_alloc&) {
        // A selection too large for memory as text is not copied; the view goes on.
        QApplication::beep();
    }
}

void LogView::setWordWrap(bool on)
{
    if (m_wordWrap == on)
        return;
    // The caret's row keeps its place on screen when it is in sight, and comes into sight
    // when it is not.
    const std::int64_t rows = visibleRows();
    const std::int64_t caretFromTop = rowsFromTop(rowOfOffset(m_caret), rows);
    m_wordWrap = on;
    m_wrapRows.clear();
    m_topSubRow = 0;
    m_firstColumn = 0;
    setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    if (caretFromTop >= 0 && caretFromTop < rows) {
        RowPos top = rowOfOffset(m_caret);
        moveRows(top, -caretFromTop);
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
    m_textColour = colour;
    viewport()->update();
}

const std::vector<LabelSpan>& LogView::labelSpans(LineNumber line, std::size_t from,
                                                  std::size_t to) const
{
    static const std::vector<LabelSpan> none;
    if (!m_matchRules)
        return none;
    // The line with its break: a word run ends with the boundary byte after it.
    const ByteOffset start = m_document->lineIndex(line);
    const ByteOffset end = m_document->lineIndex(line + 1);
    const TextSlice text = m_document->slice(start, end);
    // A long line is coloured around the part in sight only, and not remembered.
    if (text.size() >= kLongLine) {
        ColourLine(text, *m_matchRules, m_windowSpans, from, to);
        return m_windowSpans;
    }
    if (const auto known = m_spans.find(line); known != m_spans.end())
        return known->second;
    if (m_spans.size() > 4096)
        m_spans.clear();
    std::vector<LabelSpan>& spans = m_spans[line];
    ColourLine(text, *m_matchRules, spans);
    return spans;
}

namespace {

QColor colourOf(LabelColour colour, const QColor& base)
{
    switch (colour) {
    case LabelColour::Info:
        return QColor::fromRgb(kInfoRgb);
    case LabelColour::Error:
        return QColor::fromRgb(kErrorRgb);
    case LabelColour::None:
        break;
    }
    return base;
}

} // namespace

QColor LogView::colourAt(ByteOffset offset) const
{
    const LineNumber line = m_document->lineFromOffset(offset);
    const auto index = static_cast<std::size_t>(offset - m_document->lineIndex(line));
    for (const LabelSpan& span : labelSpans(line, index, index + 1)) {
        if (span.start <= index && index < span.end)
            return colourOf(span.colour, m_textColour);
    }
    return m_textColour;
}

void LogView::setFirstVisibleLine(LineNumber line)
{
    setTop({std::clamp<LineNumber>(line, 0, m_document->rowCount() - 1), 0});
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

std::int64_t LogView::lineLength(LineNumber line) const
{
    return m_document->lineContentEnd(line) - m_document->lineIndex(line);
}

std::int64_t LogView::lineColumns(LineNumber line) const
{
    // A long line is read only when its width is not known yet.
    if (lineLength(line) < kLongLine) {
        const TextSlice text = m_document->lineText(line);
        return columnOfByte(text, text.size(), utf8());
    }
    if (utf8())
        return checkpoints(line).back().column;
    if (const auto known = m_longLineColumns.find(line); known != m_longLineColumns.end())
        return known->second;
    if (m_longLineColumns.size() > 1024)
        m_longLineColumns.clear();
    const TextSlice text = m_document->lineText(line);
    return m_longLineColumns[line] = columnOfByte(text, text.size());
}

const std::vector<Cell>& LogView::checkpoints(LineNumber line) const
{
    if (const auto known = m_checkpoints.find(line); known != m_checkpoints.end())
        return known->second;
    if (m_checkpoints.size() > 64)
        m_checkpoints.clear();
    // One walk over the line; the last point is its end.
    const TextSlice text = m_document->lineText(line);
    std::vector<Cell>& points = m_checkpoints[line];
    points.push_back({0, 0});
    Cell at{0, 0};
    while (at.byte < text.size()) {
        const Cluster cell = clusterAt(text, at, true);
        at = {cell.end, cell.column + cell.width};
        if (at.byte - points.back().byte >= kCheckpointBytes)
            points.push_back(at);
    }
    if (points.back().byte != text.size())
        points.push_back(at);
    return points;
}

Cell LogView::anchorForByte(LineNumber line, std::size_t index) const
{
    if (!utf8() || lineLength(line) < kLongLine)
        return {0, 0};
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), index,
                                  [](std::size_t i, const Cell& c) { return i < c.byte; });
    return *std::prev(after);
}

Cell LogView::anchorForColumn(LineNumber line, std::int64_t column) const
{
    if (!utf8() || lineLength(line) < kLongLine)
        return {0, 0};
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), column,
                                  [](std::int64_t c, const Cell& p) { return c < p.column; });
    return *std::prev(after);
}

const std::vector<Cell>* LogView::wrappedRowStarts(LineNumber line) const
{
    if (lineLength(line) >= kLongLine)
        return nullptr;
    if (const auto known = m_wrapRows.find(line); known != m_wrapRows.end())
        return &known->second;
    if (m_wrapRows.size() > 4096)
        m_wrapRows.clear();
    const TextSlice text = m_document->lineText(line);
    std::vector<Cell>& rows = m_wrapRows[line];
    wrapLine(text, utf8(), visibleColumns(), rows);
    return &rows;
}

std::int64_t LogView::rowsOfLine(LineNumber line) const
{
    if (!m_wordWrap)
        return 1;
    if (const std::vector<Cell>* rows = wrappedRowStarts(line))
        return static_cast<std::int64_t>(rows->size());
    return wrappedRows(lineColumns(line), visibleColumns());
}

Cell LogView::rowStart(const RowPos& pos) const
{
    const TextSlice text = m_document->lineText(pos.line);
    std::int64_t column = m_firstColumn;
    if (m_wordWrap) {
        if (const std::vector<Cell>* rows = wrappedRowStarts(pos.line))
            return (*rows)[static_cast<std::size_t>(std::clamp<std::int64_t>(pos.subRow, 0, std::int64_t(rows->size()) - 1))];
        column = pos.subRow * visibleColumns();
    }
    return cellAtColumn(text, column, utf8(), anchorForColumn(pos.line, column));
}

Cell LogView::rowEnd(const RowPos& pos) const
{
    if (m_wordWrap && pos.subRow + 1 < rowsOfLine(pos.line))
        return rowStart({pos.line, pos.subRow + 1});
    const TextSlice text = m_document->lineText(pos.line);
    return {text.size(), lineColumns(pos.line)};
}

std::int64_t LogView::columnOfOffset(ByteOffset offset) const
{
    const LineNumber line = m_document->lineFromOffset(offset);
    const TextSlice text = m_document->lineText(line);
    const auto index = std::min(static_cast<std::size_t>(offset - m_document->lineIndex(line)), text.size());
    return columnOfByte(text, index, utf8(), anchorForByte(line, index));
}

LogView::RowPos LogView::rowOfOffset(ByteOffset offset) const
{
    RowPos pos{m_document->lineFromOffset(offset), 0};
    if (!m_wordWrap)
        return pos;
    if (const std::vector<Cell>* rows = wrappedRowStarts(pos.line)) {
        const auto index = static_cast<std::size_t>(offset - m_document->lineIndex(pos.line));
        auto after = std::upper_bound(rows->begin(), rows->end(), index,
                                      [](std::size_t i, const Cell& c) { return i < c.byte; });
        pos.subRow = std::max<std::int64_t>(0, (after - rows->begin()) - 1);
        return pos;
    }
    pos.subRow = std::min(columnOfOffset(offset) / visibleColumns(), rowsOfLine(pos.line) - 1);
    return pos;
}

bool LogView::nextRow(RowPos& pos) const
{
    if (pos.subRow + 1 < rowsOfLine(pos.line)) {
        ++pos.subRow;
        return true;
    }
    if (pos.line + 1 >= m_document->rowCount())
        return false;
    ++pos.line;
    pos.subRow = 0;
    return true;
}

bool LogView::previousRow(RowPos& pos) const
{
    if (pos.subRow > 0) {
        --pos.subRow;
        return true;
    }
    if (pos.line == 0)
        return false;
    --pos.line;
    pos.subRow = rowsOfLine(pos.line) - 1;
    return true;
}

std::int64_t LogView::moveRows(RowPos& pos, std::int64_t n) const
{
    if (!m_wordWrap) {
        const LineNumber target =
            std::clamp<LineNumber>(pos.line + n, 0, m_document->rowCount() - 1);
        const std::int64_t moved = target - pos.line;
        pos = {target, 0};
        return moved;
    }
    std::int64_t moved = 0;
    while (moved < n && nextRow(pos))
        ++moved;
    while (moved > n && previousRow(pos))
        --moved;
    return moved;
}

std::int64_t LogView::rowFirstColumn(const RowPos& pos) const
{
    if (!m_wordWrap)
        return m_firstColumn;
    if (const std::vector<Cell>* rows = wrappedRowStarts(pos.line))
        return (*rows)[static_cast<std::size_t>(std::clamp<std::int64_t>(pos.subRow, 0, std::int64_t(rows->size()) - 1))].column;
    return pos.subRow * visibleColumns();
}

std::int64_t LogView::rowsFromTop(const RowPos& pos, std::int64_t limit) const
{
    if (!m_wordWrap)
        return pos.line - m_topLine;
    RowPos walk{m_topLine, m_topSubRow};
    const bool below = pos.line > walk.line || (pos.line == walk.line && pos.subRow >= walk.subRow);
    std::int64_t count = 0;
    while ((walk.line != pos.line || walk.subRow != pos.subRow) && count <= limit) {
        if (!(below ? nextRow(walk) : previousRow(walk)))
            break;
        ++count;
    }
    return below ? count : -count;
}

ByteOffset LogView::offsetAtRowColumn(const RowPos& pos, double column) const
{
    const TextSlice text = m_document->lineText(pos.line);
    const ByteOffset lineStart = m_document->lineIndex(pos.line);
    if (!m_wordWrap) {
        const auto whole = static_cast<std::int64_t>(std::max(0.0, std::floor(column)));
        return lineStart + static_cast<ByteOffset>(
                               caretIndexAtColumn(text, column, utf8(), anchorForColumn(pos.line, whole)));
    }
    const Cell start = rowStart(pos);
    const Cell end = rowEnd(pos);
    column = std::clamp(column, static_cast<double>(start.column),
                        static_cast<double>(std::max(start.column, end.column)));
    std::size_t index = caretIndexAtColumn(text, column, utf8(), start);
    // The end of a row that another row follows is the start of that next row: keep the caret
    // on this row, before its last character.
    if (pos.subRow + 1 < rowsOfLine(pos.line) && index >= end.byte && end.byte > start.byte)
        index = previousBoundary(text, end.byte, utf8());
    return lineStart + static_cast<ByteOffset>(index);
}

ByteOffset LogView::offsetAtPoint(const QPoint& point) const
{
    RowPos pos{m_topLine, m_topSubRow};
    const auto row = static_cast<std::int64_t>(
        std::floor(static_cast<double>(point.y()) / m_renderer.lineHeight()));
    moveRows(pos, row);
    const double column = static_cast<double>(rowFirstColumn(pos)) +
                          (point.x() - kMargin) / m_renderer.cellWidth();
    return offsetAtRowColumn(pos, column);
}

QPoint LogView::caretPixelPos() const
{
    const RowPos pos = rowOfOffset(m_caret);
    const std::int64_t limit = 2 * static_cast<std::int64_t>(visibleRows()) + 2;
    const std::int64_t rows = std::clamp<std::int64_t>(rowsFromTop(pos, limit), -limit, limit);
    const qreal x = kMargin + static_cast<qreal>(columnOfOffset(m_caret) - rowFirstColumn(pos)) *
                                  m_renderer.cellWidth();
    return QPoint(static_cast<int>(x), static_cast<int>(rows * m_renderer.lineHeight()));
}

// --- Scrolling ----------------------------------------------------------------------------

LogView::RowPos LogView::lastPageTop() const
{
    const LineCount rows = m_document->rowCount();
    RowPos last{rows - 1, rowsOfLine(rows - 1) - 1};
    moveRows(last, -(visibleRows() - 1));
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
    top.subRow = std::clamp<std::int64_t>(top.subRow, 0, rowsOfLine(top.line) - 1);
    m_topLine = top.line;
    m_topSubRow = top.subRow;
    updateScrollBars();
    viewport()->update();
}

void LogView::scrollRows(std::int64_t n)
{
    RowPos top{m_topLine, m_topSubRow};
    moveRows(top, n);
    setTop(top);
}

void LogView::updateScrollBars()
{
    m_settingScrollBars = true;
    QScrollBar* vertical = verticalScrollBar();
    const auto maxTop = static_cast<int>(std::min<LineNumber>(lastPageTop().line, INT32_MAX));
    vertical->setRange(0, std::max(maxTop, static_cast<int>(std::min<LineNumber>(m_topLine, INT32_MAX))));
    vertical->setPageStep(visibleRows());
    vertical->setValue(static_cast<int>(std::min<LineNumber>(m_topLine, INT32_MAX)));

    QScrollBar* horizontal = horizontalScrollBar();
    if (m_wordWrap) {
        horizontal->setRange(0, 0);
    } else {
        const std::int64_t columns = visibleColumns();
        // Room for the caret after the widest line's last character.
        const std::int64_t maxFirst =
            std::max<std::int64_t>(m_document->widestLineColumns() + 1 - columns, m_firstColumn);
        horizontal->setRange(0, static_cast<int>(std::clamp<std::int64_t>(maxFirst, 0, INT32_MAX)));
        horizontal->setPageStep(static_cast<int>(std::min<std::int64_t>(columns, INT32_MAX)));
        horizontal->setValue(static_cast<int>(std::min<std::int64_t>(m_firstColumn, INT32_MAX)));
    }
    m_settingScrollBars = false;
}

void LogView::scrollContentsBy(int, int)
{
    if (m_settingScrollBars)
        return;
    // The user moved a scroll bar: the vertical one counts lines, the horizontal one columns.
    if (verticalScrollBar()->value() != m_topLine) {
        m_topLine = verticalScrollBar()->value();
        m_topSubRow = 0;
    }
    if (!m_wordWrap)
        m_firstColumn = horizontalScrollBar()->value();
    viewport()->update();
}

void LogView::scrollCaretIntoView()
{
    const RowPos caret = rowOfOffset(m_caret);
    const std::int64_t rows = visibleRows();
    const std::int64_t fromTop = rowsFromTop(caret, rows);
    if (fromTop < 0) {
        setTop(caret);
    } else if (fromTop >= rows) {
        RowPos top = caret;
        moveRows(top, -(rows - 1));
        setTop(top);
    }
    if (!m_wordWrap) {
        const std::int64_t column = columnOfOffset(m_caret);
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
        return start + static_cast<ByteOffset>(previousBoundary(
                           m_document->lineText(line).view(), static_cast<std::size_t>(offset - start), utf8()));
    return m_document->lineContentEnd(line - 1);
}

ByteOffset LogView::stepRight(ByteOffset offset) const
{
    const LineNumber line = m_document->lineFromOffset(offset);
    const ByteOffset start = m_document->lineIndex(line);
    if (offset < m_document->lineContentEnd(line))
        return start + static_cast<ByteOffset>(nextBoundary(
                           m_document->lineText(line).view(), static_cast<std::size_t>(offset - start), utf8()));
    if (line + 1 < m_document->rowCount())
        return m_document->lineIndex(line + 1);
    return m_document->size();
}

ByteOffset LogView::verticalMove(std::int64_t rows)
{
    RowPos pos = rowOfOffset(m_caret);
    double column = m_desiredColumn;
    if (column < 0)
        column = static_cast<double>(columnOfOffset(m_caret) - (m_wordWrap ? rowFirstColumn(pos) : 0));
    moveRows(pos, rows);
    const double base = m_wordWrap ? static_cast<double>(rowFirstColumn(pos)) : 0.0;
    const ByteOffset target = offsetAtRowColumn(pos, base + column);
    m_desiredColumn = column;
    return target;
}

void LogView::selectWordAt(ByteOffset offset)
{
    // A line break is a boundary: the word lies within its line.
    offset = std::clamp<ByteOffset>(offset, 0, m_document->size());
    const LineNumber line = m_document->lineFromOffset(offset);
    const ByteOffset lineStart = m_document->lineIndex(line);
    const TextSlice text = m_document->slice(lineStart, m_document->lineIndex(line + 1));
    auto start = static_cast<std::size_t>(offset - lineStart);
    std::size_t end = start;
    while (start > 0 && !isWordBoundary(text[start - 1]))
        --start;
    while (end < text.size() && !isWordBoundary(text[end]))
        ++end;
    setSelection(lineStart + static_cast<ByteOffset>(start), static_cast<ByteOffset>(end - start));
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
                         std::size_t rowEnd, int y) const
{
    if (m_marked.pattern.empty() || rowEnd <= row.start.byte)
        return;
    // Only the bytes this row shows are searched, and a pattern's length around them.
    TextSearch search = m_marked;
    search.asciiCaseOnly = m_encoding != Encoding::Windows1252;
    const ByteOffset lineStart = m_document->lineIndex(line);
    const auto from = static_cast<ByteOffset>(row.start.byte);
    const auto to = static_cast<ByteOffset>(rowEnd);
    const qreal cell = m_renderer.cellWidth();
    for (const auto& [start, end] : OccurrencesTouching(search, *m_document, lineStart + from, lineStart + to)) {
        const auto first = static_cast<std::size_t>(std::clamp(start - lineStart, from, to));
        const auto last = static_cast<std::size_t>(std::clamp(end - lineStart, from, to));
        if (last <= first)
            continue;
        const std::int64_t left = columnOfByte(row.line, first, utf8(), anchorForByte(line, first));
        const std::int64_t right = columnOfByte(row.line, last, utf8(), anchorForByte(line, last));
        painter.fillRect(QRectF(kMargin + static_cast<qreal>(left - row.firstColumn) * cell, y,
                                static_cast<qreal>(right - left) * cell, lineHeight()),
                         kMarkColour);
    }
}

// --- Events ------------------------------------------------------------------------------

void LogView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), m_background);

    const LineRenderer::Palette colours{m_textColour, palette().color(QPalette::Highlight),
                                        palette().color(QPalette::HighlightedText)};
    const int lineHeight = m_renderer.lineHeight();
    const int rows = viewport()->height() / lineHeight + 1;
    const ByteOffset selStart = selectionStart();
    const ByteOffset selEnd = selStart + selectionLength();
    const LineCount lineRows = m_document->rowCount();
    const std::int64_t columns = visibleColumns() + 1;

    RowPos pos{m_topLine, m_topSubRow};
    const RowPos caret = rowOfOffset(m_caret);
    int caretRow = -1;
    std::int64_t caretFirstColumn = 0;
    LineNumber measuredLine = -1; // the line whose selection columns `row` holds
    TextSlice measuredText;       // its bytes, which `row` points into
    Cell carried{0, 0};           // where the previous row of the same line stopped
    LineRenderer::Row row;
    std::vector<ColourSpan> spans;
    for (int i = 0, y = 0; i < rows; ++i, y += lineHeight) {
        const TextSlice text = m_document->lineText(pos.line);
        if (pos.line != measuredLine) {
            // Per line: its selected bytes and their columns, and its width.
            measuredLine = pos.line;
            const ByteOffset lineStart = m_document->lineIndex(pos.line);
            const auto length = static_cast<ByteOffset>(text.size());
            measuredText = text;
            row.line = measuredText;
            row.encoding = m_encoding;
            row.selectionStart = static_cast<std::size_t>(std::clamp<ByteOffset>(selStart - lineStart, 0, length));
            row.selectionEnd = static_cast<std::size_t>(std::clamp<ByteOffset>(selEnd - lineStart, 0, length));
            const bool selected = row.selectionEnd > row.selectionStart;
            const bool wide = utf8();
            row.selectionStartColumn =
                selected ? columnOfByte(text, row.selectionStart, wide, anchorForByte(pos.line, row.selectionStart)) : 0;
            row.selectionEndColumn =
                selected ? columnOfByte(text, row.selectionEnd, wide, anchorForByte(pos.line, row.selectionEnd)) : 0;
            row.breakSelected = pos.line + 1 < lineRows && selStart <= lineStart + length &&
                                selEnd > lineStart + length;
            row.lineColumns = lineColumns(pos.line);
            // Later rows of a long wrapped line start where the row before stopped.
            carried = rowStart(pos);
        }
        const std::vector<Cell>* wrapped = m_wordWrap ? wrappedRowStarts(pos.line) : nullptr;
        row.firstColumn = rowFirstColumn(pos);
        row.columns = columns;
        row.start = wrapped ? rowStart(pos) : carried;
        row.lastRowOfLine = pos.subRow + 1 >= rowsOfLine(pos.line);
        row.endByte = wrapped ? rowEnd(pos).byte : std::string_view::npos;

        // The colours of the bytes this row can show: each column shows at most one byte of
        // single-byte text, a few of UTF-8.
        spans.clear();
        const std::size_t perColumn = utf8() ? 8 : 1;
        const std::size_t rowEnd = std::min(
            {text.size(), row.endByte, row.start.byte + perColumn * static_cast<std::size_t>(columns) + 1});
        for (const LabelSpan& span : labelSpans(pos.line, row.start.byte, std::max(rowEnd, row.start.byte + 1))) {
            if (span.end > row.start.byte && span.start < rowEnd)
                spans.push_back({span.start, span.end, colourOf(span.colour, m_textColour)});
        }
        row.spans = &spans;
        paintMarks(painter, pos.line, row, rowEnd, y);
        carried = m_renderer.paintRow(painter, kMargin, y, row, colours);
        if (pos.line == caret.line && pos.subRow == caret.subRow) {
            caretRow = i;
            caretFirstColumn = row.firstColumn;
        }
        if (!nextRow(pos))
            break;
    }

    if (hasFocus() && caretRow >= 0) {
        const qreal x = kMargin + static_cast<qreal>(columnOfOffset(m_caret) - caretFirstColumn) *
                                      m_renderer.cellWidth();
        painter.fillRect(QRectF(x, caretRow * lineHeight, 1, lineHeight), m_textColour);
    }
    if (m_lineNumbers)
        m_gutter->update();
}

void LogView::setLineNumbersShown(bool on)
{
    m_lineNumbers = on;
    updateGutter();
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
    m_wrapRows.clear(); // rows break at another column
    updateGutter();
    setTop({m_topLine, m_topSubRow});
    scrollCaretIntoView();
    viewport()->update();
}

int LogView::gutterWidth() const
{
    if (!m_lineNumbers)
        return 0;
    // Room for the highest number, at least three digits so that a growing log rarely moves
    // its text sideways.
    int digits = 1;
    for (LineCount n = std::max<LineCount>(m_document->lineCount(), 1); n >= 10; n /= 10)
        ++digits;
    return static_cast<int>(std::ceil(std::max(digits, 3) * m_renderer.cellWidth())) + 2 * 4;
}

void LogView::updateGutter()
{
    const int width = gutterWidth();
    if (viewportMargins().left() != width) {
        setViewportMargins(width, 0, 0, 0);
        m_wrapRows.clear(); // the text's width changed
    }
    m_gutter->setVisible(width > 0);
    const QRect area = contentsRect();
    m_gutter->setGeometry(area.left(), area.top(), width, viewport()->height());
    m_gutter->update();
}

void LogView::paintGutter(QPaintEvent* event)
{
    QPainter painter(m_gutter);
    painter.fillRect(event->rect(), QColor(240, 240, 240));
    painter.setPen(QColor(128, 128, 128));
    painter.setFont(m_renderer.font());
    const int lineHeight = m_renderer.lineHeight();
    const int rows = m_gutter->height() / lineHeight + 1;
    const LineCount lines = m_document->lineCount();
    RowPos pos{m_topLine, m_topSubRow};
    for (int i = 0, y = 0; i < rows; ++i, y += lineHeight) {
        // A wrapped line is numbered on its first row only.
        if (pos.subRow == 0 && pos.line < lines) {
            painter.drawText(QRect(0, y, m_gutter->width() - 4, lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(pos.line + 1));
        }
        if (!nextRow(pos))
            break;
    }
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateGutter();
    m_wrapRows.clear(); // rows break at the width
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
