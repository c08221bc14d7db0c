#pragma once

// What the overview strip shows of a whole log: for each line, whether the colouring paints
// any of it red (an error word) or blue (an info word), and whether it holds the find text.
// Computed by the same rules as the view's colouring, so the strip and the view never
// disagree; a log that grows costs only its new lines.

#include "search/colourrules.h"
#include "document/linesource.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace tlg {

// Bits of a line's mark.
enum OverviewMark : std::uint8_t {
    kMarkInfo = 1,  // some byte of the line is painted in the info colour
    kMarkError = 2, // some byte of the line is painted in the error colour
    kMarkFound = 4, // the line holds the find text (ignoring case)
};

// How MarkLines goes through the text; tests shrink the blocks so that their seams are
// crossed, and ask for the plain search to check it against the scan.
struct MarkLinesTuning {
    std::size_t blockBytes = std::size_t{1} << 20; // whole lines of about this many bytes at a time
    bool plainSearch = false; // one search per label, as when the scanner cannot run
    // A line longer than this (with its break) is never read whole: it is scanned in windows of
    // this many bytes that overlap by the longest label or find text less one byte.
    std::size_t longLine = std::size_t{4} << 20;
};

// The marks of the lines [first, document.lineCount()), one byte per line. rules (null: no
// colour marks) must hold labels in the text's encoding, as the view uses them, compared
// through rules->folding(); pattern is the find text in that encoding (empty: no find marks),
// compared through `findFolding`, which must be the log's rule as Find uses it
// (CaseFoldingFor(encoding)): a line is marked found exactly when Find finds an occurrence
// starting in it. A line holds a colour exactly where the per-line colouring gives one. The
// lines holding any label are found by one scan over the text for every label and the find
// text at once (Vectorscan; one search per label where it cannot run), and only those lines
// are coloured. A line longer than tuning.longLine is scanned in overlapping windows, so the
// memory used stays bounded whatever the line's length. When `cancel` turns true the work
// stops early and the result is incomplete.
std::vector<std::uint8_t> MarkLines(const LineSource& document, LineNumber first,
                                    const ColourRules* rules, std::string_view pattern,
                                    CaseFolding findFolding, const std::atomic<bool>* cancel = nullptr,
                                    const MarkLinesTuning& tuning = {});
// The same with the find text compared by the rules' folding (Windows-1252's without rules).
// For callers that do not pass the log's folding yet: without rules, in a log that is not
// Windows-1252, the find marks can differ from Find's answers.
std::vector<std::uint8_t> MarkLines(const LineSource& document, LineNumber first,
                                    const ColourRules* rules, std::string_view pattern,
                                    const std::atomic<bool>* cancel = nullptr,
                                    const MarkLinesTuning& tuning = {});

// A block of whole lines [first, end) with their bytes and their marks (kMarkInfo, kMarkError),
// as MarkLineBlocks hands them on; for a line too long to be read whole, end is first + 1 and
// bytes are only its first kVisitedHead bytes. Returns false to stop the pass.
using MarkedBlockVisit =
    std::function<bool(LineNumber first, LineNumber end, std::string_view bytes, const std::uint8_t* marks)>;
inline constexpr std::size_t kVisitedHead = 256;

// The same pass as MarkLines over the lines [first, end), without a find text, handing each
// block on to `visit` in order once its marks are known, so that a caller can read more of each
// line (its time, say) from the bytes the pass read anyway; only a stretch of lines' marks is
// held at a time. Every line is visited, also without rules. False when cancelled or stopped.
bool MarkLineBlocks(const LineSource& document, LineNumber first, LineNumber end, const ColourRules* rules,
                    const MarkedBlockVisit& visit, const std::atomic<bool>* cancel = nullptr,
                    const MarkLinesTuning& tuning = {});

// The mark a strip row of `rows` stands for: the union of the marks of its lines, the lines
// being spread evenly over the rows (a row stands for at least one line; with fewer lines than
// rows, a line stands over several rows). Gives one entry per row.
std::vector<std::uint8_t> MarksPerRow(const std::vector<std::uint8_t>& lineMarks, int rows);

// What a strip row shows: the shares of its lines that hold the error colour and the info
// colour (0 to 1), and whether one of them holds the find text.
struct RowShare {
    float error = 0;
    float info = 0;
    bool found = false;
};
// The same rows as MarksPerRow, each with the shares of its lines.
std::vector<RowShare> SharesPerRow(const std::vector<std::uint8_t>& lineMarks, int rows);

// The first line a strip row stands for: the lines spread evenly over the rows, as the scroll
// bar spreads them over its groove (with fewer lines than rows, a line over several rows).
LineNumber LineOfRow(int row, int rows, LineCount lines);

} // namespace tlg
