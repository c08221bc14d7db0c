#include "document/lineindex.h"

#include "document/compressedindexcache.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tlg {

namespace {

constexpr std::size_t kGroupRows = LineIndex::kGroupRows;
// Lengths a group stores: the first row's start is its base.
constexpr std::size_t kLengths = kGroupRows - 1;
// After its lengths a group keeps the sums of its first 32, 64 and 96, so that a row's start
// takes a sum of at most 31 lengths: in 2 bytes each for one-byte lengths, 4 for two-byte ones,
// 8 for wider ones.
constexpr std::size_t kQuarterSums = kGroupRows / 32 - 1;
constexpr unsigned sumWidthCode(unsigned code)
{
    return code == 0 ? 1 : code == 1 ? 2 : 3;
}
constexpr std::size_t groupBytes(unsigned code)
{
    return (kLengths << code) + (kQuarterSums << sumWidthCode(code));
}
// Bytes of rows the first chunk holds at least: a small index starts small, and each chunk
// after holds twice the one before up to the largest.
constexpr std::size_t kSmallestChunk = 4u << 10;
// Elements a store claims from its last chunk at a time.
constexpr std::size_t kClaimStep = 4096;
// Bytes after a chunk's room, so that the sums may read sixteen bytes at a time past a group.
constexpr std::size_t kSlackBytes = 16;
constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();

std::uint64_t lengthAt(const unsigned char* bytes, unsigned code, std::size_t i)
{
    switch (code) {
    case 0:
        return bytes[i];
    case 1: {
        std::uint16_t value;
        std::memcpy(&value, bytes + 2 * i, 2);
        return value;
    }
    case 2: {
        std::uint32_t value;
        std::memcpy(&value, bytes + 4 * i, 4);
        return value;
    }
    default: {
        std::uint64_t value;
        std::memcpy(&value, bytes + 8 * i, 8);
        return value;
    }
    }
}

#if defined(__SSE2__)
// The sum of the sixteen bytes at `bytes`, in the low 64 bits.
inline std::uint64_t blockSum(const unsigned char* bytes)
{
    const __m128i sums = _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), _mm_setzero_si128());
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
           static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
}
#endif

template <typename Width>
std::uint64_t sumOfWide(const unsigned char* bytes, std::size_t n)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Width value;
        std::memcpy(&value, bytes + sizeof(Width) * i, sizeof(Width));
        sum += value;
    }
    return sum;
}

// The sum of the first `n` lengths of two bytes or more.
std::uint64_t sumOfLengths(const unsigned char* bytes, unsigned code, std::size_t n)
{
    switch (code) {
    case 1:
        return sumOfWide<std::uint16_t>(bytes, n);
    case 2:
        return sumOfWide<std::uint32_t>(bytes, n);
    default:
        return sumOfWide<std::uint64_t>(bytes, n);
    }
}

// The sum of the first 32 * q lengths of the group whose bytes are at `bytes`.
std::uint64_t quarterSum(const unsigned char* bytes, unsigned code, std::size_t q)
{
    if (q == 0)
        return 0;
    const unsigned char* sums = bytes + (kLengths << code);
    const unsigned sumCode = sumWidthCode(code);
    if (sumCode == 1) {
        std::uint16_t value;
        std::memcpy(&value, sums + 2 * (q - 1), 2);
        return value;
    }
    return lengthAt(sums, sumCode, q - 1);
}

} // namespace

template <typename T>
struct LineIndex::Chunk {
    explicit Chunk(std::size_t elements)
        : capacity(elements), data(new T[elements + (kSlackBytes + sizeof(T) - 1) / sizeof(T)])
    {
        std::memset(static_cast<void*>(data.get() + elements), 0, kSlackBytes);
    }
    const std::size_t capacity;
    std::atomic<std::size_t> used{0}; // the room handed out, from the chunk's start
    std::unique_ptr<T[]> data;
};

template <typename T>
LineIndex::Store<T>::Store(const Store& other)
    : m_chunks(other.m_chunks), m_end(other.m_end), m_ownFrom(other.m_end), m_claimed(other.m_end)
{
}

template <typename T>
LineIndex::Store<T>& LineIndex::Store<T>::operator=(const Store& other)
{
    if (this != &other) {
        finish();
        m_chunks = other.m_chunks;
        m_end = m_ownFrom = m_claimed = other.m_end;
    }
    return *this;
}

