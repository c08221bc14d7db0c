#include "view/logview.h"

#include "core/cp1252.h"
#include "document/logdocument.h"
#include "document/linelayout.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QScopedValueRollback>
#include <QtConcurrent/QtConcurrentRun>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <optional>
#include <cmath>

namespace tlg {

namespace {

constexpr int kMargin = 2;
// The light background of the find text's occurrences.
const QColor kMarkColour(255, 236, 140);
// A long line keeps at most about this many remembered points, however long it is.
constexpr std::size_t kMostCheckpoints = 65536;
// Points remembered for all long lines together, before they are forgotten.
constexpr std::size_t kCheckpointBudget = std::size_t(1) << 20;
// Words longer than colourReach whose colours are remembered.
constexpr std::size_t kLongWordsKept = 16;
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

// The bytes that end a coloured word run (colourrules.h).
bool isRunBoundary(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

std::size_t longestLabel(const ColourRules& rules)
{
    std::size_t longest = 0;
    for (const auto* labels : {&rules.infoLabels, &rules.errorLabels}) {
        for (const std::string& label : *labels)
            longest = std::max(longest, label.size());
    }
    return longest;
}

} // namespace

// The line-number gutter: a strip in the view's left margin that the view paints.
class LogView::Gutter : public QWidget {
public:
    explicit Gutter(LogView* view) : QWidget(view), m_view(view) {}

protected:
    void paintEvent(QPaintEvent* event) override { m_view->paintGutter(event); }
    // A click sets or takes away the mark of the line beside it.
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        const ByteOffset at = m_view->offsetAtPoint(QPoint(0, static_cast<int>(event->position().y())));
        const LineNumber line = m_view->m_document->lineFromOffset(at);
        if (line < EndLine(m_view->m_document->lineCount()))
            m_view->toggleLineMark(line.value());
    }
    // Over a log made of several files, the tooltip names the file of the line beside it.
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QWidget::event(event);
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString name = m_view->fileNameAt(help->pos().y());
        if (name.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), name, this);
        return true;
    }

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

LogView::~LogView()
{
    stopLongWordJob();
}

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

void LogView::setDocument(LinesPtr document, RulesPtr rules)
{
    document = document ? std::move(document) : LogDocument::empty();
    // A log that grew keeps what was measured of the lines it had: only its last line can
    // have changed, and a long one is measured on from where it ended.
    const LineCount keptRows = document != m_document && document->grewFrom(*m_document) ? m_document->rowCount() : 0;
    const bool sameRules = rules == m_rules;
    m_document = std::move(document);
    m_rules = std::move(rules);
    m_matchRules = rulesFor(m_rules, m_encoding);
    forgetLayout(keptRows);
    if (!sameRules)
        forgetLongWords();
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
    forgetLongWords();
    m_windowLine = -1;
    viewport()->update();
    emit contentChanged();
}

void LogView::forgetLayout(LineCount keptRows)
{
    m_spans.clear();
    m_wrapRows.clear();
    m_grownLine.reset();
    m_windowLine = -1;
    if (keptRows <= 0) {
        forgetLongWords();
        m_checkpoints.clear();
        m_checkpointCount = 0;
        return;
    }
    const LineNumber last = EndLine(keptRows) - 1;
    if (const auto known = m_checkpoints.find(last); known != m_checkpoints.end()) {
        // The points that no byte after the old end can move (a character cut by the end, or
        // marks joining its last one, would move those just before it).
        std::vector<Cell> points = std::move(known->second);
        const std::size_t end = points.back().byte;
        while (points.size() > 1 && points.back().byte + 8 > end)
            points.pop_back();
        m_grownLine = std::make_pair(last, std::move(points));
    }
    m_checkpointCount = 0;
    for (auto it = m_checkpoints.begin(); it != m_checkpoints.end();) {
        if (it->first >= last) {
            it = m_checkpoints.erase(it);
        } else {
            m_checkpointCount += it->second.size();
            ++it;
        }
    }
    // A word reaching the old last line's break may run on; a lone CR there may become CR LF.
    std::erase_if(m_longWords, [last](const LongWord& word) { return word.line + 1 >= last; });
    stopLongWordJob();
}

