#include "source/recentlogs.h"

#include "core/errors.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tlg {
namespace {

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

ino_t inodeOf(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(RecentLogs, MostRecentFirstWithoutRepeatsAndKeptAcrossLoads)
{
    testing::TempDir dir;
    const std::string file = dir.path("config/tlgview/recent"); // folders made on first save
    RecentLogs recent(file);
    recent.load();
    EXPECT_TRUE(recent.paths().empty());
    recent.add("/var/log/a.log");
    recent.add("/var/log/b.log");
    recent.add("/var/log/c.log");
    recent.add("/var/log/a.log"); // opened again: back to the top, once
    recent.add("");               // nothing to keep
    recent.add("/tmp/two\nlines.log");
    const std::vector<std::string> expected{"/var/log/a.log", "/var/log/c.log", "/var/log/b.log"};
    EXPECT_EQ(recent.paths(), expected);
    EXPECT_EQ(fileText(file), "/var/log/a.log\r\n/var/log/c.log\r\n/var/log/b.log\r\n");

    RecentLogs again(file);
    again.load();
    EXPECT_EQ(again.paths(), expected);
    // UTF-8 names stay as their bytes.
    again.add("/home/ana/j\xC3\xB8rnal.log");
    RecentLogs third(file);
    third.load();
    EXPECT_EQ(third.paths().front(), "/home/ana/j\xC3\xB8rnal.log");
}

TEST(RecentLogs, KeepsTheLastTenOnly)
{
    testing::TempDir dir;
    const std::string file = dir.path("recent");
    RecentLogs recent(file);
    for (int i = 0; i < 14; ++i)
        recent.add("/logs/" + std::to_string(i) + ".log");
    ASSERT_EQ(recent.paths().size(), RecentLogs::kLimit);
    EXPECT_EQ(recent.paths().front(), "/logs/13.log");
    EXPECT_EQ(recent.paths().back(), "/logs/4.log");

    // A longer list written by hand is cut at the limit when read; LF-only lines, blank lines
    // and repeats are taken too.
    std::string text;
    for (int i = 0; i < 15; ++i)
        text += "/x/" + std::to_string(i % 12) + ".log\n\n";
    dir.write("hand", text);
    RecentLogs hand(dir.path("hand"));
    hand.load();
    ASSERT_EQ(hand.paths().size(), RecentLogs::kLimit);
    EXPECT_EQ(hand.paths().front(), "/x/0.log");
    EXPECT_EQ(hand.paths().back(), "/x/9.log");
}

TEST(RecentLogs, MissingFilesAreToldAndRemovedOnRequest)
{
    testing::TempDir dir;
    const std::string there = dir.write("there.log", "x\n");
    const std::string gone = dir.path("gone.log");
    RecentLogs recent(dir.path("recent"));
    recent.add(gone);
    recent.add(there);
    EXPECT_TRUE(RecentLogs::present(there));
    EXPECT_FALSE(RecentLogs::present(gone));
    EXPECT_FALSE(RecentLogs::present(dir.folder())); // a folder is no log

    recent.remove(gone);
    recent.remove("/never/listed.log");
    EXPECT_EQ(recent.paths(), std::vector<std::string>{there});
    RecentLogs reread(dir.path("recent"));
    reread.load();
    EXPECT_EQ(reread.paths(), std::vector<std::string>{there});
}

TEST(RecentLogs, WritesBesideAndRenames)
{
    testing::TempDir dir;
    const std::string file = dir.path("recent");
    RecentLogs recent(file);
    recent.add("/a.log");
    const ino_t before = inodeOf(file);
    ASSERT_NE(before, 0u);
    // A reader holding the old file still sees the old list: the new one is another file.
    std::ifstream held(file, std::ios::binary);
    recent.add("/b.log");
    EXPECT_NE(inodeOf(file), before);
    std::stringstream old;
    old << held.rdbuf();
    EXPECT_EQ(old.str(), "/a.log\r\n");
    EXPECT_EQ(fileText(file), "/b.log\r\n/a.log\r\n");
    // Nothing left behind beside it.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.folder()))
        ++entries;
    EXPECT_EQ(entries, 1);

    // A list that cannot be written is said so; the list in memory keeps the change.
    RecentLogs nowhere(dir.path("recent/inside-a-file"));
    EXPECT_THROW(nowhere.add("/c.log"), Failure);
    EXPECT_EQ(nowhere.paths().size(), 1u);
}

} // namespace
} // namespace tlg
