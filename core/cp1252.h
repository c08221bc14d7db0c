#pragma once

// Windows-1252, the code page of logs and settings files. Text is held as bytes and decoded
// only for display.

#include <string>
#include <string_view>

namespace tlg {

// The Unicode character of a Windows-1252 byte. The five bytes that the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same number.
char16_t cp1252ToUnicode(unsigned char byte);

// The text decoded from Windows-1252, one UTF-16 unit per byte.
std::u16string decodeCp1252(std::string_view bytes);

// The text encoded in Windows-1252; a character the code page lacks becomes `replacement`.
std::string encodeCp1252(std::u16string_view text, char replacement = '?');

// Where a text bound for a settings file would change: the first character that Windows-1252
// lacks or that is one of `separators`, as the text (one or two UTF-16 units) and its index;
// an empty text when there is none.
struct Unstorable {
    std::u16string character;
    std::size_t at = 0;
};
Unstorable FirstUnstorable(std::u16string_view text, std::u16string_view separators);

} // namespace tlg