void LogView::setLongLineSizes(const LongLineSizes& sizes)
{
    m_sizes = sizes;
    m_sizes.longLine = std::max<std::size_t>(m_sizes.longLine, 1);
    m_sizes.checkpointBytes = std::max<std::size_t>(m_sizes.checkpointBytes, 1);
    m_sizes.scanChunk = std::max<std::size_t>(m_sizes.scanChunk, 16);
    forgetLayout();
    setTop({m_topLine, m_topSubRow});
    viewport()->update();
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
    if (m_caret - start <= lineLength(line))
        m_caret = start + static_cast<ByteOffset>(boundaryAt(line, static_cast<std::size_t>(m_caret - start)));
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
        const Cluster cell = clusterAt(text, at, utf8());
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
    // A long line is coloured around the part in sight only, and not remembered.
    if (isLong(line))
        return longLineSpans(line, from, to);
    if (const auto known = m_spans.find(line); known != m_spans.end())
        return known->second;
    if (m_spans.size() > 4096)
        m_spans.clear();
    // The line with its break: a word run ends with the boundary byte after it.
    const TextSlice text = m_document->slice(m_document->lineIndex(line), m_document->lineIndex(line + 1));
    std::vector<LabelSpan>& spans = m_spans[line];
    ColourLine(text, *m_matchRules, spans);
    return spans;
}

const std::vector<LabelSpan>& LogView::longLineSpans(LineNumber line, std::size_t from, std::size_t to) const
{
    const ByteOffset lineStart = m_document->lineIndex(line);
    const auto size = static_cast<std::size_t>(m_document->lineIndex(line + 1) - lineStart); // with its break
    to = std::clamp<std::size_t>(to, 1, size);
    from = std::min(from, to - 1);
    // The rows of a paint ask for parts of the stretch asked for first.
    if (m_windowLine == line && m_windowFrom <= from && to <= m_windowTo)
        return m_windowSpans;
    m_windowLine = line;
    m_windowFrom = from;
    m_windowTo = to;
    const std::size_t room = longestLabel(*m_matchRules);
    m_windowSpans.clear();
    if (room == 0 || (!m_matchRules->showInfo && !m_matchRules->showErrors))
        return m_windowSpans; // nothing can colour a word
    // The words that hold the window are coloured alike from a stretch around it, unless one
    // of them runs past the stretch: such a word is measured on its own.
    const std::size_t first = from > m_sizes.colourReach ? from - m_sizes.colourReach : 0;
    const std::size_t last = std::min(size, to + m_sizes.colourReach + room);
    const TextSlice part = m_document->slice(lineStart + static_cast<ByteOffset>(first),
                                             lineStart + static_cast<ByteOffset>(last));
    ColourLine(part, *m_matchRules, m_windowSpans, from - first, to - first);
    for (LabelSpan& span : m_windowSpans) {
        span.start += first;
        span.end += first;
    }
    std::vector<LongWord> cut;
    if (first > 0 && WordRun(part, from - first).first == 0)
        cut.push_back(longWordAt(line, from));
    if (last < size && WordRun(part, to - 1 - first).second + room > part.size())
        cut.push_back(longWordAt(line, to - 1));
    for (const LongWord& word : cut) {
        // The word's colour replaces what the stretch gave its bytes.
        std::vector<LabelSpan> kept;
        for (const LabelSpan& span : m_windowSpans) {
            if (span.start < word.start)
                kept.push_back({span.start, std::min(span.end, word.start), span.colour});
            if (span.end > word.end)
                kept.push_back({std::max(span.start, word.end), span.end, span.colour});
        }
        if (word.colour != LabelColour::None)
            kept.push_back({word.start, word.end, word.colour});
        std::sort(kept.begin(), kept.end(), [](const LabelSpan& a, const LabelSpan& b) { return a.start < b.start; });
        m_windowSpans = std::move(kept);
    }
    return m_windowSpans;
}

LogView::LongWord LogView::longWordAt(LineNumber line, std::size_t index) const
{
    for (const LongWord& word : m_longWords) {
        if (word.line == line && word.start <= index && index < word.end)
            return word;
    }
    if (m_painting) {
        // A paint never waits for a pass over a huge word: it is measured beside the GUI thread
        // and painted again once known; until then the words around the window colour it.
        startLongWordJob(line, index);
        return {line, index, index, LabelColour::None};
    }
    const LongWord word = measureLongWord(*m_document, *m_matchRules, m_sizes.scanChunk, line, index, nullptr);
    keepLongWord(word);
    return word;
}

void LogView::keepLongWord(const LongWord& word) const
{
    if (m_longWords.size() >= kLongWordsKept)
        m_longWords.erase(m_longWords.begin());
    m_longWords.push_back(word);
}

void LogView::forgetLongWords()
{
    m_longWords.clear();
    stopLongWordJob();
}

