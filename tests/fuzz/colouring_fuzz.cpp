// The per-line colouring, over any window of each line, gives the bytes it covers the colours
// of the whole-text pass.

#include "search/colourrules.h"
#include "fuzzinput.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace tlg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    ColourRules rules;
    const int labels = input.byte() % 6;
    for (int i = 0; i < labels; ++i) {
        // A label is a cell of a line of the format file: it never holds a line break.
        std::string label;
        for (const char c : input.piece().substr(0, 12)) {
            if (c != '\r' && c != '\n')
                label += c;
        }
        (i % 2 ? rules.errorLabels : rules.infoLabels)[static_cast<std::size_t>(i / 2)] = label;
    }
    rules.showInfo = input.flag() || labels == 0;
    rules.showErrors = input.flag() || labels == 0;
    const std::string_view windows = input.piece();
    const std::string_view text = input.rest();

    const std::vector<LabelColour> whole = ColourWholeText(text, rules);
    FUZZ_CHECK(whole.size() == text.size());
    std::vector<LabelSpan> spans;
    std::size_t start = 0;
    std::size_t window = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        if (end < text.size())
            end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
        // Each line alone in a buffer of its own, so that a read outside it is caught.
        const std::size_t length = end - start;
        const std::unique_ptr<char[]> bytes(new char[length]);
        std::memcpy(bytes.get(), text.data() + start, length);
        const std::string_view line(bytes.get(), length);

        // The whole line, then a window of it (an empty one included).
        const std::size_t a = window < windows.size() ? static_cast<unsigned char>(windows[window++]) : 0;
        const std::size_t b = window < windows.size() ? static_cast<unsigned char>(windows[window++]) : line.size();
        for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, line.size()},
                                       std::pair<std::size_t, std::size_t>{std::min(a, b), std::max(a, b)}}) {
            ColourLine(line, rules, spans, from, to);
            std::vector<LabelColour> shown(line.size(), LabelColour::None);
            for (std::size_t s = 0; s < spans.size(); ++s) {
                FUZZ_CHECK(spans[s].start < spans[s].end && spans[s].end <= line.size());
                FUZZ_CHECK(s == 0 || spans[s - 1].end <= spans[s].start);
                for (std::size_t i = spans[s].start; i < spans[s].end; ++i)
                    shown[i] = spans[s].colour;
            }
            for (std::size_t i = std::min(from, line.size()); i < std::min(to, line.size()); ++i)
                FUZZ_CHECK(shown[i] == whole[start + i]);
        }
        start = end;
    }
    return 0;
}
