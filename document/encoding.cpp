#include "document/encoding.h"

#include "core/cp1252.h"

#include <algorithm>

namespace tlg {

namespace {

char* putUtf8(char32_t c, char* out)
{
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// True when the text holds no invalid UTF-8 sequence (plain ASCII is UTF-8 too); a sequence
// that runs past the end (the sample was cut there) is not held against it.
bool looksLikeUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            continue;
        }
        char32_t c = 0;
        const int length = Utf8SequenceAt(text, i, c);
        if (length == 0) {
            const int wanted = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
            // Cut by the sample's end: only when every byte there continues the sequence.
            if (wanted > 0 && i + static_cast<std::size_t>(wanted) > text.size()) {
                bool continues = byte >= 0xC2 && byte <= 0xF4;
                for (std::size_t k = i + 1; k < text.size(); ++k)
                    continues &= (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80;
                return continues;
            }
            return false;
        }
        i += static_cast<std::size_t>(length);
    }
    return true;
}

} // namespace

const char* EncodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Windows1252:
        return "Windows-1252";
    case Encoding::Iso8859_1:
        return "ISO-8859-1";
    case Encoding::Utf8:
        return "UTF-8";
    case Encoding::Utf16Le:
        return "UTF-16LE";
    case Encoding::Utf16Be:
        return "UTF-16BE";
    }
    return "Windows-1252";
}

Encoding HeldEncoding(Encoding encoding)
{
    return encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be ? Encoding::Utf8 : encoding;
}

Detection DetectEncoding(std::string_view head)
{
    const std::string_view sample = head.substr(0, kDetectionSample);
    if (sample.substr(0, 3) == "\xEF\xBB\xBF")
        return {Encoding::Utf8, 3, false};
    if (sample.substr(0, 2) == "\xFF\xFE")
        return {Encoding::Utf16Le, 2, false};
    if (sample.substr(0, 2) == "\xFE\xFF")
        return {Encoding::Utf16Be, 2, false};

    std::size_t nuls[2] = {0, 0}; // at even and at odd offsets
    for (std::size_t i = 0; i < sample.size(); ++i) {
        if (sample[i] == '\0')
            ++nuls[i % 2];
    }
    const std::size_t allNuls = nuls[0] + nuls[1];
    if (allNuls > 0) {
        // 16-bit text has its NULs on one side of each unit: the high byte of Latin text, of
        // spaces and of line breaks. A binary, or a stray NUL, has them anywhere or rarely.
        const std::size_t units = sample.size() / 2;
        for (int side = 0; side < 2; ++side) {
            const std::size_t these = nuls[side];
            if (these * 10 >= allNuls * 9 && these >= 2 && these * 8 >= units)
                return {side == 1 ? Encoding::Utf16Le : Encoding::Utf16Be, 0, false};
        }
    }
    const Encoding single = looksLikeUtf8(sample) ? Encoding::Utf8 : Encoding::Windows1252;
    return {single, 0, allNuls > 0};
}

int Utf8SequenceAt(std::string_view text, std::size_t index, char32_t& codePoint)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[index + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    int length = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (index + static_cast<std::size_t>(length) > text.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byte(static_cast<std::size_t>(k));
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and codes past the last one are not characters.
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    codePoint = c;
    return length;
}

std::size_t Utf16ToUtf8(std::string_view bytes, bool bigEndian, char* out)
{
    char* const start = out;
    const std::size_t units = bytes.size() / 2;
    auto unitAt = [&](std::size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = unitAt(i);
        char32_t c = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const char16_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD; // half a pair
        out = putUtf8(c, out);
    }
    if (bytes.size() % 2 != 0)
        out = putUtf8(0xFFFD, out);
    return static_cast<std::size_t>(out - start);
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    std::string text(3 * (bytes.size() / 2) + 3, '\0');
    text.resize(Utf16ToUtf8(bytes, bigEndian, text.data()));
    return text;
}

std::optional<std::string> EncodeForLog(std::u16string_view text, Encoding held)
{
    std::string bytes;
    bytes.reserve(text.size() * 3);
    switch (HeldEncoding(held)) {
    case Encoding::Utf8: {
        char buffer[4];
        for (std::size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                return std::nullopt; // half a pair is no character
            }
            bytes.append(buffer, putUtf8(c, buffer));
        }
        return bytes;
    }
    case Encoding::Iso8859_1:
        for (const char16_t c : text) {
            if (c > 0xFF)
                return std::nullopt;
            bytes.push_back(static_cast<char>(c));
        }
        return bytes;
    default:
        for (const char16_t c : text) {
            const std::string one = encodeCp1252(std::u16string_view(&c, 1), '\0');
            // The code page's own NUL aside, '\0' marks a character it lacks.
            if (c != 0 && one == std::string(1, '\0'))
                return std::nullopt;
            bytes += one;
        }
        return bytes;
    }
}

std::optional<std::string> RecodeCp1252ForLog(std::string_view cp1252, Encoding held)
{
    if (HeldEncoding(held) == Encoding::Windows1252)
        return std::string(cp1252);
    return EncodeForLog(decodeCp1252(cp1252), held);
}

} // namespace tlg
