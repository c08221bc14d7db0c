#include "document/layoutcache.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tlg {

namespace {

// A long line keeps at most about this many remembered points, however long it is.
constexpr std::size_t kMostCheckpoints = 65536;
// Points remembered for all long lines together, before they are forgotten.
constexpr std::size_t kCheckpointBudget = std::size_t(1) << 20;
// Wrapped lines whose rows are remembered, before they are forgotten.
constexpr std::size_t kWrappedLinesKept = 4096;

} // namespace

void LayoutCache::setLines(LinesPtr lines, LineCount keptRows)
{
    m_lines = std::move(lines);
    m_wrapRows.clear();
    m_grownLine.reset();
    if (keptRows <= 0) {
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
}

void LayoutCache::setUtf8(bool utf8)
{
    if (utf8 == m_utf8)
        return;
    m_utf8 = utf8;
    forget();
}

void LayoutCache::setSizes(const LongLineSizes& sizes)
{
    m_sizes = sizes;
    m_sizes.longLine = std::max<std::size_t>(m_sizes.longLine, 1);
    m_sizes.checkpointBytes = std::max<std::size_t>(m_sizes.checkpointBytes, 1);
    m_sizes.scanChunk = std::max<std::size_t>(m_sizes.scanChunk, 16);
    forget();
}

void LayoutCache::forget()
{
    m_wrapRows.clear();
    m_checkpoints.clear();
    m_checkpointCount = 0;
    m_grownLine.reset();
}

std::int64_t LayoutCache::lineLength(LineNumber line) const
{
    return (m_lines->lineContentEnd(line) - m_lines->lineIndex(line)).value();
}

bool LayoutCache::isLong(LineNumber line) const
{
    return static_cast<std::size_t>(lineLength(line)) >= m_sizes.longLine;
}

std::int64_t LayoutCache::lineColumns(LineNumber line) const
{
    if (isLong(line))
        return checkpoints(line).back().column;
    const TextSlice text = m_lines->lineText(line);
    return columnOfByte(text, text.size(), m_utf8);
}

const std::vector<Cell>& LayoutCache::checkpoints(LineNumber line) const
{
    if (const auto known = m_checkpoints.find(line); known != m_checkpoints.end())
        return known->second;
    if (m_checkpoints.size() > 256 || m_checkpointCount > kCheckpointBudget) {
        m_checkpoints.clear();
        m_checkpointCount = 0;
    }
    // One pass over the line a chunk at a time, never holding it; the last point is its end.
    const ByteOffset lineStart = m_lines->lineIndex(line);
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
        const TextSlice bytes =
            m_lines->read(lineStart + static_cast<ByteOffset>(at.byte), lineStart + static_cast<ByteOffset>(to));
        const std::string_view chunk = bytes.view();
        const bool lastChunk = to == length;
        Cell local{0, at.column};
        if (!m_utf8) {
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

Cell LayoutCache::anchorForByte(LineNumber line, std::size_t index) const
{
    if (!isLong(line))
        return {0, 0};
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), index,
                                  [](std::size_t i, const Cell& c) { return i < c.byte; });
    return *std::prev(after);
}

Cell LayoutCache::anchorForColumn(LineNumber line, std::int64_t column) const
{
    if (!isLong(line))
        return {0, 0};
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), column,
                                  [](std::int64_t c, const Cell& p) { return c < p.column; });
    return after == points.begin() ? points.front() : *std::prev(after);
}

std::size_t LayoutCache::pointAfterByte(LineNumber line, std::size_t index) const
{
    const auto length = static_cast<std::size_t>(lineLength(line));
    if (!isLong(line))
        return length;
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), index,
                                  [](std::size_t i, const Cell& c) { return i < c.byte; });
    return after == points.end() ? length : after->byte;
}

std::size_t LayoutCache::pointAfterColumn(LineNumber line, std::int64_t column) const
{
    const auto length = static_cast<std::size_t>(lineLength(line));
    if (!isLong(line))
        return length;
    const std::vector<Cell>& points = checkpoints(line);
    auto after = std::upper_bound(points.begin(), points.end(), column,
                                  [](std::int64_t c, const Cell& p) { return c < p.column; });
    return after == points.end() ? length : after->byte;
}