void LogView::stopLongWordJob() const
{
    if (m_longWordCancel)
        m_longWordCancel->store(true);
    m_longWordCancel.reset();
    if (m_longWordJob) {
        m_longWordJob->disconnect();
        m_longWordJob->deleteLater();
        m_longWordJob = nullptr;
    }
}

void LogView::startLongWordJob(LineNumber line, std::size_t index) const
{
    if (m_longWordJob)
        return; // one at a time: the paint after it asks for the next
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_longWordCancel = cancel;
    auto* job = new QFutureWatcher<LongWord>(const_cast<LogView*>(this));
    m_longWordJob = job;
    const LinesPtr document = m_document;
    const RulesPtr rules = m_matchRules;
    connect(job, &QFutureWatcher<LongWord>::finished, this, [this, job, document, rules] {
        const LongWord word = job->result();
        job->deleteLater();
        m_longWordJob = nullptr;
        m_longWordCancel.reset();
        if (document != m_document || rules != m_matchRules)
            return;
        keepLongWord(word);
        m_windowLine = -1; // the window's colours are worked out again with it
        viewport()->update();
    });
    job->setFuture(QtConcurrent::run([document, rules, chunk = m_sizes.scanChunk, line, index, cancel] {
        return measureLongWord(*document, *rules, chunk, line, index, cancel.get());
    }));
}

