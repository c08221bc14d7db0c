#include "core/faststrings.h"

#include "core/errors.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TLG_AVX2_SEARCH 1
#endif

namespace tlg {

namespace {

constexpr std::array<unsigned char, 256> makeUpperTable()
{
    std::array<unsigned char, 256> t{};
    for (int b = 0; b < 256; ++b) {
        t[b] = static_cast<unsigned char>(b);
    }
    for (int b = 'a'; b <= 'z'; ++b) {
        t[b] = static_cast<unsigned char>(b - 0x20);
    }
    for (int b = 0xE0; b <= 0xFE; ++b) {
        if (b != 0xF7) {
            t[b] = static_cast<unsigned char>(b - 0x20);
        }
    }
    t[0x9A] = 0x8A; // š -> Š
    t[0x9C] = 0x8C; // œ -> Œ
    t[0x9E] = 0x8E; // ž -> Ž
    t[0xFF] = 0x9F; // ÿ -> Ÿ
    return t;
}

} // namespace

// Defined constexpr so the table is laid down at compile time; the header's extern
// declaration keeps it visible to other translation units.
constexpr std::array<unsigned char, 256> UpperTable = makeUpperTable();

static_assert(UpperTable['a'] == 'A' && UpperTable['z'] == 'Z' && UpperTable['A'] == 'A');
static_assert(UpperTable[0xF7] == 0xF7 && UpperTable[0xDF] == 0xDF && UpperTable[0xB5] == 0xB5);
static_assert(UpperTable[0xE9] == 0xC9 && UpperTable[0xFF] == 0x9F);

namespace {

constexpr std::array<unsigned char, 256> makeAsciiUpperTable()
{
    std::array<unsigned char, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = static_cast<unsigned char>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
    return t;
}

constexpr std::array<unsigned char, 256> makeIdentityTable()
{
    std::array<unsigned char, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = static_cast<unsigned char>(b);
    return t;
}

constexpr std::array<unsigned char, 256> AsciiUpperTable = makeAsciiUpperTable();
constexpr std::array<unsigned char, 256> IdentityTable = makeIdentityTable();

struct ExactMap {
    static unsigned char at(char c) { return static_cast<unsigned char>(c); }
};

struct UpperMap {
    static unsigned char at(char c) { return UpperTable[static_cast<unsigned char>(c)]; }
};

struct AsciiUpperMap {
    static unsigned char at(char c) { return AsciiUpperTable[static_cast<unsigned char>(c)]; }
};

template <typename Map>
void fillSkipTable(std::string_view pattern, SkipTable& table)
{
    // A shift smaller than the true one is still safe, so patterns beyond 2^31 bytes simply
    // get capped shifts instead of an overflow.
    constexpr std::size_t cap = std::numeric_limits<std::int32_t>::max();
    const std::size_t m = pattern.size();
    table.fill(static_cast<std::int32_t>(m < cap ? m : cap));
    for (std::size_t k = 0; k + 1 < m; ++k) {
        const std::size_t shift = m - 1 - k;
        table[Map::at(pattern[k])] = static_cast<std::int32_t>(shift < cap ? shift : cap);
    }
}

template <typename Map>
std::int64_t horspool(std::string_view pattern, std::string_view text, std::size_t from)
{
    SkipTable table;
    fillSkipTable<Map>(pattern, table);

    const std::size_t m = pattern.size();
    const std::size_t last = text.size() - m; // the last window start that fits
    const char* const t = text.data();
    const char* const p = pattern.data();
    const unsigned char lastByte = Map::at(p[m - 1]);

    std::size_t pos = from;
    while (pos <= last) {
        const unsigned char under = Map::at(t[pos + m - 1]);
        if (under == lastByte) {
            std::size_t j = m - 1;
            while (j > 0 && Map::at(t[pos + j - 1]) == Map::at(p[j - 1])) {
                --j;
            }
            if (j == 0) {
                return static_cast<std::int64_t>(pos) + 1;
            }
        }
        pos += static_cast<std::size_t>(table[under]);
    }
    return 0;
}

// The other byte that upper-cases like b under a table (its small or capital letter), or b
// itself: in neither table does a byte share its capital with more than one other.
constexpr std::array<unsigned char, 256> makeOtherCaseTable(const std::array<unsigned char, 256>& upperTable)
{
    std::array<unsigned char, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = static_cast<unsigned char>(b);
    for (int b = 0; b < 256; ++b) {
        const unsigned char upper = upperTable[b];
        if (upper != b) {
            t[b] = upper;
            t[upper] = static_cast<unsigned char>(b);
        }
    }
    return t;
}

constexpr std::array<unsigned char, 256> OtherCase = makeOtherCaseTable(UpperTable);
constexpr std::array<unsigned char, 256> AsciiOtherCase = makeOtherCaseTable(AsciiUpperTable);
static_assert(OtherCase['a'] == 'A' && OtherCase['A'] == 'a' && OtherCase[0x9F] == 0xFF);
static_assert(AsciiOtherCase['a'] == 'A' && AsciiOtherCase[0xE9] == 0xE9);

template <typename Map>
unsigned char otherCaseOf(unsigned char b)
{
    if constexpr (std::is_same_v<Map, UpperMap>)
        return OtherCase[b];
    else if constexpr (std::is_same_v<Map, AsciiUpperMap>)
        return AsciiOtherCase[b];
    else
        return b;
}

// Of the window starts pos + i for each bit i of `candidates` (windows whose first and last
// bytes match), the first whose window holds the pattern, counted from 1; 0 for none.
template <typename Map>
std::int64_t firstHeldAt(std::string_view pattern, const char* t, std::size_t pos, unsigned candidates)
{
    for (; candidates != 0; candidates &= candidates - 1) {
        const std::size_t at = pos + static_cast<std::size_t>(__builtin_ctz(candidates));
        std::size_t j = 1;
        while (j + 1 < pattern.size() && Map::at(t[at + j]) == Map::at(pattern[j]))
            ++j;
        if (j + 1 >= pattern.size())
            return static_cast<std::int64_t>(at) + 1;
    }
    return 0;
}

#if defined(__SSE2__)
// Long texts: sixteen window starts at a time are kept only when the window's first and last
// bytes match (in either case when ignoring it), and only those are compared whole. The result
// is the skip-table search's, the leftmost occurrence, found several times faster.
template <typename Map>
std::int64_t filtered(std::string_view pattern, std::string_view text, std::size_t from)
{
    const std::size_t m = pattern.size();
    const char* const t = text.data();
    const unsigned char first = static_cast<unsigned char>(pattern.front());
    const unsigned char last = static_cast<unsigned char>(pattern.back());
    const __m128i first1 = _mm_set1_epi8(static_cast<char>(first));
    const __m128i first2 = _mm_set1_epi8(static_cast<char>(otherCaseOf<Map>(first)));
    const __m128i last1 = _mm_set1_epi8(static_cast<char>(last));
    const __m128i last2 = _mm_set1_epi8(static_cast<char>(otherCaseOf<Map>(last)));
    std::size_t pos = from;
    for (; pos + m + 15 <= text.size(); pos += 16) {
        const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + pos));
        const __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + pos + m - 1));
        const __m128i both = _mm_and_si128(
            _mm_or_si128(_mm_cmpeq_epi8(heads, first1), _mm_cmpeq_epi8(heads, first2)),
            _mm_or_si128(_mm_cmpeq_epi8(tails, last1), _mm_cmpeq_epi8(tails, last2)));
        if (const std::int64_t found = firstHeldAt<Map>(pattern, t, pos, static_cast<unsigned>(_mm_movemask_epi8(both))))
            return found;
    }
    // The last few window starts, too near the end for sixteen at a time.
    return pos <= text.size() - m ? horspool<Map>(pattern, text, pos) : 0;
}
#endif

