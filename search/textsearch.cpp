#include "search/textsearch.h"

#include "core/faststrings.h"

#include <algorithm>

namespace tlg {

namespace {

// The block Find Previous searches at a time, walking back.
constexpr ByteOffset kBackBlock = 1 << 20;

// The bytes a search over a document reads at a time.
constexpr std::size_t kSearchChunk = 4u << 20;

} // namespace

ByteOffset FindOccurrenceFrom(const TextSearch& search, std::string_view text, ByteOffset from)
{
    if (search.pattern.empty())
        return -1;
    const std::int64_t start = std::max<ByteOffset>(from, 0).value() + 1;
    if (start > static_cast<std::int64_t>(text.size()))
        return -1;
    const std::int64_t position = FindForward(search.pattern, text, search.folding(), start);
    return position == 0 ? -1 : position - 1;
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

ByteOffset FindOccurrenceFrom(const TextSearch& search, const LineSource& text, ByteOffset from,
                              const std::atomic<bool>* cancel, std::atomic<std::int64_t>* looked)
{
    const auto length = static_cast<ByteOffset>(search.pattern.size());
    if (length == 0)
        return -1;
    from = std::max<ByteOffset>(from, 0);
    ByteOffset found = -1;
    // Each chunk also holds the pattern's length less one before it: an occurrence that
    // crosses a seam lies wholly in the later chunk.
    text.forEachChunk(from, text.size(), kSearchChunk, static_cast<std::size_t>(length - 1),
                      [&](ByteOffset at, std::string_view bytes) {
                          if (cancel && cancel->load(std::memory_order_relaxed)) {
                              found = kSearchCancelled;
                              return false;
                          }
                          if (looked)
                              looked->store((at - from).value() + static_cast<std::int64_t>(bytes.size()), std::memory_order_relaxed);
                          const ByteOffset hit = FindOccurrenceFrom(search, bytes, std::max<ByteOffset>(from - at, 0));
                          if (hit >= 0)
                              found = at + hit;
                          return hit < 0;
                      });
    return found;
}

ByteOffset FindOccurrenceBefore(const TextSearch& search, const LineSource& text, ByteOffset before,
                                const std::atomic<bool>* cancel, std::atomic<std::int64_t>* looked)
{
    const auto length = static_cast<ByteOffset>(search.pattern.size());
    before = std::min<ByteOffset>(before, text.size());
    const ByteOffset start = before;
    while (length > 0 && before > 0) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return kSearchCancelled;
        if (looked)
            looked->store((start - before).value(), std::memory_order_relaxed);
        const ByteOffset blockStart = std::max<ByteOffset>(0, before - kBackBlock);
        // Occurrences that start in [blockStart, before), with the bytes they may reach.
        const TextSlice block = text.read(blockStart, std::min<ByteOffset>(before - 1 + length, text.size()));
        const ByteOffset hit = FindOccurrenceBefore(search, block.view(), before - blockStart);
        if (hit >= 0)
            return blockStart + hit;
        before = blockStart;
    }
    return -1;
}

std::vector<std::pair<ByteOffset, ByteOffset>> OccurrencesTouching(const TextSearch& search,
                                                                   const LineSource& text,
                                                                   ByteOffset from, ByteOffset to)
{
    const auto length = static_cast<ByteOffset>(search.pattern.size());
    if (length == 0 || to <= from)
        return {};
    const ByteOffset lo = std::max<ByteOffset>(0, from - length + 1);
    const TextSlice window = text.slice(lo, std::min<ByteOffset>(to - 1 + length, text.size()));
    auto found = OccurrencesTouching(search, window.view(), from - lo, to - lo);
    for (auto& [start, end] : found) {
        start += lo;
        end += lo;
    }
    return found;
}

} // namespace tlg
