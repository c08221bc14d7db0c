#pragma once

// Where the bytes of one line stand on screen in a fixed-pitch font: every byte takes one
// column, but a tab runs to the next multiple of kTabWidth. Long lines without tabs cost
// nothing to map; tabs are found with memchr.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tlg {

inline constexpr std::int64_t kTabWidth = 8;

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

} // namespace tlg
