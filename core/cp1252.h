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

} // namespace tlg
