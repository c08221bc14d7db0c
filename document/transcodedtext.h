#pragma once

// How a document's shown bytes come from its file's bytes, and the decoder that turns the one
// into the other a piece at a time, so that a document read from its file can decode any stretch
// of it on demand from a point in the middle.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tlg {

// What the bytes shown are made of.
enum class Transcoding : std::uint8_t {
    None,              // the file's bytes as they are
    DropNuls,          // the file's bytes without their NUL bytes
    DropNulsAfterMark, // the bytes at offsets 2 to size - 2 without their NUL bytes
    Utf16Le,           // 16-bit text decoded into UTF-8, a leading FF FE left out
    Utf16Be,           // the same in the other byte order, a leading FE FF left out
};

// Where decoding can resume: the file offset of the character that holds a given shown byte,
// and how many of that character's shown bytes come before it (0 to 3). Packed in 64 bits.
struct SourcePoint {
    std::int64_t file = 0;
    std::uint32_t skip = 0;
    std::uint64_t packed() const { return static_cast<std::uint64_t>(file) << 2 | skip; }
    static SourcePoint unpack(std::uint64_t value)
    {
        return {static_cast<std::int64_t>(value >> 2), static_cast<std::uint32_t>(value & 3)};
    }
};

// Decodes file bytes into shown bytes, fed in pieces of any size (a 16-bit unit, a surrogate
// pair or the last byte held back after the mark may be split between pieces). What the end
// of the file leaves pending (an odd byte, a high surrogate without its pair, the excluded
// last byte) is given by finish(): what a later decode from pendingFile() replaces when the
// file grows. Optionally records a SourcePoint at every multiple of `every` shown bytes from
// `nextMark` on.
class TextDecoder {
public:
    // Decoding starts at file offset `file`, which is shown offset `shown`.
    TextDecoder(Transcoding how, std::int64_t file, std::int64_t shown);

    // Records the SourcePoint of every shown offset nextMark + k * every into points().
    void markEvery(std::size_t every, std::int64_t nextMark)
    {
        m_every = static_cast<std::int64_t>(every);
        m_nextMark = nextMark;
    }

    // The most shown bytes `length` file bytes (with what is pending) decode into.
    static std::size_t room(std::size_t length) { return 2 * length + 8; }

    // Decodes the next `length` file bytes into out (room(length) bytes); returns the bytes
    // written.
    std::size_t decode(const char* in, std::size_t length, char* out);
    // For text without NULs dropped: when the next `length` file bytes hold no NUL, takes them
    // as decoded as they are (the caller uses `in` itself) and returns true; false (and nothing
    // taken) otherwise, or for another transcoding.
    bool passThrough(const char* in, std::size_t length);
    // Ends the text: writes what is pending (at most 6 bytes) and returns their number.
    std::size_t finish(char* out);

    // The file offset of the first byte still pending (the end of what was fed otherwise).
    std::int64_t pendingFile() const;
    // The shown offset of the next byte written.
    std::int64_t shown() const { return m_shown; }
    std::vector<SourcePoint>& points() { return m_points; }

private:
    void mark(std::int64_t charFile, std::size_t length)
    {
        // A character [m_shown, m_shown + length) that holds the next mark.
        while (m_shown + static_cast<std::int64_t>(length) > m_nextMark) {
            m_points.push_back({charFile, static_cast<std::uint32_t>(m_nextMark - m_shown)});
            m_nextMark += m_every;
        }
    }
    char* put(char32_t c, std::int64_t charFile, char* out);
    std::size_t decodeUtf16(const char* in, std::size_t length, char* out);
    std::size_t dropNuls(const char* in, std::size_t length, char* out);

    Transcoding m_how;
    std::int64_t m_file;  // the file offset of the next byte fed
    std::int64_t m_shown; // the shown offset of the next byte written
    std::int64_t m_every = 0;
    std::int64_t m_nextMark = INT64_MAX;
    std::vector<SourcePoint> m_points;
    // 16-bit text: an odd byte fed last, and a high surrogate waiting for its pair.
    bool m_haveByte = false;
    unsigned char m_byte = 0;
    bool m_haveHigh = false;
    char16_t m_high = 0;
    // After the mark: the last byte fed, held back as it may be the file's last.
    bool m_haveLast = false;
    char m_last = 0;
};

} // namespace tlg
