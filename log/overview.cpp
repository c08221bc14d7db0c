#include "log/overview.h"

#include "core/faststrings.h"
#include "core/fields.h"

#include <algorithm>
#include <utility>

namespace tlg {

namespace {

// Marks every line from `first` on that holds an occurrence of the pattern (ignoring case
// through the upper-case table) with `bit`; one search per line at most, as the search
// restarts at the next line after a hit.
void markOccurrences(const LogDocument& document, LineNumber first, std::string_view pattern,
                     std::uint8_t bit, std::vector<std::uint8_t>& marks,
                     const std::atomic<bool>* cancel)
{
    if (pattern.empty())
        return;
    const std::string_view text = document.text();
    const LineCount lines = document.lineCount();
    std::int64_t start = document.lineIndex(first) + 1; // FindForward counts from 1
    while (start <= static_cast<std::int64_t>(text.size())) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return;
        const std::int64_t found = FindForward(pattern, text, true, start);
        if (found == 0)
            return;
        const LineNumber line = document.lineFromOffset(found - 1);
        if (line >= first && line < lines)
            marks[static_cast<std::size_t>(line - first)] |= bit;
        start = document.lineIndex(line + 1) + 1;
        if (line + 1 >= document.rowCount())
            return;
    }
}

} // namespace

std::vector<std::uint8_t> MarkLines(const LogDocument& document, LineNumber first,
                                    const ColourRules* rules, std::string_view pattern,
                                    const std::atomic<bool>* cancel)
{
    const LineCount lines = document.lineCount();
    first = std::clamp<LineNumber>(first, 0, lines);
    std::vector<std::uint8_t> marks(static_cast<std::size_t>(lines - first), 0);
    if (marks.empty())
        return marks;

    if (rules && (rules->showErrors || rules->showInfo)) {
        // Candidates: the lines where some label occurs. The case-folding search finds at
        // least every occurrence the colouring can match, so no coloured line is missed; the
        // colouring then decides each candidate exactly.
        constexpr std::uint8_t kCandidate = 8;
        for (const auto& [labels, gate] : {std::pair{&rules->infoLabels, rules->showInfo},
                                            std::pair{&rules->errorLabels, rules->showErrors}}) {
            for (const std::string& label : *labels) {
                if (gate && !trimBlanks(label).empty())
                    markOccurrences(document, first, label, kCandidate, marks, cancel);
            }
        }
        std::vector<LabelSpan> spans;
        for (std::size_t i = 0; i < marks.size(); ++i) {
            if (!(marks[i] & kCandidate))
                continue;
            if (cancel && (i & 1023) == 0 && cancel->load(std::memory_order_relaxed))
                break;
            marks[i] &= ~kCandidate;
            const auto line = first + static_cast<LineNumber>(i);
            // With its line break, as the colouring takes it.
            const ByteOffset start = document.lineIndex(line);
            const ByteOffset end = document.lineIndex(line + 1);
            ColourLine(document.text().substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)),
                       *rules, spans);
            for (const LabelSpan& span : spans) {
                if (span.end <= span.start)
                    continue;
                marks[i] |= span.colour == LabelColour::Error ? kMarkError
                            : span.colour == LabelColour::Info ? kMarkInfo
                                                               : 0;
            }
        }
    }
    markOccurrences(document, first, pattern, kMarkFound, marks, cancel);
    return marks;
}

std::vector<std::uint8_t> MarksPerRow(const std::vector<std::uint8_t>& lineMarks, int rows)
{
    std::vector<std::uint8_t> result(static_cast<std::size_t>(std::max(rows, 0)), 0);
    const auto lines = static_cast<LineCount>(lineMarks.size());
    if (rows <= 0 || lines == 0)
        return result;
    for (int row = 0; row < rows; ++row) {
        const LineNumber from = LineOfRow(row, rows, lines);
        const LineNumber to = std::max(from + 1, LineOfRow(row + 1, rows, lines));
        if (from >= lines)
            break;
        std::uint8_t mark = 0;
        for (LineNumber line = from; line < std::min(to, lines); ++line)
            mark |= lineMarks[static_cast<std::size_t>(line)];
        result[static_cast<std::size_t>(row)] = mark;
    }
    return result;
}

LineNumber LineOfRow(int row, int rows, LineCount lines)
{
    if (rows <= 0 || lines <= 0)
        return 0;
    if (lines < rows)
        return row; // a row a line, from the top
    // 128-bit free: lines < 2^47 and rows < 2^16 keep the product in range.
    return static_cast<LineNumber>(static_cast<std::int64_t>(row) * lines / rows);
}

} // namespace tlg
