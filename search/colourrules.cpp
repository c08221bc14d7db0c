#include "search/colourrules.h"

#include "core/faststrings.h"
#include "core/fields.h"

#include <algorithm>

namespace tlg {

namespace {

bool isRunBoundary(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

// Marks the word runs of every occurrence of the labels in `text` (searched as `searched`,
// which is the text or its ASCII upper-cased copy) with the colour. Without ignoreCase the
// search is exact, which in the upper-cased copy ignores the case of a to z only.
void colourLabels(std::string_view text, std::string_view searched,
                  const std::array<std::string, 10>& labels, LabelColour colour,
                  std::vector<LabelColour>& colours, bool ignoreCase = true)
{
    for (const std::string& label : labels) {
        const std::string pattern = upperAscii(label);
        if (trimBlanks(pattern).empty())
            continue;
        std::int64_t position = 0; // from 1; the next search starts one past it
        for (;;) {
            position = FindForward(pattern, searched, ignoreCase, position + 1);
            if (position == 0)
                break;
            const auto [start, end] = WordRun(text, static_cast<std::size_t>(position - 1));
            for (std::size_t i = start; i < end; ++i)
                colours[i] = colour;
            // The next search starts right after the coloured run.
            position = static_cast<std::int64_t>(end);
        }
    }
}

} // namespace

std::pair<std::size_t, std::size_t> WordRun(std::string_view text, std::size_t offset)
{
    std::size_t start = offset;
    while (start > 0 && !isRunBoundary(text[start - 1]))
        --start;
    std::size_t end = offset;
    while (end < text.size() && !isRunBoundary(text[end]))
        ++end;
    if (end < text.size())
        ++end; // the boundary byte belongs to the run
    return {start, end};
}

std::vector<LabelColour> ColourWholeText(std::string_view text, const ColourRules& rules)
{
    std::vector<LabelColour> colours(text.size(), LabelColour::None);
    const std::string upper = upperAscii(text);
    // A gate that is up still lets the pass find the occurrences, but colours nothing.
    const bool ignoreCase = !rules.asciiCaseOnly;
    if (rules.showInfo)
        colourLabels(text, upper, rules.infoLabels, LabelColour::Info, colours, ignoreCase);
    if (rules.showErrors)
        colourLabels(text, upper, rules.errorLabels, LabelColour::Error, colours, ignoreCase);
    return colours;
}

void ColourLine(std::string_view line, const ColourRules& rules, std::vector<LabelSpan>& spans,
                std::size_t from, std::size_t to)
{
    spans.clear();
    if ((!rules.showInfo && !rules.showErrors) || line.empty())
        return;
    to = std::min(to, line.size());
    if (to == 0)
        return; // an empty window holds no byte to colour
    from = std::min(from, to - 1);
    // Whether a word is coloured depends only on the matches that start inside it, so the
    // words holding the window are coloured alike on their own, searched with room for the
    // longest label to run past their end.
    std::size_t longestLabel = 0;
    for (const auto* labels : {&rules.infoLabels, &rules.errorLabels}) {
        for (const std::string& label : *labels)
            longestLabel = std::max(longestLabel, label.size());
    }
    const std::size_t first = WordRun(line, from).first;
    const std::size_t last = WordRun(line, to - 1).second;
    const std::string_view part = line.substr(first, std::min(line.size(), last + longestLabel) - first);

    // Searching the line itself, ignoring case through the upper-case table, finds what the
    // whole-text pass finds in its ASCII upper-cased copy: the table upper-cases a to z too.
    // Case of a to z only: the exact search in an ASCII upper-cased copy.
    const std::string upper = rules.asciiCaseOnly ? upperAscii(part) : std::string();
    const std::string_view searched = rules.asciiCaseOnly ? std::string_view(upper) : part;
    const bool ignoreCase = !rules.asciiCaseOnly;
    std::vector<LabelColour> colours(part.size(), LabelColour::None);
    if (rules.showInfo)
        colourLabels(part, searched, rules.infoLabels, LabelColour::Info, colours, ignoreCase);
    if (rules.showErrors)
        colourLabels(part, searched, rules.errorLabels, LabelColour::Error, colours, ignoreCase);
    const std::size_t end = last - first; // runs past the held words may be cut short
    for (std::size_t i = 0; i < end;) {
        std::size_t j = i + 1;
        while (j < end && colours[j] == colours[i])
            ++j;
        if (colours[i] != LabelColour::None)
            spans.push_back({first + i, first + j, colours[i]});
        i = j;
    }
}

} // namespace tlg
