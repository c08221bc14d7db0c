// The filter pane's search: which lines hold a text or match a regular expression.

#include "core/errors.h"
#include "document/logdocument.h"
#include "search/linefilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

#include <string>

using tlg::Encoding;
using tlg::LineFilter;
using tlg::LineFilterOptions;
using tlg::LineNumber;
using tlg::LogDocument;

namespace {

using Lines = std::vector<LineNumber>;

LineFilterOptions options(bool matchCase, bool regex, Encoding encoding = Encoding::Windows1252)
{
    LineFilterOptions result;
    result.matchCase = matchCase;
    result.regex = regex;
    result.encoding = encoding;
    return result;
}

Lines filter(const std::string& text, const std::string& pattern, LineFilterOptions how, LineNumber from = 0)
{
    const LineFilter lineFilter(pattern, how);
    Lines lines;
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    EXPECT_TRUE(lineFilter.run(*LogDocument::fromBytes(text), from, lines, cancel, done));
    EXPECT_EQ(done.load(), static_cast<std::int64_t>(text.size()));
    return lines;
}

const std::string kLog = "Error 12 at start\r\n"
                         "all fine\n"
                         "an error  7 here, error 8\r"
                         "ERR 3\n"
                         "err\n"
                         "4\n"
                         "last line error";

} // namespace

TEST(LineFilter, PlainTextWithAndWithoutCase)
{
    EXPECT_EQ(filter(kLog, "error", options(false, false)), (Lines{0, 2, 6}));
    EXPECT_EQ(filter(kLog, "error", options(true, false)), (Lines{2, 6}));
    EXPECT_EQ(filter(kLog, "ERR", options(true, false)), (Lines{3}));
    EXPECT_EQ(filter(kLog, "nowhere", options(false, false)), Lines{});
    EXPECT_EQ(filter(kLog, "", options(false, false)), Lines{});
    // From a line on, and a line matched twice is listed once.
    EXPECT_EQ(filter(kLog, "error", options(false, false), 1), (Lines{2, 6}));
    EXPECT_EQ(filter("x x x\nx", "x", options(false, false)), (Lines{0, 1}));
    // Windows-1252 letters fold in Windows-1252 logs, only a to z in the others.
    EXPECT_EQ(filter("\xC9t\xE9\nete", "\xE9t\xE9", options(false, false)), (Lines{0}));
    EXPECT_EQ(filter("\xC9t\xE9\n\xE9t\xE9", "\xE9t\xE9", options(false, false, Encoding::Iso8859_1)), (Lines{1}));
}

TEST(LineFilter, RegularExpressionsMatchWithinLines)
{
    EXPECT_EQ(filter(kLog, R"(err(or)?\s+\d+)", options(true, true)), (Lines{2}));
    EXPECT_EQ(filter(kLog, R"(err(or)?\s+\d+)", options(false, true)), (Lines{0, 2, 3}));
    // "err\n4" matches across the break in the whole text; the line alone does not.
    EXPECT_EQ(filter(kLog, R"(^err\s+\d)", options(false, true)), (Lines{3}));
    // ^ and $ at each line's ends, whatever the break.
    EXPECT_EQ(filter(kLog, "^a", options(false, true)), (Lines{1, 2}));
    EXPECT_EQ(filter(kLog, R"(\d$)", options(false, true)), (Lines{2, 3, 5}));
    EXPECT_EQ(filter(kLog, "^$", options(false, true)), Lines{});
    EXPECT_EQ(filter("a\n\nb\r\n\r\n", "^$", options(false, true)), (Lines{1, 3}));
    // In UTF-8 logs a dot is a character, and bytes that are not UTF-8 do no harm.
    EXPECT_EQ(filter("\xC3\xA9t\xC3\xA9\n\xFF\xFEt\n", "^.t.$", options(false, true, Encoding::Utf8)), (Lines{0}));
    EXPECT_EQ(filter("\xC3\x89T\xC3\x89\n", "\xC3\xA9t", options(false, true, Encoding::Utf8)), (Lines{0}));
}

