#include "core/errors.h"
#include "core/fileops.h"
#include "filelist/mastercomputer.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace tlg {
namespace {

using testing::readFile;
using testing::TempDir;

TEST(MasterComputerTest, RecordsThisComputerOnceAndThenOnlyReads)
{
    TempDir dir;
    const std::string here = LocalComputerName();
    EXPECT_EQ(ReadOrCreateMasterComputerName(dir.folder()), here);
    EXPECT_EQ(readFile(dir.path("MasterSrv.TLG")), here + "\r\n");

    // Another computer's name stays the master; only the first line counts.
    dir.write("MasterSrv.TLG", "BIGSERVER\r\nsecond line\r\n");
    EXPECT_EQ(ReadOrCreateMasterComputerName(dir.folder()), "BIGSERVER");
    dir.write("MasterSrv.TLG", "LONE-CR\rrest");
    EXPECT_EQ(ReadOrCreateMasterComputerName(dir.folder()), "LONE-CR");
    EXPECT_EQ(readFile(dir.path("MasterSrv.TLG")), "LONE-CR\rrest");

    // An empty file gives an empty name and is left as it is.
    dir.write("MasterSrv.TLG", "");
    EXPECT_EQ(ReadOrCreateMasterComputerName(dir.folder()), "");
    EXPECT_EQ(readFile(dir.path("MasterSrv.TLG")), "");
}

TEST(MasterComputerTest, FindsTheFileInAnyLetterCase)
{
    TempDir dir;
    dir.write("mastersrv.tlg", "OTHER\r\n");
    EXPECT_EQ(ReadOrCreateMasterComputerName(dir.folder()), "OTHER");
    EXPECT_FALSE(std::filesystem::exists(dir.path("MasterSrv.TLG")));
}

TEST(MasterComputerTest, AFolderOfThatNameCountsAsMissingAndCannotBeWritten)
{
    TempDir dir;
    std::filesystem::create_directory(dir.path("MasterSrv.TLG"));
    try {
        ReadOrCreateMasterComputerName(dir.folder());
        FAIL() << "writing over a folder must fail";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()), "Cannot create file " + dir.path("MasterSrv.TLG"));
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path("MasterSrv.TLG")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.folder()),
                            std::filesystem::directory_iterator()),
              1); // no temporary file left behind
}

TEST(MasterComputerTest, ANameNoComputerCanHaveOrNoRegularFileIsRefused)
{
    TempDir dir;
    dir.write("MasterSrv.TLG", std::string(kMaxComputerNameLength, 'N') + "\r\n");
    EXPECT_EQ(ReadOrCreateMasterComputerName(dir.folder()).size(), kMaxComputerNameLength);
    // A longer first line would be put into every path of the file list.
    const std::string longLine(kMaxComputerNameLength + 1, 'N');
    dir.write("MasterSrv.TLG", longLine + "\r\n");
    EXPECT_THROW(ReadOrCreateMasterComputerName(dir.folder()), SettingsFileRefused);
    EXPECT_EQ(readFile(dir.path("MasterSrv.TLG")), longLine + "\r\n");

    ::unlink(dir.path("MasterSrv.TLG").c_str());
    ASSERT_EQ(::symlink("/dev/zero", dir.path("MasterSrv.TLG").c_str()), 0);
    try {
        ReadOrCreateMasterComputerName(dir.folder());
        FAIL() << "no failure";
    } catch (const SettingsFileRefused& refused) {
        EXPECT_NE(std::string(refused.what()).find(dir.path("MasterSrv.TLG")), std::string::npos);
    }
}

} // namespace
} // namespace tlg
