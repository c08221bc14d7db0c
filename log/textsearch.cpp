#include "log/textsearch.h"

#include "core/faststrings.h"

#include <algorithm>

namespace tlg {

namespace {

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

// The block Find Previous searches at a time, walking back.
constexpr ByteOffset kBackBlock = 1 << 20;

} // namespace

ByteOffset FindOccurrenceFrom(const TextSearch& search, std::string_view text, ByteOffset from)
{
    if (search.pattern.empty())
        return -1;
    std::int64_t start = std::max<ByteOffset>(from, 0) + 1;
    for (;;) {
        if (start > static_cast<std::int64_t>(text.size()))
            return -1;
        const std::int64_t position = FindForward(search.pattern, text, search.ignoreCase, start);
        if (position == 0)
            return -1;
        // The code page's table also matched letters beyond a to z: check those again.
        if (!search.ignoreCase || !search.asciiCaseOnly ||
            sameIgnoringAsciiCase(text.substr(static_cast<std::size_t>(position - 1), search.pattern.size()),
                                  search.pattern))
            return position - 1;
        start = position + 1;
    }
}

ByteOffset FindOccurrenceBefore(const TextSearch& search, std::string_view text, ByteOffset before)
{
    const auto length = static_cast<ByteOffset>(search.pattern.size());
    before = std::min<ByteOffset>(before, static_cast<ByteOffset>(text.size()));
    while (length > 0 && before > 0) {
        const ByteOffset blockStart = std::max<ByteOffset>(0, before - kBackBlock);
        // Occurrences that start in [blockStart, before) and no later.
        const std::string_view block =
            text.substr(0, static_cast<std::size_t>(std::min<ByteOffset>(before - 1 + length,
                                                                          static_cast<ByteOffset>(text.size()))));
        ByteOffset last = -1;
        for (ByteOffset at = FindOccurrenceFrom(search, block, blockStart); at >= 0;
             at = FindOccurrenceFrom(search, block, at + 1))
            last = at;
        if (last >= 0)
            return last;
        before = blockStart;
    }
    return -1;
}

std::vector<std::pair<ByteOffset, ByteOffset>> OccurrencesTouching(const TextSearch& search,
                                                                   std::string_view text,
                                                                   ByteOffset from, ByteOffset to)
{
    std::vector<std::pair<ByteOffset, ByteOffset>> found;
    const auto length = static_cast<ByteOffset>(search.pattern.size());
    if (length == 0 || to <= from)
        return found;
    const ByteOffset lo = std::max<ByteOffset>(0, from - length + 1);
    const std::string_view window =
        text.substr(0, static_cast<std::size_t>(std::min<ByteOffset>(to - 1 + length,
                                                                      static_cast<ByteOffset>(text.size()))));
    for (ByteOffset at = FindOccurrenceFrom(search, window, lo); at >= 0;
         at = FindOccurrenceFrom(search, window, at + 1))
        found.emplace_back(at, at + length);
    return found;
}

} // namespace tlg