TEST(LineFilter, InvalidPatternsSayWhy)
{
    try {
        LineFilter filter("err(or", options(false, true));
        FAIL() << "an unclosed group was taken";
    } catch (const tlg::Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("missing closing parenthesis"), std::string::npos) << failure.what();
        EXPECT_NE(std::string(failure.what()).find("at 7"), std::string::npos) << failure.what();
    }
    EXPECT_THROW(LineFilter("a{2,1}", options(false, true)), tlg::Failure);
    // The same text as plain text is fine.
    EXPECT_EQ(filter("x err(or y\nerror", "err(or", options(false, false)), (Lines{0}));
}

TEST(LineFilter, ACancelStopsTheRun)
{
    std::string text;
    for (int i = 0; i < 400000; ++i)
        text += "line with a word " + std::to_string(i) + "\n";
    for (const bool regex : {false, true}) {
        const LineFilter lineFilter("word", options(false, regex));
        Lines lines;
        std::atomic<bool> cancel{true};
        std::atomic<std::int64_t> done{0};
        EXPECT_FALSE(lineFilter.run(*LogDocument::fromBytes(text), 0, lines, cancel, done));
        EXPECT_LT(lines.size(), 400000u);
    }
}

TEST(LineFilter, AgreesWithMatchingEachLineAlone)
{
    // Random lines of words that half match, with every kind of line break, searched in blocks
    // of every size: the lines listed are those that match on their own.
    std::mt19937 random(18);
    const char* pieces[] = {"err", "error", "ERR", "or", " ", "  ", "\t", "7", "42", "x", "\n", "\r\n", "\r"};
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += pieces[random() % std::size(pieces)];
    const auto document = LogDocument::fromBytes(text);
    for (const std::string pattern : {"error", "err", R"(err(or)?\s+\d+)", R"(^\d)", R"(r$)", R"(\s)"}) {
        for (const bool regex : {false, true}) {
            for (const std::int64_t block : {1, 7, 100, 4096}) {
                LineFilterOptions how = options(false, regex);
                how.block = block;
                const LineFilter lineFilter(pattern, how);
                Lines expected;
                for (LineNumber line = 0; line < EndLine(document->lineCount()); ++line) {
                    if (lineFilter.matchesLine(document->lineText(line).view()))
                        expected.push_back(line);
                }
                Lines lines;
                std::atomic<bool> cancel{false};
                std::atomic<std::int64_t> done{0};
                ASSERT_TRUE(lineFilter.run(*document, 0, lines, cancel, done));
                ASSERT_EQ(lines, expected) << pattern << (regex ? " as a regex" : " as text") << ", blocks of " << block;
                if (regex || pattern.find_first_of("\\^$()?+") == std::string::npos) {
                    ASSERT_FALSE(expected.empty()) << pattern; // the case probes something
                }
            }
        }
    }
}

TEST(LineFilter, AnExpressionSeesOneLineAtATime)
{
    // Text-start anchors, look-arounds and (?-m) see each line alone, whatever the block size:
    // a followed log's appended lines are listed as the same text filtered afresh.
    const std::string text = "ERROR a\nERROR b\r\nxERROR c\nERROR d\n";
    for (const std::int64_t block : {1, 3, 9, 4 << 20}) {
        LineFilterOptions how = options(true, true);
        how.block = block;
        EXPECT_EQ(filter(text, "\\AERROR", how), (Lines{0, 1, 3})) << block;
        EXPECT_EQ(filter(text, "(?<=\\n)ERROR", how), Lines{}) << block;
        EXPECT_EQ(filter(text, "(?<=x)ERROR", how), (Lines{2})) << block;
        EXPECT_EQ(filter(text, "(?<!\\n)ERROR [a-c]$", how), (Lines{0, 1, 2})) << block;
        // The reviewer's cases: each line alone, never the lines around it.
        const std::string ab = "a\nb\na\nb\n";
        EXPECT_EQ(filter(ab, "a(?=\\nb)", how), Lines{}) << block;
        EXPECT_EQ(filter(ab, "a\\Z", how), (Lines{0, 2})) << block;
        EXPECT_EQ(filter(ab, "(?-m)a$", how), (Lines{0, 2})) << block;
        EXPECT_EQ(filter(ab, "(?<=a\\n)b", how), Lines{}) << block;
        EXPECT_EQ(filter(ab, "a\\s*$", how), (Lines{0, 2})) << block;
        // Possessive and atomic parts that could eat a line break in a block.
        EXPECT_EQ(filter("a \nb\n", "a\\s*+$", how), (Lines{0})) << block;
        EXPECT_EQ(filter("a \nb\n", "a(?>\\s*)$", how), (Lines{0})) << block;
    }
}

