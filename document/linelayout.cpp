#include "document/linelayout.h"

#include "document/encoding.h"

#include <locale.h>
#include <wchar.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace tlg {

namespace {

const char* findTab(const char* from, std::size_t length)
{
    return static_cast<const char*>(std::memchr(from, '\t', length));
}

constexpr std::int64_t nextTabStop(std::int64_t column)
{
    return (column / kTabWidth + 1) * kTabWidth;
}

} // namespace

namespace {

// Single-byte text walked from a known byte and its column: every byte takes one column but a
// tab, which runs to its stop.
std::int64_t singleColumnOfByte(std::string_view line, std::size_t index, Cell from)
{
    if (index > line.size())
        index = line.size();
    const char* const data = line.data();
    std::size_t pos = std::min(from.byte, index);
    std::int64_t column = from.column;
    while (pos < index) {
        const char* tab = findTab(data + pos, index - pos);
        if (!tab)
            return column + static_cast<std::int64_t>(index - pos);
        const std::size_t tabIndex = static_cast<std::size_t>(tab - data);
        column = nextTabStop(column + static_cast<std::int64_t>(tabIndex - pos));
        pos = tabIndex + 1;
    }
    return column;
}

Cell singleCellAtColumn(std::string_view line, std::int64_t column, Cell from)
{
    const char* const data = line.data();
    std::size_t pos = from.byte;
    std::int64_t at = from.column; // column at which byte `pos` starts
    if (column < at)
        column = at;
    while (pos < line.size()) {
        // Every byte takes at least one column, so the byte under `column` lies within the
        // next column - at + 1 bytes: look for a tab there only, not in the rest of the line.
        const std::size_t reach =
            std::min<std::size_t>(line.size() - pos, static_cast<std::size_t>(column - at) + 1);
        const char* tab = findTab(data + pos, reach);
        if (!tab) {
            if (column - at < static_cast<std::int64_t>(line.size() - pos))
                return {pos + static_cast<std::size_t>(column - at), column};
            return {line.size(), at + static_cast<std::int64_t>(line.size() - pos)};
        }
        const std::size_t tabIndex = static_cast<std::size_t>(tab - data);
        at += static_cast<std::int64_t>(tabIndex - pos);
        pos = tabIndex;
        const std::int64_t tabEnd = nextTabStop(at);
        if (column < tabEnd)
            return {pos, at};
        at = tabEnd;
        ++pos;
    }
    return {line.size(), at};
}

std::size_t singleCaretIndexAtColumn(std::string_view line, double column, Cell from)
{
    if (column <= static_cast<double>(from.column))
        return std::min(from.byte, line.size());
    const Cell cell = singleCellAtColumn(line, static_cast<std::int64_t>(std::floor(column)), from);
    if (cell.byte >= line.size())
        return line.size();
    const std::int64_t cellEnd =
        line[cell.byte] == '\t' ? nextTabStop(cell.column) : cell.column + 1;
    const double middle = (static_cast<double>(cell.column) + static_cast<double>(cellEnd)) / 2;
    return column >= middle ? cell.byte + 1 : cell.byte;
}

} // namespace

std::int64_t columnOfByte(std::string_view line, std::size_t index)
{
    return singleColumnOfByte(line, index, {0, 0});
}

Cell cellAtColumn(std::string_view line, std::int64_t column)
{
    return singleCellAtColumn(line, column, {0, 0});
}

std::size_t caretIndexAtColumn(std::string_view line, double column)
{
    return singleCaretIndexAtColumn(line, column, {0, 0});
}

// --- UTF-8 ------------------------------------------------------------------------------

