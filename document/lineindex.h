#pragma once

// The line starts of a document, in about one byte a line. Rows are kept in groups of
// kGroupRows: a group holds its first row's start in full and each further row as the length of
// the line before it, in the width that the group's longest line needs (1, 2, 4 or 8 bytes).
// The rows after the last whole group (the open group) are kept in full, in the index itself,
// until the next group begins.
//
// The groups' bytes and headers lie in chunks that never move once written: growing the index
// fills the last chunk and then adds another, never copying what is stored. A copy of an index
// shares every chunk; the index copied from and its copies may each add rows after what they
// share, and the first to add claims the room after it in the last chunk. Another that adds
// after the same rows, or one that drops rows it shares and then adds, takes its own copy of
// the last chunk first: what any index reads is never written again. Reading is safe from any
// thread while no row is added or dropped to that same index.

#include "document/linesource.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tlg {

class LineIndex {
public:
    static constexpr std::size_t kGroupRows = 128;

    LineIndex() = default;
    // An index whose chunks of rows hold at most `chunkBytes` (tests make them tiny).
    explicit LineIndex(std::size_t chunkBytes);
    // Shares the chunks of `other` and claims nothing of their room yet.
    LineIndex(const LineIndex& other);
    LineIndex& operator=(const LineIndex& other);
    LineIndex(LineIndex&&) = default;
    LineIndex& operator=(LineIndex&&) = default;
    ~LineIndex() = default;

    // Sizes the first chunk for a text of about this many bytes (a guess; any size works).
    void reserve(std::size_t textBytes);
    // Adds a row starting at `start`, after the last row's start.
    void push(ByteOffset start);
    // Drops the last row (there must be one).
    void dropLast();
    // Gives back the room claimed and not used, so that an index copied from this one can
    // claim it. Call once the rows are added, before the index is copied or read elsewhere.
    void finish();

    std::size_t rows() const { return m_groups * kGroupRows + m_openRows; }
    // The start of `row`, which must be below rows().
    ByteOffset start(std::size_t row) const;
    // The starts of the rows [first, first + count), which must be below rows(), into out: one
    // lookup, then each row's length added, for passes that read every line of a stretch.
    void starts(std::size_t first, std::size_t count, ByteOffset* out) const;
    // The last row that starts at or before `offset` (0 when none does).
    std::size_t rowAt(ByteOffset offset) const;
    // Bytes of memory the rows take (the chunks up to the last row, the headers, the open
    // group).
    std::size_t memory() const;

    // Appends the rows in a form that does not depend on the chunks' layout.
    void write(std::string& out) const;
    // Reads rows written by write() from the front of `in` into this empty index. False (the
    // index then unusable) when `in` is cut short or its rows do not start in order within
    // [0, size].
    bool read(std::string_view& in, ByteOffset size);

private:
    struct Group {
        std::int64_t base;   // the first row's start
        std::uint64_t place; // chunk << 34 | offset << 2 | width code
    };
    template <typename T>
    struct Chunk;
    // Elements of T in chunks, each chunk claimed a stretch at a time by the newest store.
    template <typename T>
    class Store {
    public:
        Store() = default;
        Store(const Store& other);
        Store& operator=(const Store& other);
        Store(Store&&) = default;
        Store& operator=(Store&&) = default;
        // Room for `n` elements after the last ones, in the last chunk or in a new one of
        // `capacity` (at least n) elements; `chunk` and `offset` say where it lies.
        T* take(std::size_t n, std::size_t capacity, std::size_t& chunk, std::size_t& offset);
        // Back to the end at element `offset` of chunk `chunk`.
        void truncate(std::size_t chunk, std::size_t offset);
        void finish();
        const T* at(std::size_t chunk, std::size_t offset) const { return m_chunks[chunk].data + offset; }
        std::size_t chunks() const { return m_chunks.size(); }
        std::size_t capacity(std::size_t chunk) const;
        std::size_t end() const { return m_end; }

    private:
        struct Held {
            T* data; // the chunk's elements, at hand without a step through the chunk
            std::shared_ptr<Chunk<T>> chunk;
        };
        std::vector<Held> m_chunks;
        std::size_t m_end = 0; // elements used in the last chunk
        // The room of the last chunk that this store claimed: [m_ownFrom, m_claimed).
        std::size_t m_ownFrom = 0;
        std::size_t m_claimed = 0;
    };

    // Stores the open group, whole, as a group.
    void flush();
    // Makes the last stored group the open one again.
    void reopenLastGroup();
    static constexpr std::size_t kHeadersPerChunk = 1024; // 16 KiB: 128 Ki rows
    // A group's lengths are followed by the sums of its first 32, 64 and 96.
    static constexpr std::size_t kQuarter = 32;
    const Group& group(std::size_t g) const { return *m_headers.at(g / kHeadersPerChunk, g % kHeadersPerChunk); }
    const unsigned char* bytesOf(const Group& group) const
    {
        return m_bytes.at(group.place >> 34, (group.place >> 2) & 0xFFFFFFFFu);
    }
    // The start of row `k` of a group of wider lengths.
    std::int64_t wideStart(const Group& group, std::size_t k) const;
    // The sum of the first `n` (at most 31) of the one-byte lengths at `bytes`, reading 32 bytes.
    static std::uint64_t sumOfBytes(const unsigned char* bytes, std::size_t n);
    std::size_t rowInGroup(const Group& group, std::int64_t target) const;

    Store<Group> m_headers;
    Store<unsigned char> m_bytes;
    std::size_t m_groups = 0;
    std::size_t m_nextChunk = 4u << 10;    // bytes of the next chunk of rows
    std::size_t m_largestChunk = 1u << 20; // and the most a chunk holds
    // The open group: its rows' starts in full.
    std::array<std::int64_t, kGroupRows> m_open{};
    std::size_t m_openRows = 0;
};

// (The lookups of a row's start are inline: passes over a whole log make one or two a line.)
inline std::uint64_t LineIndex::sumOfBytes(const unsigned char* bytes, std::size_t n)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i count = _mm_set1_epi8(static_cast<char>(n));
    const __m128i low = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i high = _mm_add_epi8(low, _mm_set1_epi8(16));
    const __m128i first = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), _mm_cmpgt_epi8(count, low));
    const __m128i second =
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16)), _mm_cmpgt_epi8(count, high));
    const __m128i sums = _mm_add_epi64(_mm_sad_epu8(first, zero), _mm_sad_epu8(second, zero));
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
           static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#else
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += bytes[i];
    return sum;
#endif
}

inline ByteOffset LineIndex::start(std::size_t row) const
{
    const std::size_t g = row / kGroupRows;
    const std::size_t k = row % kGroupRows;
    if (g >= m_groups)
        return m_open[k];
    const Group& header = group(g);
    if ((header.place & 3) != 0)
        return wideStart(header, k);
    const unsigned char* bytes = bytesOf(header);
    const std::size_t q = k / kQuarter;
    std::uint16_t before = 0;
    if (q > 0)
        std::memcpy(&before, bytes + (kGroupRows - 1) + 2 * (q - 1), 2);
    return header.base + static_cast<std::int64_t>(before + sumOfBytes(bytes + q * kQuarter, k % kQuarter));
}

} // namespace tlg