LogView::LongWord LogView::measureLongWord(const LineSource& document, const ColourRules& rules, std::size_t chunk,
                                           LineNumber line, std::size_t index, const std::atomic<bool>* cancel)
{
    auto going = [cancel] { return !cancel || !cancel->load(std::memory_order_relaxed); };
    const ByteOffset lineStart = document.lineIndex(line);
    const auto size = static_cast<std::size_t>(document.lineIndex(line + 1) - lineStart);
    LongWord word{line, 0, size, LabelColour::None};
    document.forEachChunkBackwards(lineStart, lineStart + static_cast<ByteOffset>(index), chunk, 0,
                                   [&](ByteOffset at, std::string_view bytes) {
                                       for (std::size_t i = bytes.size(); i > 0; --i) {
                                           if (isRunBoundary(bytes[i - 1])) {
                                               word.start = static_cast<std::size_t>(at - lineStart) + i;
                                               return false;
                                           }
                                       }
                                       return going();
                                   });
    document.forEachChunk(lineStart + static_cast<ByteOffset>(index), lineStart + static_cast<ByteOffset>(size), chunk, 0,
                          [&](ByteOffset at, std::string_view bytes) {
                              for (std::size_t i = 0; i < bytes.size(); ++i) {
                                  if (isRunBoundary(bytes[i])) {
                                      word.end = static_cast<std::size_t>(at - lineStart) + i + 1;
                                      return false;
                                  }
                              }
                              return going();
                          });
    // A label colours the word when it starts in it, and may run `room` bytes past its end.
    // Each chunk, read with the `room` bytes before it, is coloured on its own: the run at its
    // start is the word's, coloured by the labels that start in that part of it.
    const std::size_t room = longestLabel(rules);
    std::vector<LabelSpan> spans;
    document.forEachChunk(lineStart + static_cast<ByteOffset>(word.start),
                          lineStart + static_cast<ByteOffset>(std::min(size, word.end + room)), chunk, room,
                          [&](ByteOffset at, std::string_view bytes) {
                              if (static_cast<std::size_t>(at - lineStart) >= word.end)
                                  return false;
                              ColourLine(bytes, rules, spans, 0, 1);
                              if (!spans.empty() && spans.front().start == 0)
                                  word.colour = std::max(word.colour, spans.front().colour);
                              return word.colour != LabelColour::Error && going();
                          });
    return word;
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

QColor LogView::lineTextColour(LineNumber line) const
{
    if (!m_matchRules)
        return m_textColour;
    switch (m_document->lineLevel(line)) {
    case LineLevel::Error:
        return m_matchRules->showErrors ? colourOf(LabelColour::Error, m_textColour) : m_textColour;
    case LineLevel::Info:
        return m_matchRules->showInfo ? colourOf(LabelColour::Info, m_textColour) : m_textColour;
    case LineLevel::None:
        break;
    }
    return m_textColour;
}

QColor LogView::colourAt(std::int64_t at) const
{
    const ByteOffset offset = at;
    const LineNumber line = m_document->lineFromOffset(offset);
    const auto index = static_cast<std::size_t>(offset - m_document->lineIndex(line));
    const QColor base = lineTextColour(line);
    for (const LabelSpan& span : labelSpans(line, index, index + 1)) {
        if (span.start <= index && index < span.end)
            return colourOf(span.colour, base);
    }
    return base;
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

std::int64_t LogView::lineLength(LineNumber line) const
{
    return (m_document->lineContentEnd(line) - m_document->lineIndex(line)).value();
}

bool LogView::isLong(LineNumber line) const
{
    return static_cast<std::size_t>(lineLength(line)) >= m_sizes.longLine;
}

std::int64_t LogView::lineColumns(LineNumber line) const
{
    if (isLong(line))
        return checkpoints(line).back().column;
    const TextSlice text = m_document->lineText(line);
    return columnOfByte(text, text.size(), utf8());
}

const std::vector<Cell>& LogView::checkpoints(LineNumber line) const
{
    if (const auto known = m_checkpoints.find(line); known != m_checkpoints.end())
        return known->second;
    if (m_checkpoints.size() > 256 || m_checkpointCount > kCheckpointBudget) {
        m_checkpoints.clear();
        m_checkpointCount = 0;
    }
    // One pass over the line a chunk at a time, never holding it; the last point is its end.
    const ByteOffset lineStart = m_document->lineIndex(line);
    const auto length = static_cast<std::size_t>(lineLength(line));
    const std::size_t spacing = std::max(m_sizes.checkpointBytes, length / kMostCheckpoints + 1);
    std::vector<Cell> points{{0, 0}};
    if (m_grownLine && m_grownLine->first == line && m_grownLine->second.back().byte <= length) {
        // The line grew: it is measured on from its last lasting point.
        points = std::move(m_grownLine->second);
        m_grownLine.reset();
    }
    Cell at = points.back(); // where the pass stands, a cell boundary
    while (at.byte < length) {
        const std::size_t to = std::min(length, at.byte + m_sizes.scanChunk);
        const TextSlice bytes = m_document->read(lineStart + static_cast<ByteOffset>(at.byte),
                                                 lineStart + static_cast<ByteOffset>(to));
        const std::string_view chunk = bytes.view();
        const bool lastChunk = to == length;
        Cell local{0, at.column};
        if (!utf8()) {
            // Every byte starts a cell: a point every `spacing` bytes, columns by tab stops.
            std::size_t next = points.back().byte + spacing;
            while (next < to) {
                const std::size_t index = next - at.byte;
                local = {index, columnOfByte(chunk, index, false, local)};
                points.push_back({next, local.column});
                next += spacing;
            }
            local = {chunk.size(), columnOfByte(chunk, chunk.size(), false, local)};
        } else {
            while (local.byte < chunk.size()) {
                // An ASCII byte but a tab that another ASCII byte follows is a cell of one
                // column of its own: the common case, walked without decoding.
                const auto byte = static_cast<unsigned char>(chunk[local.byte]);
                if (byte < 0x80 && byte != '\t' && local.byte + 1 < chunk.size() &&
                    static_cast<unsigned char>(chunk[local.byte + 1]) < 0x80) {
                    local = {local.byte + 1, local.column + 1};
                    if (at.byte + local.byte - points.back().byte >= spacing)
                        points.push_back({at.byte + local.byte, local.column});
                    continue;
                }
                const Cluster cell = clusterAt(chunk, local, true);
                // A cell near the chunk's end may go on in the next chunk (a character cut in
                // two, or a mark that joins it): it is walked again from there.
                if (!lastChunk && cell.end + 4 > chunk.size() && local.byte > 0)
                    break;
                local = {cell.end, cell.column + cell.width};
                if (at.byte + local.byte - points.back().byte >= spacing && at.byte + local.byte < length)
                    points.push_back({at.byte + local.byte, local.column});
            }
        }
        at = {at.byte + local.byte, local.column};
    }
    if (points.back().byte != length || length == 0)
        points.push_back(at);
    if (points.size() > 1 && points[points.size() - 2].byte == points.back().byte)
        points.erase(points.end() - 2);
    points.shrink_to_fit();
    m_checkpointCount += points.size();
    return m_checkpoints[line] = std::move(points);
}

Cell LogView::anchorForByte(LineNumber line, std::size_t index) const
{
    if (!isLong(line))
        return {0, 0};
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), index,
                                  [](std::size_t i, const Cell& c) { return i < c.byte; });
    return *std::prev(after);
}

Cell LogView::anchorForColumn(LineNumber line, std::int64_t column) const
{
    if (!isLong(line))
        return {0, 0};
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), column,
                                  [](std::int64_t c, const Cell& p) { return c < p.column; });
    return after == points.begin() ? points.front() : *std::prev(after);
}

