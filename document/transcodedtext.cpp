#include "document/transcodedtext.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tlg {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::size_t utf8Length(char32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// Writes c as its `length` UTF-8 bytes; returns the end of what it wrote.
char* writeUtf8(char32_t c, std::size_t length, char* out)
{
    switch (length) {
    case 1:
        *out++ = static_cast<char>(c);
        break;
    case 2:
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
        break;
    case 3:
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
        break;
    default:
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
        break;
    }
    return out;
}

} // namespace

TextDecoder::TextDecoder(Transcoding how, std::int64_t file, std::int64_t shown)
    : m_how(how), m_file(file), m_shown(shown)
{
}

char* TextDecoder::put(char32_t c, std::int64_t charFile, char* out)
{
    const std::size_t length = utf8Length(c);
    if (m_shown + static_cast<std::int64_t>(length) > m_nextMark)
        mark(charFile, length);
    out = writeUtf8(c, length, out);
    m_shown += static_cast<std::int64_t>(length);
    return out;
}

std::size_t TextDecoder::decode(const char* in, std::size_t length, char* out)
{
    switch (m_how) {
    case Transcoding::Utf16Le:
    case Transcoding::Utf16Be:
        return decodeUtf16(in, length, out);
    case Transcoding::DropNulsAfterMark: {
        if (length == 0)
            return 0;
        // The last byte fed is held back: the file's last byte is never shown.
        std::size_t written = 0;
        if (m_haveLast) {
            const char last = m_last;
            m_haveLast = false;
            --m_file;
            written = dropNuls(&last, 1, out);
        }
        written += dropNuls(in, length - 1, out + written);
        m_last = in[length - 1];
        m_haveLast = true;
        ++m_file;
        return written;
    }
    default:
        return dropNuls(in, length, out);
    }
}

bool TextDecoder::passThrough(const char* in, std::size_t length)
{
    if (m_how != Transcoding::DropNuls || std::memchr(in, '\0', length) != nullptr)
        return false;
    const auto run = static_cast<std::int64_t>(length);
    while (m_shown + run > m_nextMark) {
        m_points.push_back({m_file + (m_nextMark - m_shown), 0});
        m_nextMark += m_every;
    }
    m_shown += run;
    m_file += run;
    return true;
}

std::size_t TextDecoder::dropNuls(const char* in, std::size_t length, char* out)
{
    const bool keepAll = m_how == Transcoding::None;
    char* const start = out;
    const char* const end = in + length;
    for (const char* at = in; at < end;) {
        const char* nul = keepAll ? end : static_cast<const char*>(std::memchr(at, '\0', static_cast<std::size_t>(end - at)));
        if (nul == nullptr)
            nul = end;
        const auto run = static_cast<std::int64_t>(nul - at);
        const std::int64_t runFile = m_file + (at - in);
        while (m_shown + run > m_nextMark) {
            m_points.push_back({runFile + (m_nextMark - m_shown), 0});
            m_nextMark += m_every;
        }
        std::memcpy(out, at, static_cast<std::size_t>(run));
        out += run;
        m_shown += run;
        at = nul + 1;
    }
    m_file += static_cast<std::int64_t>(length);
    return static_cast<std::size_t>(out - start);
}

std::size_t TextDecoder::decodeUtf16(const char* in, std::size_t length, char* out)
{
    char* const start = out;
    const bool big = m_how == Transcoding::Utf16Be;
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    const auto* const end = p + length;
    // Kept in locals while decoding: stores through `out` would otherwise reload them.
    std::int64_t shown = m_shown;
    std::int64_t nextMark = m_nextMark;
    auto emit = [&](char32_t c, std::int64_t charFile) {
        const std::size_t size = utf8Length(c);
        while (shown + static_cast<std::int64_t>(size) > nextMark) {
            m_points.push_back({charFile, static_cast<std::uint32_t>(nextMark - shown)});
            nextMark += m_every;
        }
        out = writeUtf8(c, size, out);
        shown += static_cast<std::int64_t>(size);
    };
    bool haveHigh = m_haveHigh;
    char16_t highUnit = m_high;
    // The file offset of the unit being decoded.
    std::int64_t unitFile = m_file - (m_haveByte ? 1 : 0);
    auto unitDone = [&](char16_t unit) {
        if (haveHigh) {
            haveHigh = false;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                emit(0x10000 + ((static_cast<char32_t>(highUnit) - 0xD800) << 10) + (unit - 0xDC00), unitFile - 2);
                unitFile += 2;
                return;
            }
            emit(kReplacement, unitFile - 2); // half a pair
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            haveHigh = true;
            highUnit = unit;
        } else {
            emit(unit >= 0xDC00 && unit <= 0xDFFF ? kReplacement : static_cast<char32_t>(unit), unitFile);
        }
        unitFile += 2;
    };
    auto unitOf = [big](unsigned a, unsigned b) { return static_cast<char16_t>(big ? (a << 8) | b : (b << 8) | a); };
    if (m_haveByte && p < end) {
        // The unit split between the last piece and this one.
        m_haveByte = false;
        const unsigned second = *p++;
        unitDone(unitOf(m_byte, second));
    }
    int scalar = 0; // units to decode one by one before trying eight at a time again
    while (end - p >= 2) {
#if defined(__SSE2__)
        // Eight ASCII units at a time (most of a log), while no mark falls among them.
        if (scalar > 0) {
            --scalar;
        } else if (!haveHigh) {
            const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
            const std::int64_t before = shown;
            while (end - p >= 16 && shown + 8 <= nextMark) {
                __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                if (big)
                    units = _mm_or_si128(_mm_slli_epi16(units, 8), _mm_srli_epi16(units, 8));
                if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, high), _mm_setzero_si128())) != 0xFFFF) {
                    scalar = 8; // text that is not ASCII comes in runs
                    break;
                }
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
                out += 8;
                shown += 8;
                p += 16;
            }
            unitFile += 2 * (shown - before);
            if (end - p < 2)
                break;
        }
#endif
        unitDone(unitOf(p[0], p[1]));
        p += 2;
    }
    if (p < end) {
        m_byte = *p;
        m_haveByte = true;
    }
    m_haveHigh = haveHigh;
    m_high = highUnit;
    m_shown = shown;
    m_nextMark = nextMark;
    m_file += static_cast<std::int64_t>(length);
    return static_cast<std::size_t>(out - start);
}

std::size_t TextDecoder::finish(char* out)
{
    char* const start = out;
    if (m_haveHigh) {
        out = put(kReplacement, m_file - (m_haveByte ? 1 : 0) - 2, out);
        m_haveHigh = false;
    }
    if (m_haveByte) {
        out = put(kReplacement, m_file - 1, out);
        m_haveByte = false;
    }
    m_haveLast = false; // the file's last byte after the mark is left out
    return static_cast<std::size_t>(out - start);
}

std::int64_t TextDecoder::pendingFile() const
{
    return m_file - (m_haveByte ? 1 : 0) - (m_haveHigh ? 2 : 0) - (m_haveLast ? 1 : 0);
}

} // namespace tlg
