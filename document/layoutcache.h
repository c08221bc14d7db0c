#pragma once

// What a view has measured of the lines it shows, and the layout questions it asks of them:
// where a byte or a column of a line stands, where a wrapped line's rows start, which row
// holds an offset. A short line is read whole for each question. A long line is never read
// whole: it is measured once by a pass over it, which remembers a point every so many bytes,
// and each question about it reads only the stretch between two such points. What was
// measured is kept until the lines, their encoding or the sizes change; lines that grew keep
// what was measured of the lines they had. Plain C++: no widget and no thread.

#include "document/linelayout.h"
#include "document/linesource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tlg {

// How long lines are read. A line at least `longLine` bytes long is measured by a pass of
// `scanChunk` bytes at a time, which remembers a point every `checkpointBytes` bytes (more
// apart on a line too long for 65,536 of them). Its colours are worked out from the words
// around the part in sight, read `colourReach` bytes either side (a longer word is read
// through once in chunks, and its colour remembered). Tests make these tiny.
struct LongLineSizes {
    std::size_t longLine = 65536;
    std::size_t checkpointBytes = 16384;
    std::size_t colourReach = 65536;
    std::size_t scanChunk = std::size_t(1) << 20;
};

class LayoutCache {
public:
    // A screen row: a line and, with word wrap, which of its wrapped rows.
    struct RowPos {
        LineNumber line = 0;
        std::int64_t subRow = 0;
        friend bool operator==(const RowPos&, const RowPos&) = default;
    };

    // Bytes of a line read for one question: the line's bytes [base, base + bytes.size()). A
    // short line is read whole (base 0); of a long line only the stretch asked for.
    struct Stretch {
        TextSlice bytes;
        std::size_t base = 0;
        Cell local(Cell at) const { return {at.byte - base, at.column}; }
        // Whether a walk that ended at `index` of these bytes gives what a walk over the whole
        // line gives.
        bool sure(std::size_t index, std::size_t lineLength) const;
    };

    class Rows;

    // Measures `lines` (null: none, every question about a line is then out of range). With
    // keptRows > 0 the lines are those measured before, grown (LineSource::grewFrom): what
    // was measured of their first keptRows - 1 lines stays, and a long line that was the last
    // is measured on from where it ended. With 0 everything measured is forgotten.
    void setLines(LinesPtr lines, LineCount keptRows = 0);
    const LinesPtr& lines() const { return m_lines; }
    // UTF-8 text, or single-byte text (every byte a cell); a change forgets what was measured.
    void setUtf8(bool utf8);
    bool utf8() const { return m_utf8; }
    // A change forgets what was measured; sizes of 0 are taken as 1 (scanChunk at least 16).
    void setSizes(const LongLineSizes& sizes);
    const LongLineSizes& sizes() const { return m_sizes; }

    // The length in bytes of a line's content, without reading it, and whether it is long.
    std::int64_t lineLength(LineNumber line) const;
    bool isLong(LineNumber line) const;
    // The width of a line in columns; a long line is measured for it.
    std::int64_t lineColumns(LineNumber line) const;
    // Points of a long line remembered every checkpointBytes, the first its start and the last
    // its end and width; measured on the first question.
    const std::vector<Cell>& checkpoints(LineNumber line) const;
    // The line's bytes [from, to), clamped to its content; a short line whole.
    Stretch stretch(LineNumber line, std::size_t from, std::size_t to) const;

    // The questions of linelayout.h about one line, reading only the stretch they need.
    // `hint` is a cell boundary known on the way (a row's start) to walk from when nearer.
    std::int64_t columnAt(LineNumber line, std::size_t index, Cell hint = {0, 0}) const;
    Cell cellAt(LineNumber line, std::int64_t column, Cell hint = {0, 0}) const;
    std::size_t caretIndexAt(LineNumber line, double column, Cell hint = {0, 0}) const;
    std::size_t boundaryAt(LineNumber line, std::size_t index) const;
    std::size_t nextBoundaryAt(LineNumber line, std::size_t index) const;
    std::size_t previousBoundaryAt(LineNumber line, std::size_t index) const;
    // The column at which the byte at offset starts, within its line.
    std::int64_t columnOfOffset(ByteOffset offset) const;
    // The starts of a line's rows wrapped at `width` columns, broken between words (kept
    // while the width stays); null for a long line, whose rows are `width` columns each.
    const std::vector<Cell>* wrappedRowStarts(LineNumber line, std::int64_t width) const;

    // The rows of the lines wrapped at `wrapWidth` columns, or, with 0, a row a line showing
    // from `firstColumn` on.
    Rows rows(std::int64_t wrapWidth, std::int64_t firstColumn) const;

private:
    // The first checkpointBytes of a long line not measured yet, which answer questions about
    // its start without measuring it; nothing for another line.
    std::optional<Stretch> headOf(LineNumber line) const;
    // A cell boundary of a line at or before a byte, or at or before a column, to walk from:
    // the line's start, or for a long line the nearest remembered point.
    Cell anchorForByte(LineNumber line, std::size_t index) const;
    Cell anchorForColumn(LineNumber line, std::int64_t column) const;
    // Where a walk to the byte `index`, or to the cell under `column`, can stop: the first
    // remembered point past it (the line's end for a short line).
    std::size_t pointAfterByte(LineNumber line, std::size_t index) const;
    std::size_t pointAfterColumn(LineNumber line, std::int64_t column) const;
    void forget();

    LinesPtr m_lines;
    bool m_utf8 = false;
    LongLineSizes m_sizes;
    mutable std::unordered_map<LineNumber, std::vector<Cell>> m_wrapRows;
    mutable std::int64_t m_wrapWidth = 0; // the width m_wrapRows were wrapped at
    mutable std::unordered_map<LineNumber, std::vector<Cell>> m_checkpoints;
    mutable std::size_t m_checkpointCount = 0; // points held in m_checkpoints
    // The points of a long last line that lasted when the lines grew, to measure it on from.
    mutable std::optional<std::pair<LineNumber, std::vector<Cell>>> m_grownLine;
};

// The rows of a cache's lines in one shape (see LayoutCache::rows): cheap to make, valid while
// the cache lives and its lines stay.
class LayoutCache::Rows {
public:
    Rows(const LayoutCache& cache, std::int64_t wrapWidth, std::int64_t firstColumn)
        : m_cache(cache), m_wrapWidth(wrapWidth), m_firstColumn(firstColumn)
    {
    }

    const LinesPtr& lines() const { return m_cache.lines(); }
    bool wrapped() const { return m_wrapWidth > 0; }
    std::int64_t rowsOfLine(LineNumber line) const;
    // The starts of a wrapped line's rows (see wrappedRowStarts); null without wrap.
    const std::vector<Cell>* wrappedRowStarts(LineNumber line) const;
    // The first column painted on a row.
    std::int64_t rowFirstColumn(const RowPos& pos) const;
    // Where a row starts and where the next one starts (the line's end for its last row).
    Cell rowStart(const RowPos& pos) const;
    Cell rowEnd(const RowPos& pos) const;
    RowPos rowOfOffset(ByteOffset offset) const;
    // The next or previous row; false at the ends.
    bool nextRow(RowPos& pos) const;
    bool previousRow(RowPos& pos) const;
    // Moves `pos` by n rows (negative: up), stopping at the ends; returns the rows moved.
    std::int64_t moveRows(RowPos& pos, std::int64_t n) const;

private:
    const LayoutCache& m_cache;
    std::int64_t m_wrapWidth;
    std::int64_t m_firstColumn;
};

} // namespace tlg