namespace {

constexpr char32_t kZeroWidthJoiner = 0x200D;
constexpr char32_t kEmojiPresentation = 0xFE0F;

bool isRegionalIndicator(char32_t c)
{
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// The C library's character widths, read under its UTF-8 locale whatever the program's own
// locale is. -1 means no answer (not printable, or no UTF-8 locale).
int libraryWidth(char32_t c)
{
    static const locale_t utf8 = [] {
        locale_t l = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l)
            l = ::newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
        return l;
    }();
    if (!utf8)
        return -1;
    const locale_t before = ::uselocale(utf8);
    const int width = ::wcwidth(static_cast<wchar_t>(c));
    ::uselocale(before);
    return width;
}

// Widths where the library gives none: the wide East Asian blocks and emoji.
int fallbackWidth(char32_t c)
{
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
        (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
        (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
        (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
        (c >= 0x20000 && c <= 0x3FFFD))
        return 2;
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F) ||
        c == 0xFEFF)
        return 0;
    return 1;
}

int measuredWidth(char32_t c)
{
    const int width = libraryWidth(c);
    if (width >= 0)
        return width;
    return fallbackWidth(c);
}

// A valid character at `pos`, or an invalid byte (length 1, valid false).
struct Decoded {
    char32_t c;
    int length;
    bool valid;
};

Decoded decodeAt(std::string_view line, std::size_t pos)
{
    const auto byte = static_cast<unsigned char>(line[pos]);
    if (byte < 0x80)
        return {byte, 1, true};
    char32_t c = 0;
    const int length = Utf8SequenceAt(line, pos, c);
    if (length == 0)
        return {byte, 1, false};
    return {c, length, true};
}

// The cell at `from` in UTF-8 text.
Cluster utf8ClusterAt(std::string_view line, Cell from)
{
    Cluster cell{from.byte, from.byte, from.column, 1};
    const Decoded first = decodeAt(line, from.byte);
    cell.end = from.byte + static_cast<std::size_t>(first.length);
    if (!first.valid)
        return cell; // an invalid byte stands alone
    if (first.c == '\t') {
        cell.width = (from.column / kTabWidth + 1) * kTabWidth - from.column;
        return cell;
    }
    if (first.c < 0x20 || (first.c >= 0x7F && first.c <= 0x9F))
        return cell; // a control stands alone, painted as its picture
    if (first.c < 0x80)
        cell.width = 1;
    else
        cell.width = characterColumns(first.c);
    // What follows and has no width of its own joins the cell.
    char32_t previous = first.c;
    while (cell.end < line.size() && static_cast<unsigned char>(line[cell.end]) >= 0x80) {
        const Decoded next = decodeAt(line, cell.end);
        if (!next.valid)
            break;
        const int width = characterColumns(next.c);
        // A skin tone (U+1F3FB to U+1F3FF) shades the emoji before it.
        const bool skinTone = next.c >= 0x1F3FB && next.c <= 0x1F3FF && cell.width == 2;
        const bool joins = (width == 0 && !(next.c >= 0x80 && next.c <= 0x9F)) || skinTone ||
                           (previous == kZeroWidthJoiner && width == 2) ||
                           (isRegionalIndicator(previous) && isRegionalIndicator(next.c) &&
                            cell.end - cell.byte == 4);
        if (!joins)
            break;
        if (next.c == kEmojiPresentation || isRegionalIndicator(next.c))
            cell.width = 2;
        previous = next.c;
        cell.end += static_cast<std::size_t>(next.length);
    }
    return cell;
}

constexpr std::int64_t stopAfter(std::int64_t column)
{
    return (column / kTabWidth + 1) * kTabWidth;
}

} // namespace

int characterColumns(char32_t c)
{
    if (c < 0x80)
        return c < 0x20 || c == 0x7F ? 0 : 1;
    // The basic plane from a table filled once; the others as asked.
    static const std::unique_ptr<std::int8_t[]> basic = [] {
        auto table = std::make_unique<std::int8_t[]>(0x10000);
        for (char32_t k = 0; k < 0x10000; ++k)
            table[k] = static_cast<std::int8_t>(measuredWidth(k));
        return table;
    }();
    if (c < 0x10000)
        return basic[c];
    return measuredWidth(c);
}