template <typename T>
T* LineIndex::Store<T>::take(std::size_t n, std::size_t capacity, std::size_t& chunk, std::size_t& offset)
{
    if (!m_chunks.empty() && m_end + n <= m_chunks.back().chunk->capacity) {
        Chunk<T>& last = *m_chunks.back().chunk;
        const std::size_t want = m_end + n;
        const bool inOwnRoom = m_claimed != kUnknown && m_ownFrom <= m_end && m_end <= m_claimed;
        if (!inOwnRoom || want > m_claimed) {
            const std::size_t to = std::min(last.capacity, std::max(want, m_end + kClaimStep));
            std::size_t expected = m_claimed;
            if (!inOwnRoom || !last.used.compare_exchange_strong(expected, to)) {
                // Another store took the room after ours, or this one dropped back into rows
                // that others read: the rows go on in a copy of the last chunk of our own.
                auto own = std::make_shared<Chunk<T>>(last.capacity);
                std::copy(m_chunks.back().data, m_chunks.back().data + m_end, own->data.get());
                own->used.store(to, std::memory_order_relaxed);
                m_chunks.back() = {own->data.get(), std::move(own)};
                m_ownFrom = m_end;
            }
            m_claimed = to;
        }
        chunk = m_chunks.size() - 1;
        offset = m_end;
        m_end = want;
        return m_chunks.back().data + offset;
    }
    finish();
    auto fresh = std::make_shared<Chunk<T>>(std::max(capacity, n));
    const std::size_t to = std::min(fresh->capacity, std::max(n, kClaimStep));
    fresh->used.store(to, std::memory_order_relaxed);
    m_chunks.push_back({fresh->data.get(), std::move(fresh)});
    m_ownFrom = 0;
    m_claimed = to;
    m_end = n;
    chunk = m_chunks.size() - 1;
    offset = 0;
    return m_chunks.back().data;
}

template <typename T>
void LineIndex::Store<T>::truncate(std::size_t chunk, std::size_t offset)
{
    if (chunk + 1 < m_chunks.size()) {
        finish();
        m_chunks.resize(chunk + 1);
        // What this store claimed of that chunk is not known any more: it copies the chunk
        // before it adds to it.
        m_ownFrom = m_claimed = kUnknown;
    }
    m_end = offset;
}

template <typename T>
void LineIndex::Store<T>::finish()
{
    if (m_chunks.empty() || m_claimed == kUnknown)
        return;
    const std::size_t keep = std::max(m_end, m_ownFrom);
    if (m_claimed > keep) {
        std::size_t expected = m_claimed;
        m_chunks.back().chunk->used.compare_exchange_strong(expected, keep);
        m_claimed = keep;
    }
}

template <typename T>
std::size_t LineIndex::Store<T>::capacity(std::size_t chunk) const
{
    return m_chunks[chunk].chunk->capacity;
}

LineIndex::LineIndex(std::size_t chunkBytes)
    : m_nextChunk(std::min(kSmallestChunk, chunkBytes)), m_largestChunk(chunkBytes)
{
}

LineIndex::LineIndex(const LineIndex& other) = default;
LineIndex& LineIndex::operator=(const LineIndex& other) = default;

void LineIndex::reserve(std::size_t textBytes)
{
    m_nextChunk = std::clamp<std::size_t>(textBytes / 64, std::min(kSmallestChunk, m_largestChunk), m_largestChunk);
}

void LineIndex::push(ByteOffset start)
{
    if (m_openRows == kGroupRows)
        flush();
    m_open[m_openRows++] = start.value();
}

