#pragma once

// Finding a text in a log's bytes the way find does it: ignoring case, matching inside words,
// forwards or backwards, and every occurrence that touches a stretch of the text (the marks of
// the lines in sight). The text to find is already in the log's encoding.

#include "document/logdocument.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tlg {

struct TextSearch {
    std::string pattern;        // in the log's encoding; empty finds nothing
    bool ignoreCase = true;
    // Outside Windows-1252 only a to z are compared without regard to case: the code page's
    // capitals would confuse the bytes of UTF-8 sequences.
    bool asciiCaseOnly = false;
};

// The first occurrence that starts at or after `from` and lies wholly in the text, or -1.
ByteOffset FindOccurrenceFrom(const TextSearch& search, std::string_view text, ByteOffset from);
// The last occurrence that starts before `before`, or -1. Searches back a block at a time, so
// an occurrence near `before` costs little whatever the size of the text.
ByteOffset FindOccurrenceBefore(const TextSearch& search, std::string_view text, ByteOffset before);
// Every occurrence that overlaps [from, to), in order of their starts, as [start, end) pairs;
// occurrences may overlap one another. Only the bytes within a pattern's length of the
// stretch are looked at.
std::vector<std::pair<ByteOffset, ByteOffset>> OccurrencesTouching(const TextSearch& search,
                                                                   std::string_view text,
                                                                   ByteOffset from, ByteOffset to);

// The same over a document, read a chunk at a time: only the stretch looked at is read.
ByteOffset FindOccurrenceFrom(const TextSearch& search, const LogDocument& text, ByteOffset from);
ByteOffset FindOccurrenceBefore(const TextSearch& search, const LogDocument& text, ByteOffset before);
std::vector<std::pair<ByteOffset, ByteOffset>> OccurrencesTouching(const TextSearch& search,
                                                                   const LogDocument& text,
                                                                   ByteOffset from, ByteOffset to);

} // namespace tlg
