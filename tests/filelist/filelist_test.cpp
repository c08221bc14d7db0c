#include "filelist/filelist.h"

#include <gtest/gtest.h>

namespace tlg {
namespace {

TEST(FileListTest, PlaceholdersAreReplacedInAnyCaseAndTheRestKeepsItsBytes)
{
    EXPECT_EQ(ReplacePlaceholders("Logs;%ComputerName%:/var/log/%computername%.log", "Srv1", "/opt/tlg/"),
              "Logs;Srv1:/var/log/Srv1.log");
    EXPECT_EQ(ReplacePlaceholders("Mine;%PATH%app.log and %path%", "X", "/Opt/Tlg/"),
              "Mine;/Opt/Tlg/app.log and /Opt/Tlg/");
    EXPECT_EQ(ReplacePlaceholders("no placeholders \xE9;/a/B", "X", "/p/"), "no placeholders \xE9;/a/B");
    EXPECT_EQ(ReplacePlaceholders("%computer%;%PATH", "X", "/p/"), "%computer%;%PATH");
}

TEST(FileListTest, EntriesShowTheDescriptionInCapitalsAndKeepThePath)
{
    const std::vector<FileListLine> lines =
        SplitFileList("web server;/var/log/Apache2/error.log\r\n"
                      "only/a/path\n"
                      "\n"
                      "a;b;c\r"
                      "desc with;semicolon;/x\r\n");
    ASSERT_EQ(lines.size(), 5u);
    const FileListEntry web = EntryOf(lines[0], 0, "pc", "/opt/");
    EXPECT_EQ(web.description, "WEB SERVER");
    EXPECT_EQ(web.path, "/var/log/Apache2/error.log");
    const FileListEntry bare = EntryOf(lines[1], 1, "pc", "/opt/");
    EXPECT_EQ(bare.description, "ONLY/A/PATH");
    EXPECT_EQ(bare.path, "only/a/path");
    const FileListEntry empty = EntryOf(lines[2], 2, "pc", "/opt/");
    EXPECT_EQ(empty.description, "");
    EXPECT_EQ(empty.path, "");
    EXPECT_EQ(EntryOf(lines[3], 3, "pc", "/opt/").path, "b"); // fields after the second are ignored
    EXPECT_EQ(EntryOf(lines[4], 4, "pc", "/opt/").path, "semicolon");
    EXPECT_EQ(lines[3].start, 52u);
    EXPECT_EQ(lines[3].end, 58u);
}

TEST(FileListTest, RemovingALineKeepsEveryOtherByte)
{
    const std::string text = "twin;/a.log\r\nTwin;%Path%b.log\nlast;%COMPUTERNAME%/c.log";
    const std::vector<FileListLine> lines = SplitFileList(text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(RemoveLine(text, lines[1]), "twin;/a.log\r\nlast;%COMPUTERNAME%/c.log");
    EXPECT_EQ(RemoveLine(text, lines[0]), "Twin;%Path%b.log\nlast;%COMPUTERNAME%/c.log");
    EXPECT_EQ(RemoveLine(text, lines[2]), "twin;/a.log\r\nTwin;%Path%b.log\n");
}

TEST(FileListTest, AdditionsAreRefusedForAKnownPathOrDescription)
{
    const std::string text = "Alpha;/logs/a.log\r\nbeta;/logs/b.log\r\nBETA;%Path%c.log\r\n";
    EXPECT_EQ(CheckNewEntry(text, "gamma", "/logs/c.log").kind, Refusal::None);

    const Refusal samePath = CheckNewEntry(text, "new", "/LOGS/A.LOG");
    EXPECT_EQ(samePath.kind, Refusal::SamePath);
    EXPECT_EQ(samePath.message, "File alerady in File List\r\n(Alpha, /logs/a.log)");

    // The last line with the description is named, unless a line has the path.
    const Refusal sameDescription = CheckNewEntry(text, "Beta", "/logs/z.log");
    EXPECT_EQ(sameDescription.kind, Refusal::SameDescription);
    EXPECT_EQ(sameDescription.message, "File Description alerady in File List\r\n(BETA, %Path%c.log)");
    EXPECT_EQ(CheckNewEntry(text, "beta", "/logs/a.log").kind, Refusal::SamePath);

    // The description is compared untrimmed, and the stored path with its placeholder.
    EXPECT_EQ(CheckNewEntry(text, " beta", "/logs/z.log").kind, Refusal::None);
    EXPECT_EQ(CheckNewEntry(text, "x", "/opt/c.log").kind, Refusal::None);
}

TEST(FileListTest, TheAppendedLineFollowsTheFilesLineBreaks)
{
    EXPECT_EQ(AppendEntry("a;/x\r\n", "new ", "/n.log"), "a;/x\r\nnew ;/n.log\r\n");
    EXPECT_EQ(AppendEntry("a;/x", "d", "/n"), "a;/x\r\nd;/n");
    EXPECT_EQ(AppendEntry("", "d", "/n"), "d;/n\r\n");
    EXPECT_EQ(AppendEntry("a\nb\rc\n", "d", ""), "a\r\nb\r\nc\r\nd;\r\n");
    EXPECT_EQ(AppendEntry("\n", "d", "/n"), "\r\nd;/n\r\n");
}

} // namespace
} // namespace tlg
