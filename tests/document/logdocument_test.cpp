#include "document/linelayout.h"
#include "document/logdocument.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tlg {
namespace {

// A straightforward model of the line rules: a break is LF, CR LF or a lone CR.
std::vector<ByteOffset> naiveLineStarts(const std::string& text)
{
    std::vector<ByteOffset> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        if (text[i] == '\n' || text[i] == '\r')
            starts.push_back(static_cast<ByteOffset>(i + 1));
    }
    return starts;
}

struct LineCase {
    const char* name;
    std::string text;
    LineCount lines;
    std::vector<std::string> contents; // every row's content, the empty last one included
};

void PrintTo(const LineCase& c, std::ostream* out)
{
    *out << c.name;
}

class LineIndexTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineIndexTest, CountsIndexesAndSplitsLines)
{
    const LineCase& c = GetParam();
    const DocumentPtr doc = LogDocument::fromBytes(c.text);
    EXPECT_EQ(doc->copyText(), c.text);
    EXPECT_EQ(doc->lineCount(), c.lines);
    ASSERT_EQ(doc->rowCount(), static_cast<LineCount>(c.contents.size()));
    const std::vector<ByteOffset> starts = naiveLineStarts(c.text);
    for (LineNumber line = 0; line < EndLine(doc->rowCount()); ++line) {
        EXPECT_EQ(doc->lineIndex(line), starts[static_cast<std::size_t>(line)]) << line;
        EXPECT_EQ(doc->lineText(line), c.contents[static_cast<std::size_t>(line)]) << line;
        EXPECT_EQ(doc->lineFromOffset(doc->lineIndex(line)), line);
    }
    // Past the last line is the end of the text; the end lies on the last row.
    EXPECT_EQ(doc->lineIndex(EndLine(doc->rowCount())), doc->size());
    EXPECT_EQ(doc->lineFromOffset(doc->size()), EndLine(doc->rowCount()) - 1);
    EXPECT_EQ(doc->lineFromOffset(doc->size() + 100), EndLine(doc->rowCount()) - 1);
    EXPECT_EQ(doc->lineFromOffset(-5), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LineIndexTest,
    ::testing::Values(
        LineCase{"empty", "", 0, {""}},
        LineCase{"no_final_break", "a\nbb", 2, {"a", "bb"}},
        LineCase{"final_lf", "a\nbb\n", 2, {"a", "bb", ""}},
        LineCase{"crlf", "one\r\ntwo\r\n", 2, {"one", "two", ""}},
        LineCase{"lone_cr", "one\rtwo", 2, {"one", "two"}},
        LineCase{"mixed", "a\r\nb\nc\rd\r\r\ne", 6, {"a", "b", "c", "d", "", "e"}},
        LineCase{"only_breaks", "\n\r\n\r", 3, {"", "", "", ""}},
        LineCase{"lf_cr_is_two_breaks", "x\n\ry", 3, {"x", "", "y"}},
        LineCase{"nul_bytes_do_not_break", std::string("a\0b\nc", 5), 2,
                 {std::string("a\0b", 3), "c"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogDocumentTest, AgreesWithNaiveIndexOnRandomTexts)
{
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\t', '\0', '\xA4'};
    for (int round = 0; round < 600; ++round) {
        // Long enough to cross the index's 16-byte steps at every place.
        std::string text(random() % 200, ' ');
        for (char& c : text)
            c = alphabet[random() % sizeof(alphabet)];
        const DocumentPtr doc = LogDocument::fromBytes(text);
        const std::vector<ByteOffset> starts = naiveLineStarts(text);
        ASSERT_EQ(doc->rowCount(), static_cast<LineCount>(starts.size())) << round;
        std::int64_t longest = 0;
        std::int64_t widest = 0;
        for (std::size_t line = 0; line < starts.size(); ++line) {
            const TextSlice content = doc->lineText(static_cast<LineNumber>(line));
            widest = std::max(widest, columnOfByte(content, content.size()));
            ASSERT_EQ(doc->lineIndex(static_cast<LineNumber>(line)), starts[line]);
            // The content runs to the break: the next start less its LF, CR LF or CR.
            std::size_t contentEnd = line + 1 < starts.size() ? static_cast<std::size_t>(starts[line + 1]) : text.size();
            if (line + 1 < starts.size()) {
                const bool crLf = contentEnd >= 2 && text[contentEnd - 1] == '\n' && text[contentEnd - 2] == '\r' &&
                                  static_cast<ByteOffset>(contentEnd - 2) >= starts[line];
                contentEnd -= crLf ? 2 : 1;
            }
            ASSERT_EQ(doc->lineText(static_cast<LineNumber>(line)),
                      std::string_view(text).substr(static_cast<std::size_t>(starts[line]),
                                                    contentEnd - static_cast<std::size_t>(starts[line])));
            longest = std::max<std::int64_t>(
                longest, static_cast<std::int64_t>(doc->lineText(static_cast<LineNumber>(line)).size()));
        }
        EXPECT_EQ(doc->longestLine(), longest);
        EXPECT_EQ(doc->widestLineColumns(), widest);
        EXPECT_EQ(doc->holdsNul(), text.find('\0') != std::string::npos);
        for (ByteOffset offset = 0; offset <= doc->size(); ++offset) {
            const LineNumber line = doc->lineFromOffset(offset);
            ASSERT_LE(doc->lineIndex(line), offset);
            ASSERT_GT(doc->lineIndex(line + 1) + (line + 1 == EndLine(doc->rowCount()) ? 1 : 0), offset);
        }
    }
}

TEST(LineLayoutTest, TabsRunToTheNextStopAndColumnsMapBack)
{
    const std::string line = "ab\tc\t\tdefghij\tk";
    EXPECT_EQ(columnOfByte(line, 0), 0);
    EXPECT_EQ(columnOfByte(line, 2), 2);  // the tab starts at column 2
    EXPECT_EQ(columnOfByte(line, 3), 8);  // ...and ends at the stop
    EXPECT_EQ(columnOfByte(line, 5), 16); // "c" then a tab to 16, a tab from 16 to 24
    EXPECT_EQ(columnOfByte(line, 6), 24);

    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        std::string text(random() % 40, 'x');
        for (char& c : text)
            c = random() % 4 == 0 ? '\t' : 'x';
        // A naive walk gives each byte's start column.
        std::vector<std::int64_t> starts;
        std::int64_t column = 0;
        for (char c : text) {
            starts.push_back(column);
            column = c == '\t' ? (column / kTabWidth + 1) * kTabWidth : column + 1;
        }
        ASSERT_EQ(columnOfByte(text, text.size()), column);
        for (std::int64_t col = 0; col < column + 3; ++col) {
            const Cell cell = cellAtColumn(text, col);
            if (col >= column) {
                ASSERT_EQ(cell.byte, text.size());
                continue;
            }
            ASSERT_LT(cell.byte, text.size());
            ASSERT_EQ(cell.column, starts[cell.byte]);
            const std::int64_t end = cell.byte + 1 < text.size() ? starts[cell.byte + 1] : column;
            ASSERT_TRUE(cell.column <= col && col < end) << round << " col " << col;
        }
    }
}

TEST(LineLayoutTest, CaretGoesToTheNearerEdgeOfACell)
{
    const std::string line = "a\tb";
    EXPECT_EQ(caretIndexAtColumn(line, 0.4), 0u);
    EXPECT_EQ(caretIndexAtColumn(line, 0.6), 1u);
    EXPECT_EQ(caretIndexAtColumn(line, 3.0), 1u); // left half of the tab's cells 1..8
    EXPECT_EQ(caretIndexAtColumn(line, 6.0), 2u);
    EXPECT_EQ(caretIndexAtColumn(line, 100.0), line.size());
    EXPECT_EQ(wrappedRows(0, 10), 1);
    EXPECT_EQ(wrappedRows(10, 10), 1);
    EXPECT_EQ(wrappedRows(11, 10), 2);
}

} // namespace
} // namespace tlg