void LineIndex::flush()
{
    std::uint64_t longest = 0;
    for (std::size_t i = 0; i < kLengths; ++i)
        longest = std::max(longest, static_cast<std::uint64_t>(m_open[i + 1] - m_open[i]));
    const unsigned code = longest <= 0xFF ? 0 : longest <= 0xFFFF ? 1 : longest <= 0xFFFFFFFFu ? 2 : 3;
    const std::size_t bytes = groupBytes(code);
    const std::size_t chunksBefore = m_bytes.chunks();
    std::size_t chunk = 0, offset = 0;
    unsigned char* out = m_bytes.take(bytes, std::max(m_nextChunk, bytes), chunk, offset);
    if (m_bytes.chunks() != chunksBefore)
        m_nextChunk = std::min(2 * m_nextChunk, m_largestChunk);
    switch (code) {
    case 0:
        for (std::size_t i = 0; i < kLengths; ++i)
            out[i] = static_cast<unsigned char>(m_open[i + 1] - m_open[i]);
        break;
    case 1:
        for (std::size_t i = 0; i < kLengths; ++i) {
            const auto length = static_cast<std::uint16_t>(m_open[i + 1] - m_open[i]);
            std::memcpy(out + 2 * i, &length, 2);
        }
        break;
    case 2:
        for (std::size_t i = 0; i < kLengths; ++i) {
            const auto length = static_cast<std::uint32_t>(m_open[i + 1] - m_open[i]);
            std::memcpy(out + 4 * i, &length, 4);
        }
        break;
    default:
        for (std::size_t i = 0; i < kLengths; ++i) {
            const auto length = static_cast<std::uint64_t>(m_open[i + 1] - m_open[i]);
            std::memcpy(out + 8 * i, &length, 8);
        }
        break;
    }
    unsigned char* sums = out + (kLengths << code);
    for (std::size_t q = 1; q <= kQuarterSums; ++q) {
        const auto sum = static_cast<std::uint64_t>(m_open[q * kQuarter] - m_open[0]);
        if (code == 0) {
            const auto narrow = static_cast<std::uint16_t>(sum);
            std::memcpy(sums + 2 * (q - 1), &narrow, 2);
        } else if (code == 1) {
            const auto narrow = static_cast<std::uint32_t>(sum);
            std::memcpy(sums + 4 * (q - 1), &narrow, 4);
        } else {
            std::memcpy(sums + 8 * (q - 1), &sum, 8);
        }
    }
    std::size_t headerChunk = 0, headerOffset = 0;
    Group* header = m_headers.take(1, kHeadersPerChunk, headerChunk, headerOffset);
    *header = {m_open[0], static_cast<std::uint64_t>(chunk) << 34 | static_cast<std::uint64_t>(offset) << 2 | code};
    ++m_groups;
    m_openRows = 0;
}

void LineIndex::reopenLastGroup()
{
    const std::size_t g = m_groups - 1;
    const Group header = group(g);
    const unsigned code = header.place & 3;
    const unsigned char* bytes = bytesOf(header);
    m_open[0] = header.base;
    for (std::size_t i = 0; i < kLengths; ++i)
        m_open[i + 1] = m_open[i] + static_cast<std::int64_t>(lengthAt(bytes, code, i));
    m_openRows = kGroupRows;
    m_headers.truncate(g / kHeadersPerChunk, g % kHeadersPerChunk);
    m_bytes.truncate(header.place >> 34, (header.place >> 2) & 0xFFFFFFFFu);
    --m_groups;
}

void LineIndex::dropLast()
{
    if (m_openRows == 0)
        reopenLastGroup();
    --m_openRows;
}

void LineIndex::finish()
{
    m_headers.finish();
    m_bytes.finish();
}

void LineIndex::starts(std::size_t first, std::size_t count, ByteOffset* out) const
{
    const std::size_t end = first + count;
    std::size_t row = first;
    while (row < end) {
        const std::size_t g = row / kGroupRows;
        const std::size_t stop = std::min(end, (g + 1) * kGroupRows);
        if (g >= m_groups) {
            for (; row < stop; ++row)
                *out++ = static_cast<ByteOffset>(m_open[row % kGroupRows]);
            continue;
        }
        const Group& header = group(g);
        const unsigned char* bytes = bytesOf(header);
        const unsigned code = header.place & 3;
        ByteOffset at = start(row);
        *out++ = at;
        // Row k starts where row k - 1 does, plus the length kept for it.
        for (++row; row < stop; ++row) {
            at += static_cast<std::int64_t>(lengthAt(bytes, code, row % kGroupRows - 1));
            *out++ = at;
        }
    }
}

std::int64_t LineIndex::wideStart(const Group& header, std::size_t k) const
{
    const unsigned char* bytes = bytesOf(header);
    const unsigned code = header.place & 3;
    const std::size_t q = k / kQuarter;
    return header.base + static_cast<std::int64_t>(quarterSum(bytes, code, q) +
                                                   sumOfLengths(bytes + (q * kQuarter << code), code, k % kQuarter));
}

std::size_t LineIndex::rowInGroup(const Group& header, std::int64_t target) const
{
    const unsigned char* bytes = bytesOf(header);
    const unsigned code = header.place & 3;
    const auto left = static_cast<std::uint64_t>(target);
    // The last quarter that starts at or before the target, then its rows.
    std::size_t q = 0;
    while (q < kQuarterSums && quarterSum(bytes, code, q + 1) <= left)
        ++q;
    std::uint64_t sum = quarterSum(bytes, code, q);
    std::size_t i = q * kQuarter;
    const std::size_t end = std::min(i + kQuarter, kLengths);
#if defined(__SSE2__)
    if (code == 0 && i + 16 <= end) {
        const std::uint64_t block = blockSum(bytes + i);
        if (sum + block <= left) {
            sum += block;
            i += 16;
        }
    }
#endif
    for (; i < end; ++i) {
        const std::uint64_t length = lengthAt(bytes, code, i);
        if (sum + length > left)
            break;
        sum += length;
    }
    return i;
}