LayoutCache::Stretch LayoutCache::stretch(LineNumber line, std::size_t from, std::size_t to) const
{
    if (!isLong(line))
        return {m_lines->lineText(line), 0};
    const ByteOffset lineStart = m_lines->lineIndex(line);
    to = std::min(to, static_cast<std::size_t>(lineLength(line)));
    from = std::min(from, to);
    return {m_lines->slice(lineStart + static_cast<ByteOffset>(from), lineStart + static_cast<ByteOffset>(to)), from};
}

std::optional<LayoutCache::Stretch> LayoutCache::headOf(LineNumber line) const
{
    if (!isLong(line) || m_checkpoints.count(line) != 0)
        return std::nullopt;
    return stretch(line, 0, m_sizes.checkpointBytes);
}

bool LayoutCache::Stretch::sure(std::size_t index, std::size_t lineLength) const
{
    // What decides a cell lies within a few bytes after it.
    return index + 8 < bytes.size() || base + bytes.size() == lineLength;
}

std::int64_t LayoutCache::columnAt(LineNumber line, std::size_t index, Cell hint) const
{
    const auto length = static_cast<std::size_t>(lineLength(line));
    index = std::min(index, length);
    if (const auto head = headOf(line); head && head->sure(index, length))
        return columnOfByte(head->bytes, index, m_utf8, {0, 0});
    Cell from = anchorForByte(line, index);
    if (hint.byte <= index && hint.byte > from.byte)
        from = hint;
    const Stretch part = stretch(line, from.byte, pointAfterByte(line, index));
    return columnOfByte(part.bytes, index - part.base, m_utf8, part.local(from));
}

Cell LayoutCache::cellAt(LineNumber line, std::int64_t column, Cell hint) const
{
    if (const auto head = headOf(line)) {
        const Cell cell = cellAtColumn(head->bytes, column, m_utf8, {0, 0});
        if (head->sure(cell.byte, static_cast<std::size_t>(lineLength(line))))
            return cell;
    }
    Cell from = anchorForColumn(line, column);
    if (hint.column <= column && hint.byte > from.byte)
        from = hint;
    const Stretch part = stretch(line, from.byte, pointAfterColumn(line, column));
    const Cell cell = cellAtColumn(part.bytes, column, m_utf8, part.local(from));
    return {cell.byte + part.base, cell.column};
}

std::size_t LayoutCache::caretIndexAt(LineNumber line, double column, Cell hint) const
{
    if (const auto head = headOf(line)) {
        const std::size_t index = caretIndexAtColumn(head->bytes, column, m_utf8, {0, 0});
        if (head->sure(index, static_cast<std::size_t>(lineLength(line))))
            return index;
    }
    const auto whole = static_cast<std::int64_t>(std::max(0.0, std::floor(column)));
    Cell from = anchorForColumn(line, whole);
    if (hint.column <= whole && hint.byte > from.byte)
        from = hint;
    const Stretch part = stretch(line, from.byte, pointAfterColumn(line, whole));
    return caretIndexAtColumn(part.bytes, column, m_utf8, part.local(from)) + part.base;
}

std::size_t LayoutCache::boundaryAt(LineNumber line, std::size_t index) const
{
    index = std::min(index, static_cast<std::size_t>(lineLength(line)));
    if (!m_utf8)
        return index;
    if (const auto head = headOf(line); head && head->sure(index, static_cast<std::size_t>(lineLength(line))))
        return boundaryAtOrBefore(head->bytes, index, true);
    const Cell from = anchorForByte(line, index);
    const Stretch part = stretch(line, from.byte, pointAfterByte(line, index));
    return boundaryAtOrBefore(part.bytes, index - part.base, true) + part.base;
}