Cluster clusterAt(std::string_view line, Cell from, bool utf8)
{
    if (utf8)
        return utf8ClusterAt(line, from);
    const std::int64_t width = line[from.byte] == '\t' ? stopAfter(from.column) - from.column : 1;
    return {from.byte, from.byte + 1, from.column, width};
}

std::int64_t columnOfByte(std::string_view line, std::size_t index, bool utf8, Cell from)
{
    if (!utf8)
        return singleColumnOfByte(line, index, from);
    index = std::min(index, line.size());
    Cell at = from;
    while (at.byte < index) {
        const Cluster cell = utf8ClusterAt(line, at);
        if (cell.end > index)
            break; // inside a cell: its start
        at = {cell.end, cell.column + cell.width};
    }
    return at.column;
}

Cell cellAtColumn(std::string_view line, std::int64_t column, bool utf8, Cell from)
{
    if (!utf8)
        return singleCellAtColumn(line, column, from);
    Cell at = from;
    while (at.byte < line.size()) {
        const Cluster cell = utf8ClusterAt(line, at);
        if (column < cell.column + cell.width)
            return at;
        at = {cell.end, cell.column + cell.width};
    }
    return at;
}

std::size_t caretIndexAtColumn(std::string_view line, double column, bool utf8, Cell from)
{
    if (!utf8)
        return singleCaretIndexAtColumn(line, column, from);
    if (column <= static_cast<double>(from.column))
        return from.byte;
    const Cell under = cellAtColumn(line, static_cast<std::int64_t>(std::floor(column)), true, from);
    if (under.byte >= line.size())
        return line.size();
    const Cluster cell = utf8ClusterAt(line, under);
    const double middle = static_cast<double>(cell.column) + static_cast<double>(cell.width) / 2;
    return column >= middle ? cell.end : cell.byte;
}

std::size_t boundaryAtOrBefore(std::string_view line, std::size_t index, bool utf8)
{
    index = std::min(index, line.size());
    if (!utf8 || index == 0)
        return index;
    // ASCII bytes always start a cell: walk from the last one at or before index.
    std::size_t start = index;
    while (start > 0 && (start == line.size() || static_cast<unsigned char>(line[start]) >= 0x80))
        --start;
    std::size_t at = start;
    while (at < index) {
        const std::size_t end = utf8ClusterAt(line, {at, 0}).end;
        if (end > index)
            break;
        at = end;
    }
    return at;
}

std::size_t nextBoundary(std::string_view line, std::size_t index, bool utf8)
{
    if (index >= line.size())
        return line.size();
    if (!utf8)
        return index + 1;
    return utf8ClusterAt(line, {boundaryAtOrBefore(line, index, true), 0}).end;
}

std::size_t previousBoundary(std::string_view line, std::size_t index, bool utf8)
{
    index = std::min(index, line.size());
    if (index == 0)
        return 0;
    return boundaryAtOrBefore(line, index - 1, utf8);
}

void wrapLine(std::string_view line, bool utf8, std::int64_t width, std::vector<Cell>& rows)
{
    rows.clear();
    rows.push_back({0, 0});
    width = std::max<std::int64_t>(width, 1);
    Cell rowStart{0, 0};
    Cell breakAt{0, 0}; // after the last space of this row; {0,0}: none yet
    bool canBreak = false;
    Cell at{0, 0};
    while (at.byte < line.size()) {
        const Cluster cell = clusterAt(line, at, utf8);
        const bool space = line[at.byte] == ' ' || line[at.byte] == '\t';
        const bool fits = cell.column + cell.width - rowStart.column <= width;
        if (!fits && !space && at.byte > rowStart.byte) {
            // Break after the row's last space, or inside a word that fills the whole row.
            rowStart = canBreak && breakAt.byte > rowStart.byte ? breakAt : at;
            rows.push_back(rowStart);
            canBreak = false;
            continue; // this cell again, on the new row
        }
        at = {cell.end, cell.column + cell.width};
        if (space) {
            breakAt = at;
            canBreak = true;
        }
    }
}

} // namespace tlg
