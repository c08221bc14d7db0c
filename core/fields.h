#pragma once

// Text helpers over 8-bit Windows-1252 text: one character is one byte.

#include <string>
#include <string_view>

namespace tlg {

// The field separator of the format file, the byte 0xA4 ("¤" in Windows-1252).
inline constexpr char kFormatSeparator = '\xA4';

// True for the blanks and control characters 0x00 to 0x20.
constexpr bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

// The text with blanks and control characters (0x00 to 0x20) removed from both ends.
std::string_view trimBlanks(std::string_view s);

// The text with the ASCII letters a to z upper-cased; every other byte is kept.
std::string upperAscii(std::string_view s);

// Field n (from 1) of a line split on the separator, trimmed of blanks and control
// characters. A line that is empty or only spaces comes back unchanged. Field c + 1 is the
// text after the last of c separators; a field past that is the whole line (trimmed of
// spaces, with a space put between every two adjacent separators), so a line without
// separators gives itself for every n. n < 1 is treated as 1.
std::string ExtractField(std::string_view line, int n, char separator);

// The text strictly between the first `open` and the first `close` character of s, or
// empty when either is missing or the first `close` does not come after the first `open`.
std::string TextBetween(std::string_view s, char open, char close);

// s with every occurrence of c removed.
std::string RemoveChar(std::string_view s, char c);

// True when sub occurs in s, comparing bytes exactly; false when either is empty or sub
// is longer than s.
bool ContainsSub(std::string_view s, std::string_view sub);

} // namespace tlg