std::size_t LayoutCache::nextBoundaryAt(LineNumber line, std::size_t index) const
{
    const auto length = static_cast<std::size_t>(lineLength(line));
    if (index >= length)
        return length;
    if (!m_utf8)
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

std::size_t LayoutCache::previousBoundaryAt(LineNumber line, std::size_t index) const
{
    index = std::min(index, static_cast<std::size_t>(lineLength(line)));
    return index == 0 ? 0 : boundaryAt(line, index - 1);
}

std::int64_t LayoutCache::columnOfOffset(ByteOffset offset) const
{
    const LineNumber line = m_lines->lineFromOffset(offset);
    return columnAt(line, static_cast<std::size_t>(offset - m_lines->lineIndex(line)));
}

const std::vector<Cell>* LayoutCache::wrappedRowStarts(LineNumber line, std::int64_t width) const
{
    if (isLong(line))
        return nullptr;
    if (width != m_wrapWidth) {
        m_wrapRows.clear();
        m_wrapWidth = width;
    }
    if (const auto known = m_wrapRows.find(line); known != m_wrapRows.end())
        return &known->second;
    if (m_wrapRows.size() > kWrappedLinesKept)
        m_wrapRows.clear();
    const TextSlice text = m_lines->lineText(line);
    std::vector<Cell>& rows = m_wrapRows[line];
    wrapLine(text, m_utf8, width, rows);
    return &rows;
}

LayoutCache::Rows LayoutCache::rows(std::int64_t wrapWidth, std::int64_t firstColumn) const
{
    return Rows(*this, std::max<std::int64_t>(wrapWidth, 0), firstColumn);
}

// --- Rows ----------------------------------------------------------------------------------

const std::vector<Cell>* LayoutCache::Rows::wrappedRowStarts(LineNumber line) const
{
    return wrapped() ? m_cache.wrappedRowStarts(line, m_wrapWidth) : nullptr;
}

std::int64_t LayoutCache::Rows::rowsOfLine(LineNumber line) const
{
    if (!wrapped())
        return 1;
    if (const std::vector<Cell>* rows = wrappedRowStarts(line))
        return static_cast<std::int64_t>(rows->size());
    return wrappedRows(m_cache.lineColumns(line), m_wrapWidth);
}

std::int64_t LayoutCache::Rows::rowFirstColumn(const RowPos& pos) const
{
    if (!wrapped())
        return m_firstColumn;
    if (const std::vector<Cell>* rows = wrappedRowStarts(pos.line))
        return (*rows)[static_cast<std::size_t>(std::clamp<std::int64_t>(pos.subRow, 0, std::int64_t(rows->size()) - 1))]
            .column;
    return pos.subRow * m_wrapWidth;
}

Cell LayoutCache::Rows::rowStart(const RowPos& pos) const
{
    if (const std::vector<Cell>* rows = wrappedRowStarts(pos.line))
        return (*rows)[static_cast<std::size_t>(std::clamp<std::int64_t>(pos.subRow, 0, std::int64_t(rows->size()) - 1))];
    return m_cache.cellAt(pos.line, rowFirstColumn(pos));
}

Cell LayoutCache::Rows::rowEnd(const RowPos& pos) const
{
    if (wrapped() && pos.subRow + 1 < rowsOfLine(pos.line))
        return rowStart({pos.line, pos.subRow + 1});
    return {static_cast<std::size_t>(m_cache.lineLength(pos.line)), m_cache.lineColumns(pos.line)};
}

LayoutCache::RowPos LayoutCache::Rows::rowOfOffset(ByteOffset offset) const
{
    const LinesPtr& lines = m_cache.lines();
    RowPos pos{lines->lineFromOffset(offset), 0};
    if (!wrapped())
        return pos;
    if (const std::vector<Cell>* rows = wrappedRowStarts(pos.line)) {
        const auto index = static_cast<std::size_t>(offset - lines->lineIndex(pos.line));
        auto after = std::upper_bound(rows->begin(), rows->end(), index,
                                      [](std::size_t i, const Cell& c) { return i < c.byte; });
        pos.subRow = std::max<std::int64_t>(0, (after - rows->begin()) - 1);
        return pos;
    }
    pos.subRow = std::min(m_cache.columnOfOffset(offset) / m_wrapWidth, rowsOfLine(pos.line) - 1);
    return pos;
}

bool LayoutCache::Rows::nextRow(RowPos& pos) const
{
    if (pos.subRow + 1 < rowsOfLine(pos.line)) {
        ++pos.subRow;
        return true;
    }
    if (pos.line + 1 >= EndLine(m_cache.lines()->rowCount()))
        return false;
    ++pos.line;
    pos.subRow = 0;
    return true;
}

bool LayoutCache::Rows::previousRow(RowPos& pos) const
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

std::int64_t LayoutCache::Rows::moveRows(RowPos& pos, std::int64_t n) const
{
    if (!wrapped()) {
        const LineNumber target = std::clamp<LineNumber>(pos.line + n, 0, EndLine(m_cache.lines()->rowCount()) - 1);
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

} // namespace tlg
