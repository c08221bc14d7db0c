#include "core/errors.h"
#include "document/encoding.h"
#include "document/linelayout.h"
#include "document/textload.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace tlg {
namespace {

using namespace std::string_literals;

// The UTF-16 bytes of a text given as code units.
std::string utf16(std::u16string_view units, bool bigEndian)
{
    std::string bytes;
    for (const char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

struct DetectCase {
    const char* name;
    std::string head;
    Encoding encoding;
    std::size_t markLength;
    bool strayNuls;
};

void PrintTo(const DetectCase& c, std::ostream* out)
{
    *out << c.name;
}

class DetectTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectTest, TellsTheEncodingFromTheFirstBytes)
{
    const DetectCase& c = GetParam();
    const Detection found = DetectEncoding(c.head);
    EXPECT_EQ(EncodingName(found.encoding), std::string(EncodingName(c.encoding)));
    EXPECT_EQ(found.markLength, c.markLength);
    EXPECT_EQ(found.strayNuls, c.strayNuls);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DetectTest,
    ::testing::Values(
        DetectCase{"utf8_mark", "\xEF\xBB\xBFplain", Encoding::Utf8, 3, false},
        DetectCase{"utf8_mark_then_invalid", "\xEF\xBB\xBF\xE9t\xE9", Encoding::Utf8, 3, false},
        DetectCase{"utf16le_mark", "\xFF\xFEh\0i\0"s, Encoding::Utf16Le, 2, false},
        DetectCase{"utf16be_mark", "\xFE\xFF\0h\0i"s, Encoding::Utf16Be, 2, false},
        DetectCase{"utf16le_mark_chinese_only", "\xFF\xFE\x0D\x67\x0D\x67"s, Encoding::Utf16Le, 2, false},
        DetectCase{"utf16le_without_mark", utf16(u"log line\r\n", false), Encoding::Utf16Le, 0, false},
        DetectCase{"utf16be_without_mark", utf16(u"log line\r\n", true), Encoding::Utf16Be, 0, false},
        DetectCase{"utf16le_mostly_chinese", utf16(u"\u670D\u52A1\u5668 ok\r\n\u670D\u52A1", false),
                   Encoding::Utf16Le, 0, false},
        DetectCase{"utf8_multibyte", "Caf\xC3\xA9 cr\xC3\xA8me \xE4\xB8\xAD \xF0\x9F\x98\x80\n",
                   Encoding::Utf8, 0, false},
        DetectCase{"ascii_only", "plain text log\r\n", Encoding::Utf8, 0, false},
        DetectCase{"windows1252_accents", "caf\xE9 cr\xE8me\n", Encoding::Windows1252, 0, false},
        DetectCase{"utf8_then_invalid", "caf\xC3\xA9 and caf\xE9\n", Encoding::Windows1252, 0, false},
        DetectCase{"overlong_form", "a \xC0\xAF b", Encoding::Windows1252, 0, false},
        DetectCase{"encoded_surrogate", "a \xED\xA0\x80 b", Encoding::Windows1252, 0, false},
        DetectCase{"cut_at_the_end", "caf\xC3\xA9 \xE4\xB8", Encoding::Utf8, 0, false},
        DetectCase{"stray_nul", "one line\nanother\0line\nthird line\n"s, Encoding::Utf8, 0, true},
        DetectCase{"stray_nul_in_utf8", "caf\xC3\xA9\0 ok\n"s, Encoding::Utf8, 0, true},
        DetectCase{"binary", "\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0\x01\0\0\0"s,
                   Encoding::Utf8, 0, true},
        DetectCase{"empty", "", Encoding::Utf8, 0, false},
        DetectCase{"one_byte", "a", Encoding::Utf8, 0, false},
        DetectCase{"half_a_utf8_mark", "\xEF\xBB", Encoding::Utf8, 0, false},
        DetectCase{"mark_only", "\xFF\xFE", Encoding::Utf16Le, 2, false},
        DetectCase{"one_nul", "a\0"s, Encoding::Utf8, 0, true},
        DetectCase{"two_wide_letters", "a\0b\0"s, Encoding::Utf16Le, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DetectTest, LooksAtTheFirst64KiBOnly)
{
    std::string text(kDetectionSample - 2, 'x');
    text += "\xC3\xA9";               // UTF-8 inside the sample
    text += "\xE9 and \0 later"s;     // invalid, and a NUL, past it
    const Detection found = DetectEncoding(text);
    EXPECT_EQ(found.encoding, Encoding::Utf8);
    EXPECT_FALSE(found.strayNuls);
}

TEST(Utf16Test, DecodesEveryCharacterAndMakesNoFalseLineBreak)
{
    // 服 is 0D 67 in UTF-16LE, and U+0A0D holds 0A: neither may become a line break; the
    // grinning face is a surrogate pair.
    const std::u16string text = u"\u670D\u0A0D x\U0001F600\r\nend";
    for (const bool bigEndian : {false, true}) {
        const std::string utf8 = Utf16ToUtf8(utf16(text, bigEndian), bigEndian);
        EXPECT_EQ(utf8, "\xE6\x9C\x8D\xE0\xA8\x8D x\xF0\x9F\x98\x80\r\nend");
    }
    // Half a pair, and an odd last byte, become U+FFFD; a NUL character stays a NUL byte.
    EXPECT_EQ(Utf16ToUtf8(utf16(u"a\xD83D" u"b", false), false), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(Utf16ToUtf8(utf16(u"\xDE00", true), true), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8("a\0b"s, false), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8("\0\0"s, false), "\0"s);
}

TEST(Utf16Test, LineBreaksComeOnlyFromLineBreakCharacters)
{
    std::mt19937 random(15);
    std::uniform_int_distribution<int> unit(0, 0xFFFF);
    for (int round = 0; round < 200; ++round) {
        std::u16string text;
        for (int i = 0; i < 64; ++i)
            text.push_back(static_cast<char16_t>(round % 4 == 0 ? (unit(random) & 0x0F0F) : unit(random)));
        const std::string utf8 = Utf16ToUtf8(utf16(text, round % 2 != 0), round % 2 != 0);
        for (const char mark : {'\n', '\r'}) {
            const auto inUnits = std::count(text.begin(), text.end(), static_cast<char16_t>(mark));
            ASSERT_EQ(std::count(utf8.begin(), utf8.end(), mark), inUnits) << "round " << round;
        }
    }
}

TEST(Utf16Test, ReadsAFileWithoutItsMark)
{
    testing::TempDir dir;
    const std::string marked = dir.write("marked.log", "\xFF\xFE"s + utf16(u"\u670D ok\r\n", false));
    const DocumentPtr document = LoadUtf16Text(marked, false);
    EXPECT_EQ(document->copyText(), "\xE6\x9C\x8D ok\r\n");
    EXPECT_EQ(document->lineCount(), 1);
    EXPECT_TRUE(document->identity().known);
    const std::string bare = dir.write("bare.log", utf16(u"hi\n", true));
    EXPECT_EQ(LoadUtf16Text(bare, true)->copyText(), "hi\n");
    EXPECT_EQ(LoadUtf16Text(dir.write("empty.log", ""), false)->size(), 0);
    EXPECT_THROW(LoadUtf16Text(dir.path("missing.log"), false), Failure);
}

TEST(EncodeTest, TextThatCannotOccurInTheLogMatchesNothing)
{
    EXPECT_EQ(EncodeForLog(u"caf\u00E9 \u20AC", Encoding::Windows1252), "caf\xE9 \x80");
    EXPECT_EQ(EncodeForLog(u"\u670D", Encoding::Windows1252), std::nullopt);
    EXPECT_EQ(EncodeForLog(u"caf\u00E9", Encoding::Utf8), "caf\xC3\xA9");
    EXPECT_EQ(EncodeForLog(u"\U0001F600", Encoding::Utf16Le), "\xF0\x9F\x98\x80"); // held as UTF-8
    EXPECT_EQ(EncodeForLog(u"\xD83D", Encoding::Utf8), std::nullopt);
    EXPECT_EQ(EncodeForLog(u"\u00E9", Encoding::Iso8859_1), "\xE9");
    EXPECT_EQ(EncodeForLog(u"\u20AC", Encoding::Iso8859_1), std::nullopt);
    EXPECT_EQ(RecodeCp1252ForLog("Fehler\xFC", Encoding::Utf8), "Fehler\xC3\xBC");
    EXPECT_EQ(RecodeCp1252ForLog("\x80", Encoding::Iso8859_1), std::nullopt);
    EXPECT_EQ(RecodeCp1252ForLog("\x80", Encoding::Windows1252), "\x80");
}

// --- Lines of UTF-8 text on screen ---------------------------------------------------------

TEST(Utf8LayoutTest, CellsTakeTheWidthOfTheirCharacters)
{
    EXPECT_EQ(characterColumns(U'a'), 1);
    EXPECT_EQ(characterColumns(U'\u0416'), 1); // Ж
    EXPECT_EQ(characterColumns(U'\u670D'), 2); // 服
    EXPECT_EQ(characterColumns(U'\U0001F600'), 2);
    EXPECT_EQ(characterColumns(U'\u0301'), 0); // a combining accent

    // "a", Ж, 服, "e" with a combining accent, the face, an invalid byte, a tab, "z".
    const std::string line = "a\xD0\x96\xE6\x9C\x8D" "e\xCC\x81\xF0\x9F\x98\x80\xFF\tz";
    struct Expected {
        std::size_t byte;
        std::int64_t column;
    };
    const Expected cells[] = {{0, 0}, {1, 1}, {3, 2}, {6, 4}, {9, 5}, {13, 7}, {14, 8}, {15, 16}};
    for (const Expected& e : cells) {
        EXPECT_EQ(columnOfByte(line, e.byte, true), e.column) << "byte " << e.byte;
        const Cell cell = cellAtColumn(line, e.column, true);
        EXPECT_EQ(cell.byte, e.byte);
        EXPECT_EQ(cell.column, e.column);
    }
    EXPECT_EQ(columnOfByte(line, line.size(), true), 17);
    // The second column of a wide character, or inside a sequence, is the character's.
    EXPECT_EQ(cellAtColumn(line, 3, true).byte, 3u);
    EXPECT_EQ(columnOfByte(line, 4, true), 2);
    EXPECT_EQ(columnOfByte(line, 7, true), 4); // between "e" and its accent
    // A click lands before or after a character, never inside it.
    EXPECT_EQ(caretIndexAtColumn(line, 2.9, true), 3u);
    EXPECT_EQ(caretIndexAtColumn(line, 3.1, true), 6u);
    EXPECT_EQ(caretIndexAtColumn(line, 4.6, true), 9u);
    // Stepping goes a whole cell at a time, from anywhere inside it.
    EXPECT_EQ(nextBoundary(line, 3, true), 6u);
    EXPECT_EQ(nextBoundary(line, 4, true), 6u);
    EXPECT_EQ(nextBoundary(line, 6, true), 9u);
    EXPECT_EQ(previousBoundary(line, 9, true), 6u);
    EXPECT_EQ(previousBoundary(line, 13, true), 9u);
    EXPECT_EQ(previousBoundary(line, 14, true), 13u); // the invalid byte alone
    EXPECT_EQ(boundaryAtOrBefore(line, 11, true), 9u);
    // The same questions in single-byte text count bytes.
    EXPECT_EQ(columnOfByte(line, 3, false), 3);
    EXPECT_EQ(nextBoundary(line, 3, false), 4u);
}

TEST(Utf8LayoutTest, JoinedEmojiFlagsAndStrayBytesAreSingleCells)
{
    // Woman, zero-width joiner, laptop: one cell two columns wide.
    const std::string joined = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB!";
    EXPECT_EQ(nextBoundary(joined, 0, true), 11u);
    EXPECT_EQ(columnOfByte(joined, 11, true), 2);
    // A waving hand with a skin tone, and a woman with one joined to a laptop: one cell each.
    const std::string toned = "\xF0\x9F\x91\x8B\xF0\x9F\x8F\xBD!";
    EXPECT_EQ(nextBoundary(toned, 0, true), 8u);
    EXPECT_EQ(columnOfByte(toned, 8, true), 2);
    const std::string tonedJoined = "\xF0\x9F\x91\xA9\xF0\x9F\x8F\xBF\xE2\x80\x8D\xF0\x9F\x92\xBB!";
    EXPECT_EQ(nextBoundary(tonedJoined, 0, true), 15u);
    EXPECT_EQ(columnOfByte(tonedJoined, 15, true), 2);
    // Two regional indicators make a flag; a third starts the next one.
    const std::string flags = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xAB";
    EXPECT_EQ(nextBoundary(flags, 0, true), 8u);
    EXPECT_EQ(columnOfByte(flags, 8, true), 2);
    // A continuation byte without a lead, and a lead cut short, are one cell per byte.
    const std::string stray = "\x80\xE6\x9C!";
    EXPECT_EQ(nextBoundary(stray, 0, true), 1u);
    EXPECT_EQ(nextBoundary(stray, 1, true), 2u);
    EXPECT_EQ(columnOfByte(stray, 3, true), 3);
}

TEST(WrapTest, BreaksAfterTheLastSpaceThatFits)
{
    std::vector<Cell> rows;
    auto starts = [&]() {
        std::vector<std::size_t> bytes;
        for (const Cell& c : rows)
            bytes.push_back(c.byte);
        return bytes;
    };
    // Width 10: "alpha beta" fills a row; the space after it hangs; "gamma" goes on.
    wrapLine("alpha beta gamma delta", false, 10, rows);
    EXPECT_EQ(starts(), (std::vector<std::size_t>{0, 11, 17}));
    wrapLine("alpha beta gamma", false, 8, rows);
    EXPECT_EQ(starts(), (std::vector<std::size_t>{0, 6, 11}));
    // A tab separates words as a space does.
    wrapLine("abc\tdefgh ij", false, 10, rows);
    EXPECT_EQ(starts(), (std::vector<std::size_t>{0, 4}));
    // Only a word longer than the row breaks inside.
    wrapLine("ab abcdefghijkl x", false, 5, rows);
    EXPECT_EQ(starts(), (std::vector<std::size_t>{0, 3, 8, 13}));
    // A wide character never straddles a row: 服 is two columns.
    wrapLine("\xE6\x9C\x8D\xE6\x9C\x8D\xE6\x9C\x8D", true, 5, rows);
    EXPECT_EQ(starts(), (std::vector<std::size_t>{0, 6}));
    EXPECT_EQ(rows[1].column, 4);
    // A cell wider than the row keeps a row of its own.
    wrapLine("\xE6\x9C\x8Dx", true, 1, rows);
    EXPECT_EQ(starts(), (std::vector<std::size_t>{0, 3}));
    wrapLine("", true, 10, rows);
    EXPECT_EQ(rows.size(), 1u);
}

} // namespace
} // namespace tlg
