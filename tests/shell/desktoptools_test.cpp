// The association as the desktop's own tools see it, in a home of the test's own. A tool that
// is not installed skips its test.

#include "shell/associate.h"
#include "shell/desktopshell.h"

#include "support/userhome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace tlg {
namespace {

using testing::readFile;
using testing::UserHome;

bool onPath(const std::string& tool)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && ::access((folder + "/" + tool).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// What the command line prints, its last line break removed. `timeout` keeps a tool that
// waits for something (a session bus) from holding the test.
std::string output(const std::string& command)
{
    FILE* pipe = ::popen(("timeout 60 " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return "popen failed";
    std::string text;
    char buffer[512];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    ::pclose(pipe);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// The desktop entry that `gio mime` names as the default, or empty.
std::string gioDefault(const std::string& mimeType)
{
    const std::string text = output("env LC_ALL=C GIO_USE_VFS=local gio mime " + mimeType);
    const std::string firstLine = text.substr(0, text.find('\n'));
    if (firstLine.find("Default application") == std::string::npos)
        return std::string();
    return firstLine.substr(firstLine.rfind(": ") + 2);
}

class DesktopToolsTest : public ::testing::Test
{
protected:
    UserHome home;
    // Executables, since xdg-mime passes over an entry whose program it cannot find.
    const std::string exe = home.write("opt/tlg/tlgview", "#!/bin/sh\n", 0755);
    const std::string editor = home.write("opt/editor/editor", "#!/bin/sh\n", 0755);
    const std::string mimeapps = home.config() + "mimeapps.list";
    const std::string userMimeapps =
        "[Added Associations]\ntext/plain=org.example.Editor.desktop;\n\n"
        "[Default Applications]\ntext/plain=org.example.Editor.desktop;\n"
        "text/x-log=org.example.Editor.desktop;\n";

    void SetUp() override
    {
        home.installEntry("org.example.Editor.desktop", editor + " %U");
        home.write("home/.config/mimeapps.list", userMimeapps);
    }
};

TEST_F(DesktopToolsTest, XdgMimeNamesTheViewerOnlyWhileItIsAssociated)
{
    if (!onPath("xdg-mime"))
        GTEST_SKIP() << "xdg-mime is not installed (package xdg-utils)";
    const std::string query = "xdg-mime query default text/x-log";
    ASSERT_EQ(output(query), "org.example.Editor.desktop");
    EXPECT_EQ(GetFileTypeOpener("log"), editor);

    AssociateWithLogFiles(exe);
    EXPECT_EQ(output(query), "tlgview.desktop");
    EXPECT_TRUE(OpensLogFiles(exe));

    RemoveLogAssociation();
    EXPECT_EQ(output(query), "org.example.Editor.desktop");
    EXPECT_EQ(readFile(mimeapps), userMimeapps);
}

TEST_F(DesktopToolsTest, GioNamesTheViewerOnlyWhileItIsAssociated)
{
    if (!onPath("gio"))
        GTEST_SKIP() << "gio is not installed (package libglib2.0-bin)";
    ASSERT_EQ(gioDefault("text/x-log"), "org.example.Editor.desktop");
    AssociateWithLogFiles(exe);
    EXPECT_EQ(gioDefault("text/x-log"), "tlgview.desktop");
    RemoveLogAssociation();
    EXPECT_EQ(gioDefault("text/x-log"), "org.example.Editor.desktop");
}

TEST_F(DesktopToolsTest, TheDesktopDatabaseIsRefreshedWhenTheToolIsThere)
{
    const std::string cache = home.data() + "applications/mimeinfo.cache";
    const char* path = std::getenv("PATH");
    const std::string savedPath = path ? path : "";
    ::setenv("PATH", (home.root() + "opt").c_str(), 1); // no update-desktop-database here
    EXPECT_NO_THROW(AssociateWithLogFiles(exe));
    ::setenv("PATH", savedPath.c_str(), 1);
    EXPECT_TRUE(WaitForDesktopDatabaseRefresh(30000));
    EXPECT_TRUE(OpensLogFiles(exe));
    EXPECT_EQ(readFile(cache), "");

    if (!onPath("update-desktop-database"))
        GTEST_SKIP() << "update-desktop-database is not installed (package desktop-file-utils)";
    AssociateWithLogFiles(exe);
    ASSERT_TRUE(WaitForDesktopDatabaseRefresh(30000));
    EXPECT_NE(readFile(cache).find("text/x-log=tlgview.desktop;"), std::string::npos);
    RemoveLogAssociation();
    ASSERT_TRUE(WaitForDesktopDatabaseRefresh(30000));
    EXPECT_EQ(readFile(cache).find("tlgview.desktop"), std::string::npos);
}

TEST_F(DesktopToolsTest, ASlowDesktopDatabaseToolIsNotWaitedFor)
{
    // A tool that takes its time: registering returns long before it ends, and the tool still
    // runs to its end (it writes a mark) in the background.
    const std::string mark = home.root() + "refreshed";
    home.write("slowbin/update-desktop-database", "#!/bin/sh\n/bin/sleep 5\necho \"$2\" > " + mark + "\n", 0755);
    const char* path = std::getenv("PATH");
    const std::string savedPath = path ? path : "";
    ::setenv("PATH", (home.root() + "slowbin:" + savedPath).c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    AssociateWithLogFiles(exe);
    const auto took = std::chrono::steady_clock::now() - start;
    ::setenv("PATH", savedPath.c_str(), 1);
    EXPECT_LT(took, std::chrono::milliseconds(4000)) << "the caller waited for the tool";
    EXPECT_TRUE(OpensLogFiles(exe));
    ASSERT_TRUE(WaitForDesktopDatabaseRefresh(60000));
    EXPECT_EQ(readFile(mark), home.data() + "applications\n");
}

} // namespace
} // namespace tlg
