#pragma once

// Where the bytes of one line stand on screen in a fixed-pitch font. In single-byte text every
// byte takes one column, but a tab runs to the next multiple of kTabWidth; long lines without
// tabs cost nothing to map, tabs are found with memchr. UTF-8 text is mapped by characters.

#include "document/tabstops.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tlg {

// The column at which byte `index` of the line starts; index == line.size() gives the width
// of the whole line in columns.
std::int64_t columnOfByte(std::string_view line, std::size_t index);

// The byte whose cell covers `column`, with the column at which that byte starts. A column at
// or past the end of the line gives {line.size(), width of the line}.
struct Cell {
    std::size_t byte;
    std::int64_t column;
};
Cell cellAtColumn(std::string_view line, std::int64_t column);

// The caret position nearest to `column` (a fraction of a cell is allowed): before the byte
// under it, or after it when the column lies in the byte's right half.
std::size_t caretIndexAtColumn(std::string_view line, double column);

// The number of screen rows of a line `columns` wide when wrapped at `width` columns per row
// (at least one row, also for an empty line).
constexpr std::int64_t wrappedRows(std::int64_t columns, std::int64_t width)
{
    if (width < 1)
        width = 1;
    return columns <= 0 ? 1 : (columns + width - 1) / width;
}

// --- Lines of UTF-8 text -----------------------------------------------------------------
//
// In UTF-8 a character cell is a cluster: a character and the zero-width characters that
// follow it (combining marks, joiners, variation selectors; an emoji after a zero-width joiner;
// the second of two regional indicators). A cell takes the character's width: 2 for wide
// characters (CJK, emoji), 1 for the rest; a tab runs to its stop. A byte that is not part of
// a valid UTF-8 sequence is a cell of its own, one column wide, so that no byte is ever dropped
// or merged with its neighbours. ASCII bytes always start a cell.

// The columns a character takes on its own: 0, 1 or 2.
int characterColumns(char32_t c);

// One cell of a line: the bytes [byte, end) shown from `column`, `width` columns wide.
struct Cluster {
    std::size_t byte = 0;
    std::size_t end = 0;
    std::int64_t column = 0;
    std::int64_t width = 0;
};

// The cell that starts at `from` (a cell boundary, standing at its column); the line must hold
// a byte there.
Cluster clusterAt(std::string_view line, Cell from, bool utf8);

// The same questions as above, for single-byte text (utf8 false) or for UTF-8 text. `from` is a
// known cell boundary and its column to start walking from (the line's start, or a nearer point
// remembered for a long line, or the start of a stretch of a long line read on its own, whose
// columns still count from the line's start); it must not lie after the answer.
std::int64_t columnOfByte(std::string_view line, std::size_t index, bool utf8, Cell from = {0, 0});
Cell cellAtColumn(std::string_view line, std::int64_t column, bool utf8, Cell from = {0, 0});
std::size_t caretIndexAtColumn(std::string_view line, double column, bool utf8, Cell from = {0, 0});
// The cell boundary after the cell that holds byte `index`, and the one before `index`.
std::size_t nextBoundary(std::string_view line, std::size_t index, bool utf8);
std::size_t previousBoundary(std::string_view line, std::size_t index, bool utf8);
// The cell boundary at or before `index` (the start of the cell that holds it).
std::size_t boundaryAtOrBefore(std::string_view line, std::size_t index, bool utf8);

// Word wrap: where each screen row of a line starts when the line is wrapped at `width`
// columns, as a rich-edit control breaks it: a row ends after its last space or tab that fits
// (these may hang past the edge); only a word wider than a whole row is broken inside it,
// and a single cell wider than the row keeps a row of its own. `rows` gets the start of every
// row; the first is {0, 0}.
void wrapLine(std::string_view line, bool utf8, std::int64_t width, std::vector<Cell>& rows);

} // namespace tlg
