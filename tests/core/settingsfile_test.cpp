// Settings files are read only when they are regular files of a sane size.

#include "core/errors.h"
#include "core/fileops.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {
namespace {

using testing::TempDir;

// The failure's text, or "no failure".
std::string refusal(const std::string& path)
{
    try {
        ReadSettingsFile(path);
    } catch (const SettingsFileRefused& refused) {
        return refused.what();
    } catch (const Failure& failure) {
        return std::string("not refused: ") + failure.what();
    }
    return "no failure";
}

TEST(SettingsFileTest, ReadsARegularFileUpToTheLimitAndThroughALink)
{
    TempDir dir;
    const std::string bytes("a\r\nb\0c\xA4", 7);
    EXPECT_EQ(ReadSettingsFile(dir.write("TlgFormat.ini", bytes)), bytes);
    EXPECT_EQ(ReadSettingsFile(dir.write("empty", "")), "");
    const std::string full(kSettingsFileLimit, '\r');
    EXPECT_EQ(ReadSettingsFile(dir.write("full", full)).size(), kSettingsFileLimit);
    ASSERT_EQ(::symlink(dir.path("TlgFormat.ini").c_str(), dir.path("link").c_str()), 0);
    EXPECT_EQ(ReadSettingsFile(dir.path("link")), bytes);
    EXPECT_THROW(ReadSettingsFile(dir.path("missing")), Failure);
}

TEST(SettingsFileTest, RefusesWhatIsNoRegularFileOrTooLargeAndSaysWhich)
{
    TempDir dir;
    ASSERT_EQ(::symlink("/dev/zero", dir.path("Filelist.TLG").c_str()), 0);
    EXPECT_EQ(refusal(dir.path("Filelist.TLG")),
              "Settings file " + dir.path("Filelist.TLG") + " is not read: it is not a regular file");
    ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(refusal(dir.path("fifo")),
              "Settings file " + dir.path("fifo") + " is not read: it is not a regular file");
    ::mkdir(dir.path("folder").c_str(), 0700);
    EXPECT_EQ(refusal(dir.path("folder")),
              "Settings file " + dir.path("folder") + " is not read: it is not a regular file");

    dir.write("MasterSrv.TLG", std::string(kSettingsFileLimit + 1, '\r'));
    EXPECT_EQ(refusal(dir.path("MasterSrv.TLG")),
              "Settings file " + dir.path("MasterSrv.TLG") +
                  " is not read: it is larger than 4 MiB, far more than any settings file holds");
}

} // namespace
} // namespace tlg
