#pragma once

// The one rule for letter case: which bytes count as the same letter when a search ignores
// case, chosen from the encoding the log's text is held in. Find, the view's marks of the find
// text, the filter's plain search, the colour rules' labels and the overview strip all take it.

#include "core/faststrings.h"
#include "document/encoding.h"

namespace tlg {

// Ignoring case: the Windows-1252 table in Windows-1252 text, a to z only in any other (the
// code page's capitals would confuse the bytes of UTF-8 sequences, and ISO-8859-1 text keeps
// the rule it always had). With matchCase, Exact.
constexpr CaseFolding CaseFoldingFor(Encoding held, bool matchCase = false)
{
    if (matchCase)
        return CaseFolding::Exact;
    return held == Encoding::Windows1252 ? CaseFolding::Windows1252 : CaseFolding::Ascii;
}

} // namespace tlg
