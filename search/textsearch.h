#pragma once

// Finding a text in a log's bytes the way find does it: ignoring case, matching inside words,
// forwards or backwards, and every occurrence that touches a stretch of the text (the marks of
// the lines in sight). The text to find is already in the log's encoding.

#include "document/linesource.h"
#include "search/casefolding.h"

#include <atomic>
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

    // The search for a pattern in a log held in `held`, ignoring case by the log's rule
    // (CaseFoldingFor) unless matchCase.
    static TextSearch forLog(std::string pattern, Encoding held, bool matchCase = false)
    {
        const CaseFolding folding = CaseFoldingFor(held, matchCase);
        return {std::move(pattern), folding != CaseFolding::Exact, folding == CaseFolding::Ascii};
    }
    // How bytes are compared: every search here goes through this.
    CaseFolding folding() const
    {
        return !ignoreCase ? CaseFolding::Exact : asciiCaseOnly ? CaseFolding::Ascii : CaseFolding::Windows1252;
    }
};

// What a search over a document gives when its cancel flag was seen set: no answer (it is
// below 0, as "not found" is, for callers that do not tell the two apart).
inline constexpr ByteOffset kSearchCancelled = -2;

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
// `cancel` (may be null) is looked at before each chunk of 4 MiB (1 MiB backwards): once it is
// set the search stops and gives kSearchCancelled. `looked` (may be null) counts the bytes
// looked at so far, for progress.
ByteOffset FindOccurrenceFrom(const TextSearch& search, const LineSource& text, ByteOffset from,
                              const std::atomic<bool>* cancel = nullptr, std::atomic<std::int64_t>* looked = nullptr);
ByteOffset FindOccurrenceBefore(const TextSearch& search, const LineSource& text, ByteOffset before,
                                const std::atomic<bool>* cancel = nullptr, std::atomic<std::int64_t>* looked = nullptr);
std::vector<std::pair<ByteOffset, ByteOffset>> OccurrencesTouching(const TextSearch& search,
                                                                   const LineSource& text,
                                                                   ByteOffset from, ByteOffset to);

} // namespace tlg