std::size_t LogView::pointAfterByte(LineNumber line, std::size_t index) const
{
    const auto length = static_cast<std::size_t>(lineLength(line));
    if (!isLong(line))
        return length;
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), index,
                                  [](std::size_t i, const Cell& c) { return i < c.byte; });
    return after == points.end() ? length : after->byte;
}

std::size_t LogView::pointAfterColumn(LineNumber line, std::int64_t column) const
{
    const auto length = static_cast<std::size_t>(lineLength(line));
    if (!isLong(line))
        return length;
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), column,
                                  [](std::int64_t c, const Cell& p) { return c < p.column; });
    return after == points.end() ? length : after->byte;
}

LogView::Stretch LogView::stretch(LineNumber line, std::size_t from, std::size_t to) const
{
    if (!isLong(line))
        return {m_document->lineText(line), 0};
    const ByteOffset lineStart = m_document->lineIndex(line);
    to = std::min(to, static_cast<std::size_t>(lineLength(line)));
    from = std::min(from, to);
    return {m_document->slice(lineStart + static_cast<ByteOffset>(from), lineStart + static_cast<ByteOffset>(to)),
            from};
}

std::optional<LogView::Stretch> LogView::headOf(LineNumber line) const
{
    if (!isLong(line) || m_checkpoints.count(line) != 0)
        return std::nullopt;
    return stretch(line, 0, m_sizes.checkpointBytes);
}

bool LogView::Stretch::sure(std::size_t index, std::size_t lineLength) const
{
    // What decides a cell lies within a few bytes after it.
    return index + 8 < bytes.size() || base + bytes.size() == lineLength;
}

std::int64_t LogView::columnAt(LineNumber line, std::size_t index, Cell hint) const
{
    const auto length = static_cast<std::size_t>(lineLength(line));
    index = std::min(index, length);
    if (const auto head = headOf(line); head && head->sure(index, length))
        return columnOfByte(head->bytes, index, utf8(), {0, 0});
    Cell from = anchorForByte(line, index);
    if (hint.byte <= index && hint.byte > from.byte)
        from = hint;
    const Stretch part = stretch(line, from.byte, pointAfterByte(line, index));
    return columnOfByte(part.bytes, index - part.base, utf8(), part.local(from));
}

Cell LogView::cellAt(LineNumber line, std::int64_t column, Cell hint) const
{
    if (const auto head = headOf(line)) {
        const Cell cell = cellAtColumn(head->bytes, column, utf8(), {0, 0});
        if (head->sure(cell.byte, static_cast<std::size_t>(lineLength(line))))
            return cell;
    }
    Cell from = anchorForColumn(line, column);
    if (hint.column <= column && hint.byte > from.byte)
        from = hint;
    const Stretch part = stretch(line, from.byte, pointAfterColumn(line, column));
    const Cell cell = cellAtColumn(part.bytes, column, utf8(), part.local(from));
    return {cell.byte + part.base, cell.column};
}

std::size_t LogView::caretIndexAt(LineNumber line, double column, Cell hint) const
{
    if (const auto head = headOf(line)) {
        const std::size_t index = caretIndexAtColumn(head->bytes, column, utf8(), {0, 0});
        if (head->sure(index, static_cast<std::size_t>(lineLength(line))))
            return index;
    }
    const auto whole = static_cast<std::int64_t>(std::max(0.0, std::floor(column)));
    Cell from = anchorForColumn(line, whole);
    if (hint.column <= whole && hint.byte > from.byte)
        from = hint;
    const Stretch part = stretch(line, from.byte, pointAfterColumn(line, whole));
    return caretIndexAtColumn(part.bytes, column, utf8(), part.local(from)) + part.base;
}

std::size_t LogView::boundaryAt(LineNumber line, std::size_t index) const
{
    index = std::min(index, static_cast<std::size_t>(lineLength(line)));
    if (!utf8())
        return index;
    if (const auto head = headOf(line); head && head->sure(index, static_cast<std::size_t>(lineLength(line))))
        return boundaryAtOrBefore(head->bytes, index, true);
    const Cell from = anchorForByte(line, index);
    const Stretch part = stretch(line, from.byte, pointAfterByte(line, index));
    return boundaryAtOrBefore(part.bytes, index - part.base, true) + part.base;
}