std::size_t LineIndex::rowAt(ByteOffset offset) const
{
    const std::int64_t target = offset.value();
    if (m_openRows > 0 && target >= m_open[0]) {
        const std::int64_t* found = std::upper_bound(m_open.data(), m_open.data() + m_openRows, target);
        return m_groups * kGroupRows + static_cast<std::size_t>(found - m_open.data()) - 1;
    }
    if (m_groups == 0 || group(0).base > target)
        return 0;
    // The last group that starts at or before the target: its chunk of headers, then the group
    // among the chunk's.
    std::size_t low = 0, high = (m_groups + kHeadersPerChunk - 1) / kHeadersPerChunk;
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (m_headers.at(middle, 0)->base <= target)
            low = middle;
        else
            high = middle;
    }
    const Group* first = m_headers.at(low, 0);
    const Group* last = first + std::min(kHeadersPerChunk, m_groups - low * kHeadersPerChunk);
    const Group* found =
        std::upper_bound(first, last, target, [](std::int64_t at, const Group& header) { return at < header.base; }) - 1;
    const std::size_t g = low * kHeadersPerChunk + static_cast<std::size_t>(found - first);
    return g * kGroupRows + rowInGroup(*found, target - found->base);
}

std::size_t LineIndex::memory() const
{
    std::size_t bytes = m_groups * sizeof(Group) + sizeof(m_open);
    for (std::size_t c = 0; c + 1 < m_bytes.chunks(); ++c)
        bytes += m_bytes.capacity(c);
    return bytes + (m_bytes.chunks() > 0 ? m_bytes.end() : 0);
}

void LineIndex::write(std::string& out) const
{
    PutVarint(out, m_groups);
    for (std::size_t g = 0; g < m_groups; ++g) {
        const Group& header = group(g);
        const unsigned code = header.place & 3;
        PutFixed(out, static_cast<std::uint64_t>(header.base));
        out.push_back(static_cast<char>(code));
        out.append(reinterpret_cast<const char*>(bytesOf(header)),
                   kLengths << code);
    }
    PutVarint(out, m_openRows);
    for (std::size_t k = 0; k < m_openRows; ++k)
        PutFixed(out, static_cast<std::uint64_t>(m_open[k]));
}

bool LineIndex::read(std::string_view& in, ByteOffset size)
{
    if (size < 0)
        return false;
    const auto end = static_cast<std::uint64_t>(size.value());
    std::uint64_t groups = 0;
    if (!TakeVarint(in, groups) || groups > in.size() / (9 + kLengths))
        return false;
    reserve(static_cast<std::size_t>(groups * kLengths));
    // Every start lies after the one before and within the text.
    std::uint64_t last = 0;
    bool first = true;
    auto take = [&](std::uint64_t start) {
        if (start > end || (!first && start <= last))
            return false;
        push(static_cast<std::int64_t>(start));
        last = start;
        first = false;
        return true;
    };
    for (std::uint64_t g = 0; g < groups; ++g) {
        std::uint64_t base = 0;
        if (!TakeFixed(in, base) || in.empty() || static_cast<unsigned char>(in.front()) > 3)
            return false;
        const unsigned code = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        const std::size_t bytes = kLengths << code;
        if (in.size() < bytes || !take(base))
            return false;
        const auto* lengths = reinterpret_cast<const unsigned char*>(in.data());
        for (std::size_t i = 0; i < kLengths; ++i) {
            const std::uint64_t length = lengthAt(lengths, code, i);
            if (length > end || !take(last + length))
                return false;
        }
        in.remove_prefix(bytes);
    }
    std::uint64_t open = 0;
    if (!TakeVarint(in, open) || open > kGroupRows)
        return false;
    for (std::uint64_t k = 0; k < open; ++k) {
        std::uint64_t start = 0;
        if (!TakeFixed(in, start) || !take(start))
            return false;
    }
    finish();
    return true;
}

template class LineIndex::Store<LineIndex::Group>;
template class LineIndex::Store<unsigned char>;

} // namespace tlg
