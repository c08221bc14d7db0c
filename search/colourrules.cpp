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

// Marks the word runs of every occurrence of the labels in `text`, compared through the
// folding, with the colour.
void colourLabels(std::string_view text, const std::array<std::string, 10>& labels, LabelColour colour,
                  std::vector<LabelColour>& colours, CaseFolding folding)
{
    for (const std::string& label : labels) {
        if (trimBlanks(label).empty())
            continue;
        std::int64_t position = 0; // from 1; the next search starts one past it
        for (;;) {
            position = FindForward(label, text, folding, position + 1);
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
    // A gate that is up still lets the pass find the occurrences, but colours nothing.
    if (rules.showInfo)
        colourLabels(text, rules.infoLabels, LabelColour::Info, colours, rules.folding());
    if (rules.showErrors)
        colourLabels(text, rules.errorLabels, LabelColour::Error, colours, rules.folding());
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

    std::vector<LabelColour> colours(part.size(), LabelColour::None);
    if (rules.showInfo)
        colourLabels(part, rules.infoLabels, LabelColour::Info, colours, rules.folding());
    if (rules.showErrors)
        colourLabels(part, rules.errorLabels, LabelColour::Error, colours, rules.folding());
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