std::size_t LogView::nextBoundaryAt(LineNumber line, std::size_t index) const
{
    const auto length = static_cast<std::size_t>(lineLength(line));
    if (index >= length)
        return length;
    if (!utf8())
        return index + 1;
    if (const auto head = headOf(line)) {
        const std::size_t next = nextBoundary(head->bytes, index, true);
        if (head->sure(next, length))
            return next;
    }
    const Cell from = anchorForByte(line, index);
    const Stretch part = stretch(line, from.byte, pointAfterByte(line, index));
    return nextBoundary(part.bytes, index - part.base, true) + part.base;
}

std::size_t LogView::previousBoundaryAt(LineNumber line, std::size_t index) const
{
    index = std::min(index, static_cast<std::size_t>(lineLength(line)));
    return index == 0 ? 0 : boundaryAt(line, index - 1);
}

const std::vector<Cell>* LogView::wrappedRowStarts(LineNumber line) const
{
    if (isLong(line))
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
    std::int64_t column = m_firstColumn;
    if (m_wordWrap) {
        if (const std::vector<Cell>* rows = wrappedRowStarts(pos.line))
            return (*rows)[static_cast<std::size_t>(std::clamp<std::int64_t>(pos.subRow, 0, std::int64_t(rows->size()) - 1))];
        column = pos.subRow * visibleColumns();
    }
    return cellAt(pos.line, column);
}

Cell LogView::rowEnd(const RowPos& pos) const
{
    if (m_wordWrap && pos.subRow + 1 < rowsOfLine(pos.line))
        return rowStart({pos.line, pos.subRow + 1});
    return {static_cast<std::size_t>(lineLength(pos.line)), lineColumns(pos.line)};
}

std::int64_t LogView::columnOfOffset(ByteOffset offset) const
{
    const LineNumber line = m_document->lineFromOffset(offset);
    return columnAt(line, static_cast<std::size_t>(offset - m_document->lineIndex(line)));
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
    if (pos.line + 1 >= EndLine(m_document->rowCount()))
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
            std::clamp<LineNumber>(pos.line + n, 0, EndLine(m_document->rowCount()) - 1);
        const std::int64_t moved = (target - pos.line).value();
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
        return (pos.line - m_topLine).value();
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
    const ByteOffset lineStart = m_document->lineIndex(pos.line);
    if (!m_wordWrap)
        return lineStart + static_cast<ByteOffset>(caretIndexAt(pos.line, column));
    const Cell start = rowStart(pos);
    const Cell end = rowEnd(pos);
    column = std::clamp(column, static_cast<double>(start.column),
                        static_cast<double>(std::max(start.column, end.column)));
    std::size_t index = caretIndexAt(pos.line, column, start);
    // The end of a row that another row follows is the start of that next row: keep the caret
    // on this row, before its last character.
    if (pos.subRow + 1 < rowsOfLine(pos.line) && index >= end.byte && end.byte > start.byte)
        index = previousBoundaryAt(pos.line, end.byte);
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
    const LineNumber lastLine = EndLine(m_document->rowCount()) - 1;
    RowPos last{lastLine, rowsOfLine(lastLine) - 1};
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
        return start + static_cast<ByteOffset>(previousBoundaryAt(line, static_cast<std::size_t>(offset - start)));
    return m_document->lineContentEnd(line - 1);
}

