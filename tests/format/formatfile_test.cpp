#include "format/formatfile.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace tlg {
namespace {

// The default lines as a person reads them, with "¤" (UTF-8 in this source) for the byte 0xA4.
const std::vector<std::string> kReadableDefaults = {
    "[Standard]", "[[Default]]", "Fatal¤Internal¤error¤Failed¤¤¤¤¤¤¤",
    "Found S¤Start¤***¤Found G¤txt¤¤¤¤¤¤", "Warning¤allready¤¤¤¤¤¤¤¤¤",
    "==¤highlight¤LoadSuccess¤FOUND OU¤¤¤¤¤¤¤", "[Windows]", "[[BootLog]]",
    "Fatal¤Internal¤error¤Failed¤¤¤¤¤¤¤", "New¤Start¤info¤loading¤¤¤¤¤¤¤", "Warning¤¤¤¤¤¤¤¤¤¤",
    "==¤highlight¤LoadSuccess¤¤¤¤¤¤¤¤", "[[DetLog]]", "Fatal¤Internal¤error¤Failed¤¤¤¤¤¤¤",
    "New¤Start¤info¤loading¤¤¤¤¤¤¤", "Warning¤¤¤¤¤¤¤¤¤¤", "==¤highlight¤LoadSuccess¤¤¤¤¤¤¤¤",
    "[Mcafee]", "[[Virusscan]]", "Fatal¤Error¤¤¤¤¤¤¤¤¤", "Attempting¤Started¤¤¤¤¤¤¤¤¤",
    "Warning¤¤¤¤¤¤¤¤¤¤", "were updated¤successfully¤¤¤¤¤¤¤¤¤", "[[Netshield]]",
    "Fatal¤Internal¤error¤Failed¤¤¤¤¤¤¤", "New¤Start¤info¤loading¤¤¤¤¤¤¤", "Warning¤¤¤¤¤¤¤¤¤¤",
    "==¤highlight¤LoadSuccess¤¤¤¤¤¤¤¤", "[MSI]", "[[InstallLog]]",
    "Fatal¤Internal¤error¤Failed¤¤¤¤¤¤¤", "Command line¤started¤loading¤¤¤¤¤¤¤¤",
    "Warning¤user_exit¤¤¤¤¤¤¤¤¤", "==¤highlight¤LoadSuccess¤¤¤¤¤¤¤¤"};

std::string toWindows1252(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\xC2\xA4") == 0) {
            out += '\xA4';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

TEST(FormatFileTest, DefaultTextIsTheThirtyFourLinesByteForByte)
{
    std::string expected;
    for (const std::string& line : kReadableDefaults)
        expected += toWindows1252(line) + "\r\n";
    EXPECT_EQ(DefaultFormatText(), expected);
    const std::vector<std::string> lines = SplitLines(DefaultFormatText());
    ASSERT_EQ(lines.size(), 34u);
    for (const std::string& line : lines) {
        if (!IsGroupHeader(line) && !IsProfileHeader(line)) {
            EXPECT_EQ(std::count(line.begin(), line.end(), '\xA4'), 10) << line;
        }
    }
    EXPECT_EQ(JoinLinesCrLf(lines), DefaultFormatText());
}

TEST(FormatFileTest, DefaultTreeHasFourGroupsWithDefaultSelected)
{
    const FormatTree tree = BuildFormatTree(SplitLines(DefaultFormatText()));
    ASSERT_EQ(tree.groups.size(), 4u);
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {"Standard", {"Default"}},
        {"Windows", {"BootLog", "DetLog"}},
        {"Mcafee", {"Virusscan", "Netshield"}},
        {"MSI", {"InstallLog"}}};
    for (std::size_t g = 0; g < expected.size(); ++g) {
        EXPECT_EQ(tree.groups[g].name, expected[g].first);
        ASSERT_EQ(tree.groups[g].profiles.size(), expected[g].second.size());
        for (std::size_t p = 0; p < expected[g].second.size(); ++p)
            EXPECT_EQ(tree.groups[g].profiles[p].name, expected[g].second[p]);
    }
    EXPECT_EQ(tree.selectedGroup, 0);
    EXPECT_EQ(tree.selectedProfile, 0);
    EXPECT_EQ(tree.groups[1].profiles[0].headerLine, 7);

    const std::vector<std::string> lines = SplitLines(DefaultFormatText());
    EXPECT_EQ(LastDefaultHeader(lines), 1);
    const LabelRow errors = LabelsOf(lines[2]);
    EXPECT_EQ(errors[0], "Fatal");
    EXPECT_EQ(errors[3], "Failed");
    EXPECT_EQ(errors[4], "");
    EXPECT_EQ(errors[10], "");
    EXPECT_EQ(LabelsOf(lines[3])[0], "Found S");
}

TEST(FormatFileTest, LinesEndAtCrLfLfOrCr)
{
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(SplitLines("\n\n"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(SplitLines("\r\r\n"), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(FormatFileTest, LinesAreClassifiedByWhatTheyContain)
{
    // A label row with an error code in single brackets adds a group; "[[" and "]]" a profile.
    EXPECT_TRUE(IsGroupHeader("code [E42] failed\xA4"));
    EXPECT_EQ(GroupName("code [E42] failed\xA4"), "E42");
    EXPECT_EQ(GroupName("x] then [y"), "");
    EXPECT_FALSE(IsGroupHeader("[[Default]]"));
    EXPECT_TRUE(IsProfileHeader("text [[Mine]] more"));
    EXPECT_EQ(ProfileName("text [[Mine]] more"), "Mine");
    EXPECT_EQ(ProfileName("[[ Spaced Name ]]"), " Spaced Name ");

    // Blanks around the header are trimmed; blanks inside count, and so does the case.
    EXPECT_TRUE(IsHeaderOfProfile("  \t[[Default]] \r", "Default"));
    EXPECT_FALSE(IsHeaderOfProfile("[[ Default]]", "Default"));
    EXPECT_TRUE(IsHeaderOfProfile("[[ Default]]", " Default"));
    EXPECT_FALSE(IsHeaderOfProfile("[[default]]", "Default"));
    EXPECT_FALSE(IsHeaderOfProfile("x[[Default]]", "Default"));
}

TEST(FormatFileTest, OddFilesStillLoad)
{
    // A lower-case default is selected in the tree, but no line fills the columns.
    const std::vector<std::string> lower = {"[G]", "[[default]]", "a\xA4", "b\xA4"};
    const FormatTree lowerTree = BuildFormatTree(lower);
    EXPECT_EQ(lowerTree.selectedGroup, 0);
    EXPECT_EQ(LastDefaultHeader(lower), -1);

    // Profiles before the first group stand on their own; the last Default wins.
    const std::vector<std::string> loose = {"[[Default]]", "x", "y", "[G]", "[[Default]]"};
    const FormatTree looseTree = BuildFormatTree(loose);
    ASSERT_EQ(looseTree.groups.size(), 2u);
    EXPECT_FALSE(looseTree.groups[0].hasHeader);
    EXPECT_EQ(looseTree.groups[0].profiles[0].name, "Default");
    EXPECT_EQ(looseTree.selectedGroup, 1);
    EXPECT_EQ(LastDefaultHeader(loose), 4);
    EXPECT_EQ(FindProfileHeader(loose, "Default"), 0);
    // Rows past the end read as empty lines.
    EXPECT_EQ(LineAt(loose, 5), "");
    EXPECT_EQ(LineAt(loose, -1), "");
}

TEST(FormatFileTest, LabelRowsRoundTripAsTheEditorWritesThem)
{
    // Two words and one separator: labels 1 and 2, then the whole row.
    const LabelRow pair = LabelsOf("one\xA4two");
    EXPECT_EQ(pair[0], "one");
    EXPECT_EQ(pair[1], "two");
    for (std::size_t i = 2; i < 11; ++i)
        EXPECT_EQ(pair[i], "one\xA4two");
    std::string saved = "one\xA4two\xA4";
    for (int i = 0; i < 8; ++i)
        saved += "one\xA4two\xA4";
    EXPECT_EQ(BuildLabelRow(pair), saved);

    LabelRow cells{"Fatal", "", "with space", "\xE9t\xE9"};
    EXPECT_EQ(BuildLabelRow(cells), "Fatal\xA4\xA4with space\xA4\xE9t\xE9\xA4\xA4\xA4\xA4\xA4\xA4\xA4");
    EXPECT_EQ(LabelsOf(BuildLabelRow(cells))[3], "\xE9t\xE9");

    // Far more separators than any file the program writes: a defined result, no overflow.
    const std::string crowded(500, '\xA4');
    const LabelRow many = LabelsOf("a" + crowded);
    EXPECT_EQ(many[0], "a");
    EXPECT_EQ(many[10], "");
}

} // namespace
} // namespace tlg
