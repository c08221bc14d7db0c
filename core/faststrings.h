#pragma once

// The skip-table (Horspool) substring search that the colouring and the find run over the
// whole log text, and the Windows-1252 upper-casing table it compares through.

#include <array>
#include <cstdint>
#include <string_view>

namespace tlg {

// Entry b is the Windows-1252 capital of byte b: a to z, the accented small letters
// 0xE0 to 0xFE (but 0xF7, the division sign), and š, œ, ž, ÿ map to their capitals; every
// other byte maps to itself.
extern const std::array<unsigned char, 256> UpperTable;

// How letter case is ignored when bytes are compared. Find, the view's marks of the find
// text, the filter's plain search, the colour rules' labels and the overview strip all take
// one of these, chosen from the log's encoding (CaseFoldingFor in search/casefolding.h), so
// that they always agree on which bytes are the same letter.
enum class CaseFolding : std::uint8_t {
    Exact,       // every byte is only itself
    Ascii,       // a to z equal A to Z; every other byte is only itself (UTF-8 and other logs)
    Windows1252, // bytes equal when UpperTable maps them alike (Windows-1252 logs)
};

// Entry b is the byte b stands for under the folding: UpperTable for Windows1252, a to z
// upper-cased for Ascii, b itself for Exact.
const std::array<unsigned char, 256>& FoldingTable(CaseFolding folding);

using SkipTable = std::array<std::int32_t, 256>;

// Fills the skip table for one pattern: every entry the pattern's length m, then for each
// pattern byte but the last, entry map(byte) := m - 1 - k, later bytes overriding earlier
// ones; map is UpperTable when ignoring case. Throws Failure("BufferLen is 0") for an empty
// pattern.
void BuildSkipTable(std::string_view pattern, bool ignoreCase, SkipTable& table);

// The position (from 1) of the first occurrence of the pattern that starts at or after
// position `start` (from 1) and lies wholly inside the text, or 0 when there is none, the
// pattern is empty or longer than the text. Ignoring case compares bytes through UpperTable.
// Short texts are searched with the skip table; long ones are first filtered sixteen window
// starts at a time on the window's first and last bytes, with the same result.
// A start below 1 is a programming error: throws Failure("Assertion failure").
std::int64_t FindForward(std::string_view pattern, std::string_view text, bool ignoreCase,
                         std::int64_t start);
// The same, comparing bytes through the folding's table (ignoreCase above is
// CaseFolding::Windows1252, its absence CaseFolding::Exact).
std::int64_t FindForward(std::string_view pattern, std::string_view text, CaseFolding folding,
                         std::int64_t start);

} // namespace tlg