ByteOffset LogView::stepRight(ByteOffset offset) const
{
    const LineNumber line = m_document->lineFromOffset(offset);
    const ByteOffset start = m_document->lineIndex(line);
    if (offset < m_document->lineContentEnd(line))
        return start + static_cast<ByteOffset>(nextBoundaryAt(line, static_cast<std::size_t>(offset - start)));
    if (line + 1 < EndLine(m_document->rowCount()))
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
    // The line is read a chunk at a time from the offset out, so that a word as long as the
    // line is found without holding it.
    const LineNumber line = m_document->lineFromOffset(offset);
    const ByteOffset lineStart = m_document->lineIndex(line);
    ByteOffset start = offset;
    ByteOffset end = offset;
    m_document->forEachChunkBackwards(lineStart, offset, m_sizes.scanChunk, 0,
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
    m_document->forEachChunk(end, m_document->lineContentEnd(line), m_sizes.scanChunk, 0,
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
        const std::int64_t left = columnOfByte(row.line, first, utf8(), row.start);
        const std::int64_t right = columnOfByte(row.line, last, utf8(), row.start);
        painter.fillRect(QRectF(kMargin + static_cast<qreal>(left - row.firstColumn) * cell, y,
                                static_cast<qreal>(right - left) * cell, lineHeight()),
                         kMarkColour);
    }
}

// --- Events ------------------------------------------------------------------------------

void LogView::paintEvent(QPaintEvent*)
{
    const QScopedValueRollback painting(m_painting, true);
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
    // Each column shows at most one byte of single-byte text, a few of UTF-8.
    const std::size_t perColumn = utf8() ? 8 : 1;

    RowPos pos{m_topLine, m_topSubRow};
    const RowPos caret = rowOfOffset(m_caret);
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
            lineColours.text = lineTextColour(pos.line);
            const ByteOffset lineStart = m_document->lineIndex(pos.line);
            length = static_cast<std::size_t>(lineLength(pos.line));
            longLine = isLong(pos.line);
            whole = longLine ? TextSlice() : m_document->lineText(pos.line);
            const auto bytes = static_cast<ByteOffset>(length);
            row.encoding = m_encoding;
            selectedFrom = static_cast<std::size_t>(std::clamp<ByteOffset>(selStart - lineStart, 0, bytes));
            selectedTo = static_cast<std::size_t>(std::clamp<ByteOffset>(selEnd - lineStart, 0, bytes));
            const bool selected = selectedTo > selectedFrom;
            row.selectionStartColumn = selected ? columnAt(pos.line, selectedFrom) : 0;
            row.selectionEndColumn = selected ? columnAt(pos.line, selectedTo) : 0;
            row.breakSelected = pos.line + 1 < EndLine(lineRows) && selStart <= lineStart + bytes &&
                                selEnd > lineStart + bytes;
            // The width is wanted for the break's cell only: a long line is not measured for it.
            row.lineColumns = row.breakSelected || !longLine ? lineColumns(pos.line) : 0;
            previousStart = {0, 0};
            if (longLine && m_matchRules) {
                // The colours of what the rows below can show of a long line, at once.
                const Cell first = cellAt(pos.line, rowFirstColumn(pos));
                const auto rowsOfIt = static_cast<std::size_t>(m_wordWrap ? rows - i : 1);
                const std::size_t reach = rowsOfIt * perColumn * static_cast<std::size_t>(columns);
                labelSpans(pos.line, first.byte, std::min(length, first.byte + reach + 1));
            }
        }
        const std::vector<Cell>* wrapped = m_wordWrap ? wrappedRowStarts(pos.line) : nullptr;
        row.firstColumn = rowFirstColumn(pos);
        row.columns = columns;
        // A row of a long wrapped line is found from the one above it, and ends where the
        // next one starts.
        const Cell start = wrapped ? rowStart(pos) : cellAt(pos.line, row.firstColumn, previousStart);
        previousStart = start;
        row.lastRowOfLine = pos.subRow + 1 >= rowsOfLine(pos.line);
        std::size_t endByte = length;
        if (wrapped)
            endByte = rowEnd(pos).byte;
        else if (m_wordWrap && !row.lastRowOfLine)
            endByte = cellAt(pos.line, row.firstColumn + visibleColumns(), start).byte;
        // The bytes this row can show; a long line is read that far only (and a little
        // more, so that its last cell decodes whole).
        const std::size_t rowEnd =
            std::min({length, endByte, start.byte + perColumn * static_cast<std::size_t>(columns) + 1});
        const Stretch part = longLine ? stretch(pos.line, start.byte, rowEnd + kCellRoom) : Stretch{whole, 0};
        const std::size_t base = part.base;
        row.line = part.bytes.view();
        row.start = part.local(start);
        row.endByte = m_wordWrap || longLine ? rowEnd - base : std::string_view::npos;
        row.selectionStart = std::clamp(selectedFrom, base, base + row.line.size()) - base;
        row.selectionEnd = std::clamp(selectedTo, base, base + row.line.size()) - base;

        // The colours of the bytes this row can show.
        spans.clear();
        for (const LabelSpan& span : labelSpans(pos.line, start.byte, std::max(rowEnd, start.byte + 1))) {
            if (span.end > start.byte && span.start < rowEnd)
                spans.push_back({std::max(span.start, base) - base, std::min(span.end, base + row.line.size()) - base,
                                 colourOf(span.colour, lineColours.text)});
        }
        row.spans = &spans;
        paintMarks(painter, pos.line, row, rowEnd - base, base, y);
        m_renderer.paintRow(painter, kMargin, y, row, lineColours);
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
    const LineCount lines = m_document->lineCount();
    for (std::int64_t n = lines > 0 ? m_document->lineInLog(EndLine(lines) - 1).value() + 1 : 1; n >= 10; n /= 10)
        ++digits;
    const int bar = m_fileNames.size() > 1 ? kFileBarWidth : 0;
    return static_cast<int>(std::ceil(std::max(digits, 3) * m_renderer.cellWidth())) + 2 * 4 + bar;
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
        if (pos.subRow == 0 && pos.line < EndLine(lines) && m_lineMarks.count(m_document->lineInLog(pos.line).value()))
            painter.fillRect(1, y + 1, 4, lineHeight - 2, lineMarkColour());
        // A wrapped line is numbered on its first row only.
        if (pos.subRow == 0 && pos.line < EndLine(lines)) {
            const LineNumber inLog = m_document->lineInLog(pos.line);
            painter.drawText(QRect(0, y, m_gutter->width() - 4 - (m_fileNames.size() > 1 ? kFileBarWidth : 0), lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(m_document->lineInFile(pos.line).value() + 1));
            // Lines of the log left out just above this one: a dashed rule across the gutter.
            const LineNumber above = pos.line > 0 ? m_document->lineInLog(pos.line - 1) : LineNumber(-1);
            if (inLog != above + 1) {
                painter.save();
                painter.setPen(QPen(gapMarkColour(), 1, Qt::DashLine));
                painter.drawLine(0, y, m_gutter->width(), y);
                painter.restore();
            }
        }
        // A log made of several files: a bar in each file's colour along the gutter's edge.
        if (m_fileNames.size() > 1 && pos.line < EndLine(lines))
            painter.fillRect(m_gutter->width() - kFileBarWidth, y, kFileBarWidth, lineHeight,
                             fileColour(m_document->fileOf(pos.line)));
        if (!nextRow(pos))
            break;
    }
}