TEST(LineFilter, ExpressionsAgreeWithEachLineAloneOnRandomTexts)
{
    // Texts over a few bytes with every kind of line break; expressions with anchors,
    // look-arounds, \Z, \z, (?-m), (?s), \n, \R, atomic and possessive parts; blocks of any size
    // and now and then lines too long to be read whole (matched on their first bytes). The
    // lines listed are those whose content matches alone.
    std::mt19937 random(2027);
    const std::string_view pieces[] = {"a", "b", "a", "b", " ", "x", "\n", "\r", "\r\n", "\xC3\xA9", "\xC3"};
    const std::string patterns[] = {
        "a(?=\\nb)", "a\\Z", "a\\z", "(?-m)a$", "(?<=a\\n)b", "(?<=a)b", "(?<!a)b", "a(?!b)", "\\Aa", "^a",
        "a$", "^$", "^", "b\\s*$", "(?s)a.b", "(?s)^.*$", "a\\nb", "a\\Rb", "\\R", "a\\s+b", "a[^x]b",
        "(?>a\\s*)$", "a\\s*+$", "a\\s*\\Kb", "\\bb", "b\\B", "(?^)a$", "(?m)a$", "(a|b)\\1", "[ab]*$", "x*",
        "\\z", "\\Z", "(?i)A B", "a(*COMMIT)b", "(?(?=a)ab|b)", "(a\\s*)(?1)", ".$", "\\Gb", "(?s)a(?=.)",
        "(?<=x)B", "\xC3\xA9(?!a)", "(?-m)A b$", "\\A\\s", "(?<! )x\\z",
    };
    for (int round = 0; round < 150; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            text += pieces[random() % std::size(pieces)];
        const auto document = LogDocument::fromBytes(text);
        LineFilterOptions how = options(random() % 2 == 0, true, random() % 2 ? Encoding::Utf8 : Encoding::Windows1252);
        how.block = 1 + static_cast<std::int64_t>(random() % 24);
        if (random() % 4 == 0)
            how.longLine = 1 + static_cast<std::int64_t>(random() % 6);
        for (const std::string& pattern : patterns) {
            const LineFilter lineFilter(pattern, how);
            Lines expected;
            for (LineNumber line = 0; line < EndLine(document->lineCount()); ++line) {
                std::string_view content = document->lineText(line).view();
                if (document->lineIndex(line + 1) - document->lineIndex(line) > how.longLine)
                    content = content.substr(0, static_cast<std::size_t>(how.longLine));
                if (lineFilter.matchesLine(content))
                    expected.push_back(line);
            }
            const LineNumber from = document->lineCount() > 0 ? static_cast<LineNumber>(random() % document->lineCount().value()) : 0;
            Lines fromOn;
            std::copy_if(expected.begin(), expected.end(), std::back_inserter(fromOn), [from](LineNumber line) { return line >= from; });
            ASSERT_EQ(filter(text, pattern, how), expected)
                << pattern << " over \"" << text << "\", blocks of " << how.block << ", long lines from " << how.longLine;
            ASSERT_EQ(filter(text, pattern, how, from), fromOn) << pattern << " from line " << from;
        }
    }
    // Only expressions that can miss nothing are matched over blocks.
    for (const std::string pattern : {"err(or)?\\s+\\d+", "^a", "a$", "(?i)a\\s*b", "(?s)a.b", "\\bword\\b"})
        EXPECT_TRUE(LineFilter(pattern, options(false, true)).scansBlocks()) << pattern;
    for (const std::string pattern : {"a(?=b)", "(?<!a)b", "\\Aa", "a\\Z", "a\\z", "(?-m)a$", "(?^)a$", "(?i-m)a$",
                                      "a++", "a{2}+", "(?>a)", "(*LF)a$", "(a)(?1)", "(a)(?-1)", "a\\Kb", "\\Ga"})
        EXPECT_FALSE(LineFilter(pattern, options(false, true)).scansBlocks()) << pattern;
}
