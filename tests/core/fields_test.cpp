#include "core/fields.h"

#include <gtest/gtest.h>

#include <string>

namespace tlg {
namespace {

// A row of the format file: four fields and then seven empty ones.
const std::string kRow = "Fatal\xA4Internal\xA4"
                         "error\xA4"
                         "Failed\xA4\xA4\xA4\xA4\xA4\xA4\xA4";

struct FieldCase {
    const char* probe;
    std::string line;
    int n;
    char separator;
    std::string expected;
};

TEST(ExtractField, SelectsTrimsAndFallsBackToWholeLine)
{
    const FieldCase cases[] = {
        {"first field", kRow, 1, kFormatSeparator, "Fatal"},
        {"middle field", kRow, 2, kFormatSeparator, "Internal"},
        {"field before the empty run", kRow, 4, kFormatSeparator, "Failed"},
        {"first empty field", kRow, 5, kFormatSeparator, ""},
        {"empty field between adjacent separators", kRow, 8, kFormatSeparator, ""},
        {"empty field after the last separator", kRow, 11, kFormatSeparator, ""},
        {"past the last field gives the spaced-out row", kRow, 12, kFormatSeparator,
         "Fatal\xA4Internal\xA4"
         "error\xA4"
         "Failed\xA4 \xA4 \xA4 \xA4 \xA4 \xA4 \xA4"},
        {"far past the last field", kRow, 1000, kFormatSeparator,
         "Fatal\xA4Internal\xA4"
         "error\xA4"
         "Failed\xA4 \xA4 \xA4 \xA4 \xA4 \xA4 \xA4"},
        {"n below 1 acts as 1", kRow, 0, kFormatSeparator, "Fatal"},
        {"negative n acts as 1", kRow, -7, kFormatSeparator, "Fatal"},
        {"two fields, first", "a;b", 1, ';', "a"},
        {"two fields, last", "a;b", 2, ';', "b"},
        {"two fields, past the end", "a;b", 3, ';', "a;b"},
        {"no separator, first", "plain text", 1, ';', "plain text"},
        {"no separator, later", "plain text", 5, ';', "plain text"},
        {"leading separator, field 1 empty", ";rest", 1, ';', ""},
        {"leading separator, field 2", ";rest", 2, ';', "rest"},
        {"trailing separator, last field empty", "a;", 2, ';', ""},
        {"inner spaces kept", "  Found S ; Command line  ", 1, ';', "Found S"},
        {"inner spaces kept in the last field", "  Found S ; Command line  ", 2, ';',
         "Command line"},
        {"tabs and controls trimmed from a field", "\t a \x01;\x1F b\t", 2, ';', "b"},
        {"tab at the ends survives the space trim but not the field trim", "\tx\t", 1, ';',
         "x"},
        {"high bytes are not blanks", "\xA0x\xFF;y", 1, ';', "\xA0x\xFF"},
        {"whole line with spaces around separators", " a ;; b ", 9, ';', "a ; ; b"},
        {"empty line", "", 3, ';', ""},
        {"spaces only come back unchanged", "   ", 1, ';', "   "},
        {"spaces only, any n", "   ", 4, ';', "   "},
        {"separators only, field 2", ";;", 2, ';', ""},
        {"separators only, past the end", ";;", 4, ';', "; ;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractField(c.line, c.n, c.separator), c.expected) << c.probe;
    }
}

TEST(ExtractField, ManySeparatorsAreHandled)
{
    // Far more separators than any format row has: no fixed limit may be hit.
    std::string line;
    for (int i = 1; i <= 5000; ++i) {
        line += std::to_string(i);
        line += '|';
    }
    EXPECT_EQ(ExtractField(line, 1, '|'), "1");
    EXPECT_EQ(ExtractField(line, 4999, '|'), "4999");
    EXPECT_EQ(ExtractField(line, 5000, '|'), "5000");
    EXPECT_EQ(ExtractField(line, 5001, '|'), "");
    EXPECT_EQ(ExtractField(line, 5002, '|'), line);
}

TEST(TextHelpers, TextBetweenRemoveCharContainsSub)
{
    EXPECT_EQ(TextBetween("[[Default]]", '[', ']'), "[Default");
    EXPECT_EQ(TextBetween("[Standard]", '[', ']'), "Standard");
    EXPECT_EQ(TextBetween("x]y[z", '[', ']'), "");
    EXPECT_EQ(TextBetween("[]", '[', ']'), "");
    EXPECT_EQ(TextBetween("[open", '[', ']'), "");
    EXPECT_EQ(TextBetween("close]", '[', ']'), "");

    EXPECT_EQ(RemoveChar("a&b&&c&", '&'), "abc");
    EXPECT_EQ(RemoveChar("\xA4x\xA4", '\xA4'), "x");
    EXPECT_EQ(RemoveChar("", '&'), "");

    EXPECT_TRUE(ContainsSub("Log Viewer", "View"));
    EXPECT_TRUE(ContainsSub("abc", "abc"));
    EXPECT_FALSE(ContainsSub("Log Viewer", "view")); // exact bytes, no case folding
    EXPECT_FALSE(ContainsSub("ab", "abc"));
    EXPECT_FALSE(ContainsSub("abc", ""));
    EXPECT_FALSE(ContainsSub("", ""));

    EXPECT_EQ(trimBlanks(std::string_view("\0 \t x y \r\n", 10)), "x y");
    EXPECT_EQ(trimBlanks(" \x01 "), "");
    EXPECT_EQ(upperAscii("abz{`\xE9Z"), "ABZ{`\xE9Z");
}

} // namespace
} // namespace tlg