QColor LogView::fileColour(std::size_t file)
{
    // Hues far apart for the first files, then between them.
    static const QColor colours[] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                                     QColor(148, 103, 189), QColor(140, 86, 75),  QColor(227, 119, 194),
                                     QColor(127, 127, 127), QColor(188, 189, 34), QColor(23, 190, 207),
                                     QColor(214, 39, 40)};
    constexpr std::size_t count = std::size(colours);
    if (file < count)
        return colours[file];
    return QColor::fromHsv(static_cast<int>((file * 137) % 360), 160, 200);
}

void LogView::setFileNames(QStringList names)
{
    m_fileNames = std::move(names);
    updateGutter();
}

QString LogView::fileNameAt(int y) const
{
    if (m_fileNames.size() < 2)
        return {};
    const LineNumber line = m_document->lineFromOffset(offsetAtPoint(QPoint(0, y)));
    if (line >= EndLine(m_document->lineCount()))
        return {};
    const std::size_t file = m_document->fileOf(line);
    return file < static_cast<std::size_t>(m_fileNames.size()) ? m_fileNames[static_cast<int>(file)] : QString();
}

void LogView::setLineMarks(std::set<std::int64_t> lines)
{
    m_lineMarks = std::move(lines);
    m_gutter->update();
}

void LogView::toggleLineMark(std::int64_t line)
{
    if (line >= 0 && line < lineCount())
        toggleLogLineMark(m_document->lineInLog(line).value());
}

void LogView::toggleLogLineMark(std::int64_t logLine)
{
    if (!m_lineMarks.erase(logLine))
        m_lineMarks.insert(logLine);
    m_gutter->update();
    emit lineMarksChanged();
}

bool LogView::goToLineMark(bool forward)
{
    if (lineCount() == 0)
        return false;
    // The next marked line of the log that the view shows (a filtered log hides some).
    const std::int64_t caret = m_document->lineInLog(caretLine()).value();
    std::optional<std::int64_t> found;
    const auto shows = [this](std::int64_t logLine) {
        const LineNumber row = m_document->lineShowing(logLine);
        return row < EndLine(m_document->lineCount()) && m_document->lineInLog(row) == logLine;
    };
    if (forward) {
        for (auto next = m_lineMarks.upper_bound(caret); next != m_lineMarks.end() && !found; ++next) {
            if (shows(*next))
                found = *next;
        }
    } else {
        for (auto next = m_lineMarks.lower_bound(caret); next != m_lineMarks.begin() && !found;) {
            --next;
            if (shows(*next))
                found = *next;
        }
    }
    if (!found)
        return false;
    const std::int64_t line = m_document->lineShowing(*found).value();
    setSelection(lineIndex(line), 0);
    setFirstVisibleLine(std::max<std::int64_t>(line - visibleRows() / 3, 0));
    return true;
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
