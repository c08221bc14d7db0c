#include "core/cp1252.h"

#include <array>

namespace tlg {

namespace {

// 0x80 to 0x9F, the only range where Windows-1252 differs from Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

char16_t cp1252ToUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return kHighControls[byte - 0x80];
    return byte;
}

std::u16string decodeCp1252(std::string_view bytes)
{
    std::u16string out;
    out.resize(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = cp1252ToUnicode(static_cast<unsigned char>(bytes[i]));
    return out;
}

namespace {

// The Windows-1252 byte of a character, or -1 when the code page lacks it.
int cp1252Byte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

} // namespace

std::string encodeCp1252(std::u16string_view text, char replacement)
{
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        const int byte = cp1252Byte(c);
        out.push_back(byte < 0 ? replacement : static_cast<char>(byte));
    }
    return out;
}

Unstorable FirstUnstorable(std::u16string_view text, std::u16string_view separators)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (cp1252Byte(text[i]) >= 0 && separators.find(text[i]) == std::u16string_view::npos)
            continue;
        // A character beyond the first plane is a surrogate pair: named whole.
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size();
        return {std::u16string(text.substr(i, pair ? 2 : 1)), i};
    }
    return {};
}

} // namespace tlg
