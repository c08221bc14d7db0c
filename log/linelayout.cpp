#include "log/linelayout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

std::int64_t columnOfByte(std::string_view line, std::size_t index)
{
    if (index > line.size())
        index = line.size();
    const char* const data = line.data();
    std::size_t pos = 0;
    std::int64_t column = 0;
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

Cell cellAtColumn(std::string_view line, std::int64_t column)
{
    const char* const data = line.data();
    std::size_t pos = 0;
    std::int64_t at = 0; // column at which byte `pos` starts
    if (column < 0)
        column = 0;
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

std::size_t caretIndexAtColumn(std::string_view line, double column)
{
    if (column <= 0)
        return 0;
    const Cell cell = cellAtColumn(line, static_cast<std::int64_t>(std::floor(column)));
    if (cell.byte >= line.size())
        return line.size();
    const std::int64_t cellEnd =
        line[cell.byte] == '\t' ? nextTabStop(cell.column) : cell.column + 1;
    const double middle = (static_cast<double>(cell.column) + static_cast<double>(cellEnd)) / 2;
    return column >= middle ? cell.byte + 1 : cell.byte;
}

} // namespace tlg