#if defined(TLG_AVX2_SEARCH)
// As filtered, thirty-two window starts at a time, on processors that have AVX2.
template <typename Map>
__attribute__((target("avx2"))) std::int64_t filtered32(std::string_view pattern, std::string_view text,
                                                         std::size_t from)
{
    const std::size_t m = pattern.size();
    const char* const t = text.data();
    const unsigned char first = static_cast<unsigned char>(pattern.front());
    const unsigned char last = static_cast<unsigned char>(pattern.back());
    const __m256i first1 = _mm256_set1_epi8(static_cast<char>(first));
    const __m256i first2 = _mm256_set1_epi8(static_cast<char>(otherCaseOf<Map>(first)));
    const __m256i last1 = _mm256_set1_epi8(static_cast<char>(last));
    const __m256i last2 = _mm256_set1_epi8(static_cast<char>(otherCaseOf<Map>(last)));
    std::size_t pos = from;
    for (; pos + m + 31 <= text.size(); pos += 32) {
        const __m256i heads = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + pos));
        const __m256i tails = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + pos + m - 1));
        const __m256i both = _mm256_and_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(heads, first1), _mm256_cmpeq_epi8(heads, first2)),
            _mm256_or_si256(_mm256_cmpeq_epi8(tails, last1), _mm256_cmpeq_epi8(tails, last2)));
        if (const std::int64_t found = firstHeldAt<Map>(pattern, t, pos, static_cast<unsigned>(_mm256_movemask_epi8(both))))
            return found;
    }
    return pos <= text.size() - m ? horspool<Map>(pattern, text, pos) : 0;
}

