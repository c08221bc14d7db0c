#pragma once

// Find with a regular expression (PCRE2, as the filter pane's): the next or the previous match,
// within one line at a time, as find's plain text is found. An empty match never counts, so
// that Find Next always moves on.

#include "document/encoding.h"
#include "document/linesource.h"

#include <atomic>
#include <memory>
#include <string>
#include <utility>

namespace tlg {

class RegexSearch {
public:
    // The pattern in the log's encoding; in UTF-8 it works on characters. An invalid one throws
    // Failure saying why and where.
    RegexSearch(const std::string& pattern, bool matchCase, Encoding held);
    ~RegexSearch();
    RegexSearch(const RegexSearch&) = delete;
    RegexSearch& operator=(const RegexSearch&) = delete;

    // A match as [start, end) in the text; start is -1 when there is none, kSearchCancelled
    // when `cancel` was seen set.
    using Match = std::pair<ByteOffset, ByteOffset>;
    // The first match that starts at or after `from`. `looked` (may be null) counts the bytes
    // looked at so far.
    Match findFrom(const LineSource& text, ByteOffset from, const std::atomic<bool>* cancel = nullptr,
                   std::atomic<std::int64_t>* looked = nullptr) const;
    // The last match that starts before `before`.
    Match findBefore(const LineSource& text, ByteOffset before, const std::atomic<bool>* cancel = nullptr,
                     std::atomic<std::int64_t>* looked = nullptr) const;

    // A line longer than this is matched on its first this many bytes, as the filter does.
    static constexpr std::int64_t kLongLine = std::int64_t(16) << 20;

private:
    struct Code;
    // The first match in the line's content at or after `start` (relative), or {-1, -1}.
    std::pair<std::int64_t, std::int64_t> matchInLine(std::string_view content, std::int64_t start) const;
    std::unique_ptr<Code> m_code;
};

} // namespace tlg
