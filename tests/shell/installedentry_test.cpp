// The association beside an installed package: the package's desktop entry (tlgview.desktop
// in a system data folder) and the user's entry of the same id that registering writes.

#include "shell/associate.h"
#include "shell/desktopshell.h"

#include "support/userhome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace tlg {
namespace {

using testing::readFile;
using testing::UserHome;

constexpr const char* kPackageEntry = "[Desktop Entry]\nType=Application\nName=TlgView\n"
                                      "Exec=tlgview %f\nIcon=tlgview\n"
                                      "MimeType=text/x-log;text/plain;\n";

class InstalledEntryTest : public ::testing::Test {
protected:
    UserHome home;
    // The installed program, as the package puts it under the system's prefix.
    const std::string exe = home.write("system/bin/tlgview", "#!/bin/sh\nexit 0\n", 0755);
    const std::string packageEntry =
        home.write("system/share/applications/tlgview.desktop", kPackageEntry);
    const std::string userEntry = home.data() + "applications/tlgview.desktop";
};

TEST_F(InstalledEntryTest, RegisteringWritesTheUsersEntryAndRemovingLeavesThePackages)
{
    EXPECT_FALSE(OpensLogFiles(exe)) << "an installed entry alone is no association";
    AssociateWithLogFiles(exe);
    EXPECT_TRUE(OpensLogFiles(exe));
    const std::string written = readFile(userEntry);
    EXPECT_NE(written.find("\nExec=" + exe + " %f\n"), std::string::npos) << written;
    // The user's entry hides the package's from the menus, so it carries the same icon.
    EXPECT_NE(written.find("\nIcon=tlgview\n"), std::string::npos) << written;
    EXPECT_EQ(FindDesktopEntry(kDesktopEntryId), userEntry);
    EXPECT_EQ(readFile(packageEntry), kPackageEntry);

    RemoveLogAssociation();
    EXPECT_NE(::access(userEntry.c_str(), F_OK), 0);
    EXPECT_EQ(readFile(packageEntry), kPackageEntry);
    EXPECT_EQ(FindDesktopEntry(kDesktopEntryId), packageEntry);
    EXPECT_FALSE(OpensLogFiles(exe));
}

TEST_F(InstalledEntryTest, RemovingNeverTakesAnEntryFromASystemDataFolder)
{
    // A user data folder that is the system's own, as when root points XDG_DATA_HOME there.
    ::setenv("XDG_DATA_HOME", home.systemData().c_str(), 1);
    RemoveDesktopAssociation("text/x-log");
    EXPECT_EQ(readFile(packageEntry), kPackageEntry);
}

} // namespace
} // namespace tlg