bool hasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

template <typename Map>
std::int64_t search(std::string_view pattern, std::string_view text, std::size_t from)
{
#if defined(TLG_AVX2_SEARCH)
    if (text.size() - from >= 256 && hasAvx2())
        return filtered32<Map>(pattern, text, from);
#endif
#if defined(__SSE2__)
    if (text.size() - from >= 256)
        return filtered<Map>(pattern, text, from);
#endif
    return horspool<Map>(pattern, text, from);
}

} // namespace

void BuildSkipTable(std::string_view pattern, bool ignoreCase, SkipTable& table)
{
    if (pattern.empty()) {
        throw Failure("BufferLen is 0");
    }
    if (ignoreCase) {
        fillSkipTable<UpperMap>(pattern, table);
    } else {
        fillSkipTable<ExactMap>(pattern, table);
    }
}

const std::array<unsigned char, 256>& FoldingTable(CaseFolding folding)
{
    switch (folding) {
    case CaseFolding::Windows1252:
        return UpperTable;
    case CaseFolding::Ascii:
        return AsciiUpperTable;
    case CaseFolding::Exact:
        break;
    }
    return IdentityTable;
}

std::int64_t FindForward(std::string_view pattern, std::string_view text, bool ignoreCase,
                         std::int64_t start)
{
    return FindForward(pattern, text, ignoreCase ? CaseFolding::Windows1252 : CaseFolding::Exact, start);
}

std::int64_t FindForward(std::string_view pattern, std::string_view text, CaseFolding folding,
                         std::int64_t start)
{
    if (start < 1) {
        throw Failure("Assertion failure");
    }
    if (pattern.empty() || pattern.size() > text.size()) {
        return 0;
    }
    const std::uint64_t from = static_cast<std::uint64_t>(start) - 1;
    if (from > text.size() - pattern.size()) {
        return 0;
    }
    switch (folding) {
    case CaseFolding::Windows1252:
        return search<UpperMap>(pattern, text, static_cast<std::size_t>(from));
    case CaseFolding::Ascii:
        return search<AsciiUpperMap>(pattern, text, static_cast<std::size_t>(from));
    case CaseFolding::Exact:
        break;
    }
    return search<ExactMap>(pattern, text, static_cast<std::size_t>(from));
}

} // namespace tlg
