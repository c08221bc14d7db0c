#pragma once

// Colouring a log by keyword labels: every word that holds an info label is blue, every word
// that holds an error label is red (error wins). A word is a run of bytes between spaces, CRs
// and LFs; the run includes the boundary byte after it. Labels match ignoring case by the
// log's rule (CaseFoldingFor: the Windows-1252 upper-case table, or a to z only when the rules
// say so), also inside words.

#include "core/faststrings.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tlg {

// The two colours, as RGB; the format editor's column captions show them too.
inline constexpr std::uint32_t kInfoRgb = 0x0000FF;
inline constexpr std::uint32_t kErrorRgb = 0xFF0000;

enum class LabelColour : std::uint8_t { None = 0, Info = 1, Error = 2 };

// The labels and the two gates as they were when a colouring pass ran.
struct ColourRules {
    std::array<std::string, 10> infoLabels;
    std::array<std::string, 10> errorLabels;
    bool showInfo = true;   // the "Show warnings" gate
    bool showErrors = true; // the "Show Errors" gate
    // Letter case is ignored for a to z only: for text that is not Windows-1252, whose other
    // bytes the code page's upper-case table would confuse.
    bool asciiCaseOnly = false;

    // How the labels are compared with the text: CaseFolding::Ascii or ::Windows1252.
    CaseFolding folding() const { return asciiCaseOnly ? CaseFolding::Ascii : CaseFolding::Windows1252; }
};

// The run of the text that holds the byte at offset: from the byte after the last space, CR or
// LF before it (or 0), to one past the first space, CR or LF at or after it (or the text's end).
std::pair<std::size_t, std::size_t> WordRun(std::string_view text, std::size_t offset);

// The colour of every byte of the text, by a pass over the whole text: for each label row,
// info rows then error rows, find each occurrence from where the last coloured run ended and
// colour its word run. This is the reference the per-line colouring must equal.
std::vector<LabelColour> ColourWholeText(std::string_view text, const ColourRules& rules);

// A stretch [start, end) of a line in one colour.
struct LabelSpan {
    std::size_t start;
    std::size_t end;
    LabelColour colour;
};

// The coloured stretches of one line, given with its line break (CR, LF or CR LF) when it has
// one: the same colours as the whole-text pass gives those bytes, because a word never crosses
// a line break. Only the bytes [from, to) are sure to be covered (a long line need not be
// coloured whole to paint a part of it): the words that hold them are coloured, and the
// returned spans may reach past the window. Spans come sorted and disjoint; `spans` is
// cleared first. A window that ends at 0 holds nothing and gives no spans.
void ColourLine(std::string_view line, const ColourRules& rules, std::vector<LabelSpan>& spans,
                std::size_t from = 0, std::size_t to = std::string_view::npos);

} // namespace tlg
