#include "core/faststrings.h"

#include "core/errors.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tlg {
namespace {

TEST(UpperTable, MapsWindows1252SmallLettersOnly)
{
    struct Row {
        const char* probe;
        unsigned char from;
        unsigned char to;
    };
    const Row rows[] = {
        {"a", 'a', 'A'},
        {"capital stays", 'Q', 'Q'},
        {"backquote before a", '`', '`'},
        {"brace after z", '{', '{'},
        {"a grave", 0xE0, 0xC0},
        {"thorn", 0xFE, 0xDE},
        {"division sign", 0xF7, 0xF7},
        {"sharp s has no capital", 0xDF, 0xDF},
        {"micro sign", 0xB5, 0xB5},
        {"s caron", 0x9A, 0x8A},
        {"z caron", 0x9E, 0x8E},
        {"y diaeresis", 0xFF, 0x9F},
        {"multiplication sign", 0xD7, 0xD7},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(UpperTable[r.from], r.to) << r.probe;
    }

    int changed = 0;
    for (int b = 0; b < 256; ++b) {
        changed += UpperTable[b] != b;
        EXPECT_EQ(UpperTable[UpperTable[b]], UpperTable[b]) << "capital of a capital, " << b;
    }
    EXPECT_EQ(changed, 26 + 30 + 4);
}

TEST(BuildSkipTable, ShiftsFromLastOccurrenceBeforeTheEnd)
{
    SkipTable t;
    BuildSkipTable("abcab", false, t);
    EXPECT_EQ(t['a'], 1);
    EXPECT_EQ(t['b'], 3); // the final b does not count
    EXPECT_EQ(t['c'], 2);
    EXPECT_EQ(t['A'], 5);
    EXPECT_EQ(t['z'], 5);

    BuildSkipTable("ab\xE9x", true, t);
    EXPECT_EQ(t['A'], 3);
    EXPECT_EQ(t['B'], 2);
    EXPECT_EQ(t[0xC9], 1);
    EXPECT_EQ(t['a'], 4); // small letters never index a folded table
    EXPECT_EQ(t['X'], 4);

    try {
        BuildSkipTable("", false, t);
        FAIL() << "an empty pattern must throw";
    } catch (const Failure& e) {
        EXPECT_STREQ(e.what(), "BufferLen is 0");
    }
}

TEST(FindForward, ExamplesAndLimits)
{
    EXPECT_EQ(FindForward("fatal", "FATAL", true, 1), 1);
    EXPECT_EQ(FindForward("fatal", "Fatal", true, 1), 1);
    EXPECT_EQ(FindForward("fatal", "Fatal", false, 1), 0);
    EXPECT_EQ(FindForward("fatal", "a Fatal error", true, 1), 3);
    EXPECT_EQ(FindForward("fatal", "a Fatal error", true, 3), 3);
    EXPECT_EQ(FindForward("fatal", "a Fatal error", true, 4), 0);
    EXPECT_EQ(FindForward("\xE9t\xE9", "\xC9T\xC9", true, 1), 1);
    EXPECT_EQ(FindForward("\xF7", "\xD7", true, 1), 0); // division vs multiplication sign
    EXPECT_EQ(FindForward("x", "", true, 1), 0);
    EXPECT_EQ(FindForward("", "abc", false, 1), 0);
    EXPECT_EQ(FindForward("abcd", "abc", false, 1), 0);
    EXPECT_EQ(FindForward("c", "abc", false, 3), 3);
    EXPECT_EQ(FindForward("c", "abc", false, 4), 0);
    EXPECT_EQ(FindForward("c", "abc", false, std::int64_t{1} << 40), 0);

    for (std::int64_t bad : {std::int64_t{0}, std::int64_t{-1}}) {
        try {
            FindForward("a", "a", false, bad);
            FAIL() << "start " << bad << " must throw";
        } catch (const Failure& e) {
            EXPECT_STREQ(e.what(), "Assertion failure");
        }
    }
}

std::int64_t naiveFind(const std::string& pattern, const std::string& text, bool ignoreCase,
                       std::int64_t start)
{
    const auto map = [ignoreCase](char c) {
        const auto b = static_cast<unsigned char>(c);
        return ignoreCase ? UpperTable[b] : b;
    };
    const auto n = static_cast<std::int64_t>(text.size());
    const auto m = static_cast<std::int64_t>(pattern.size());
    if (m == 0) {
        return 0;
    }
    for (std::int64_t p = start - 1; p + m <= n; ++p) {
        std::int64_t j = 0;
        while (j < m && map(text[p + j]) == map(pattern[j])) {
            ++j;
        }
        if (j == m) {
            return p + 1;
        }
    }
    return 0;
}

TEST(FindForward, AgreesWithNaiveSearchOnRandomInputs)
{
    // Small alphabets with case pairs, accented pairs and bytes that must not fold, so
    // matches, near-matches and folding all happen often.
    const std::string alphabets[] = {
        "ab",
        "aAbB",
        "\xE9\xC9\xFF\x9F\xF7\xD7",
        "aA\xE0\xC0\xDF\xB5\x9A\x8Az",
        std::string("a\0b", 3),
    };
    std::mt19937 rng(20240611);
    for (int iteration = 0; iteration < 40000; ++iteration) {
        const std::string& alphabet = alphabets[iteration % std::size(alphabets)];
        const auto randomText = [&](std::size_t len) {
            std::string s(len, '\0');
            for (char& c : s) {
                c = alphabet[rng() % alphabet.size()];
            }
            return s;
        };
        const std::string text = randomText(rng() % 48);
        std::string pattern;
        if (!text.empty() && rng() % 3 == 0) {
            // A piece of the text, so the search has something to find.
            const std::size_t from = rng() % text.size();
            pattern = text.substr(from, 1 + rng() % (text.size() - from));
        } else {
            pattern = randomText(1 + rng() % 9);
        }
        const bool ignoreCase = rng() % 2 == 0;
        const std::int64_t start = 1 + static_cast<std::int64_t>(rng() % (text.size() + 4));
        ASSERT_EQ(FindForward(pattern, text, ignoreCase, start),
                  naiveFind(pattern, text, ignoreCase, start))
            << "iteration " << iteration << " start " << start << " ignoreCase " << ignoreCase
            << " pattern size " << pattern.size() << " text size " << text.size();
    }
}

TEST(FindForward, LongTextsAgreeWithNaiveSearchToTheirLastByte)
{
    // Long enough for the sixteen-at-a-time filter, with the pattern (or a near miss of it) in
    // either case anywhere, the last bytes included.
    std::mt19937 rng(77);
    const std::string fillers[] = {"xyz ", "\xE9\xC9 ", "aAbB"};
    for (int iteration = 0; iteration < 3000; ++iteration) {
        const std::string& filler = fillers[iteration % std::size(fillers)];
        std::string text(256 + rng() % 1500, ' ');
        for (char& c : text)
            c = filler[rng() % filler.size()];
        std::string pattern(1 + rng() % 12, ' ');
        const std::string letters = "nNeE\xE9\xC9" "dDlL";
        for (char& c : pattern)
            c = letters[rng() % letters.size()];
        for (int copies = static_cast<int>(rng() % 3); copies > 0; --copies) {
            std::string copy = pattern;
            for (char& c : copy)
                c = rng() % 2 ? static_cast<char>(UpperTable[static_cast<unsigned char>(c)]) : c;
            if (rng() % 4 == 0)
                copy[rng() % copy.size()] = 'q'; // a near miss
            const std::size_t at = rng() % 2 ? text.size() - copy.size() - rng() % 20 : rng() % (text.size() - copy.size());
            text.replace(at, copy.size(), copy);
        }
        const bool ignoreCase = rng() % 3 != 0;
        const std::int64_t start = 1 + static_cast<std::int64_t>(rng() % (rng() % 2 ? 40 : text.size()));
        ASSERT_EQ(FindForward(pattern, text, ignoreCase, start),
                  naiveFind(pattern, text, ignoreCase, start))
            << "iteration " << iteration << " start " << start << " pattern size " << pattern.size();
    }
}

} // namespace
} // namespace tlg
