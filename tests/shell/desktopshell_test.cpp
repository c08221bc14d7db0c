#include "shell/desktopshell.h"

#include "core/errors.h"
#include "support/userhome.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace tlg {
namespace {

using testing::readFile;
using testing::UserHome;

TEST(DesktopExecTest, TheOpenCommandBecomesAnExecLine)
{
    EXPECT_EQ(DesktopExecOfCommand("\"/opt/tlg/tlgview\" \"%1\""), "/opt/tlg/tlgview %f");
    EXPECT_EQ(DesktopExecOfCommand("\"/opt/Tlg View/tlgview\" \"%1\""),
              "\"/opt/Tlg View/tlgview\" %f");
    // Inside quotes '"', '`', '$' and '\' take a backslash, and the value itself doubles
    // every backslash; '%' is doubled everywhere.
    EXPECT_EQ(DesktopExecOfCommand("\"/opt/a$b\\c`d\" \"%1\""),
              "\"/opt/a\\\\$b\\\\\\\\c\\\\`d\" %f");
    EXPECT_EQ(DesktopExecOfCommand("\"/opt/100%/tlgview\" \"%1\""), "/opt/100%%/tlgview %f");
    EXPECT_EQ(DesktopExecOfCommand("notepad.exe %L --flag"), "notepad.exe %f --flag");
    EXPECT_EQ(DesktopExecOfCommand("/usr/bin/viewer"), "/usr/bin/viewer %f");
    EXPECT_EQ(DesktopExecOfCommand("viewer \"%1\" \"%1\""), "viewer %f %%1");
    EXPECT_EQ(DesktopExecOfCommand(""), "");
    EXPECT_EQ(DesktopExecOfCommand("\"\" \"%1\""), "");
    // Another program's entry is read back the same way.
    EXPECT_EQ(SplitDesktopExec("\"/opt/a\\\\$b c\" %U"),
              (std::vector<std::string>{"/opt/a$b c", "%U"}));
}

struct ListCase
{
    const char* name;
    const char* before;
    const char* after; // with tlgview.desktop made the default for text/x-log
};

void PrintTo(const ListCase& c, std::ostream* out)
{
    *out << c.name;
}

class MimeappsListTest : public ::testing::TestWithParam<ListCase>
{
};

TEST_P(MimeappsListTest, TheDefaultIsSetAndTakenBackByteForByte)
{
    const ListCase& c = GetParam();
    const std::string set = WithDefaultApplication(c.before, "text/x-log", "tlgview.desktop");
    EXPECT_EQ(set, c.after);
    EXPECT_EQ(DefaultApplicationsIn(set, "text/x-log").front(), "tlgview.desktop");
    EXPECT_EQ(WithDefaultApplication(set, "text/x-log", "tlgview.desktop"), set);
    EXPECT_EQ(WithoutDefaultApplication(set, "text/x-log", "tlgview.desktop"), c.before);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, MimeappsListTest,
    ::testing::Values(
        ListCase{"empty", "", "[Default Applications]\ntext/x-log=tlgview.desktop;\n"},
        ListCase{"other_groups", "# mine\n[Added Associations]\ntext/plain=a.desktop;\n",
                 "# mine\n[Added Associations]\ntext/plain=a.desktop;\n"
                 "[Default Applications]\ntext/x-log=tlgview.desktop;\n"},
        ListCase{"other_types_in_the_group",
                 "[Default Applications]\ntext/plain=a.desktop;\n\n[Removed Associations]\n",
                 "[Default Applications]\ntext/plain=a.desktop;\ntext/x-log=tlgview.desktop;\n\n"
                 "[Removed Associations]\n"},
        ListCase{
            "another_default", "[Default Applications]\ntext/x-log=gedit.desktop;kate.desktop;\n",
            "[Default Applications]\ntext/x-log=tlgview.desktop;gedit.desktop;kate.desktop;\n"},
        ListCase{"blanks_and_no_final_semicolon",
                 "[Default Applications]\r\ntext/x-log = gedit.desktop\r\ntext/x-logx=b;",
                 "[Default Applications]\r\ntext/x-log = tlgview.desktop;gedit.desktop\r\n"
                 "text/x-logx=b;"},
        ListCase{
            "a_similar_type_only", "[Default Applications]\ntext/x-log-extra=a.desktop;",
            "[Default Applications]\ntext/x-log-extra=a.desktop;\ntext/x-log=tlgview.desktop;"}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return info.param.name; });

TEST(MimeappsListTest, RemovalTouchesOnlyAListThatNamesTheViewer)
{
    const std::string other = "[Default Applications]\ntext/x-log=gedit.desktop;\n";
    EXPECT_EQ(WithoutDefaultApplication(other, "text/x-log", "tlgview.desktop"), other);
    const std::string elsewhere = "[Added Associations]\ntext/x-log=tlgview.desktop;\n";
    EXPECT_EQ(WithoutDefaultApplication(elsewhere, "text/x-log", "tlgview.desktop"), elsewhere);
    EXPECT_EQ(WithoutDefaultApplication("[Default Applications]\ntext/x-log=gedit.desktop;"
                                        "tlgview.desktop\n",
                                        "text/x-log", "tlgview.desktop"),
              "[Default Applications]\ntext/x-log=gedit.desktop\n");
    // Made the default while listed further on, it is moved to the front.
    EXPECT_EQ(WithDefaultApplication("[Default Applications]\ntext/x-log=a;tlgview.desktop;b\n",
                                     "text/x-log", "tlgview.desktop"),
              "[Default Applications]\ntext/x-log=tlgview.desktop;a;b\n");
}

class DesktopFilesTest : public ::testing::Test
{
protected:
    UserHome home;
    const std::string entry = home.data() + "applications/tlgview.desktop";
    const std::string mimeapps = home.config() + "mimeapps.list";
};

TEST_F(DesktopFilesTest, TheDefaultIsTheFirstInstalledEntryOfTheFirstListThatHasOne)
{
    EXPECT_EQ(DefaultApplicationOf("text/x-log"), "");
    home.installEntry("a.desktop", "a %f");
    home.installEntry("vendor/b.desktop", "b %f");
    home.write("system/xdg/mimeapps.list", "[Default Applications]\ntext/x-log=a.desktop;\n");
    EXPECT_EQ(DefaultApplicationOf("text/x-log"), "a.desktop");
    EXPECT_EQ(DefaultApplicationOf("text/plain"), "");

    home.write("home/.config/mimeapps.list",
               "[Default Applications]\ntext/x-log=missing.desktop;vendor-b.desktop;\n");
    EXPECT_EQ(DefaultApplicationOf("text/x-log"), "vendor-b.desktop");
    EXPECT_EQ(ProgramOfDesktopEntry(FindDesktopEntry("vendor-b.desktop")), "b");

    ::setenv("XDG_CURRENT_DESKTOP", "X-Test:KDE", 1);
    home.write("home/.config/kde-mimeapps.list", "[Default Applications]\ntext/x-log=a.desktop\n");
    EXPECT_EQ(DefaultApplicationOf("text/x-log"), "a.desktop");
}

TEST_F(DesktopFilesTest, InstallAndRemoveKeepTheUsersOtherSettings)
{
    const std::string before = "[Default Applications]\ntext/plain=a.desktop;\n"
                               "text/x-log=a.desktop;\n[Added Associations]\nimage/png=b;\n";
    home.write("home/.config/mimeapps.list", before);
    // A desktop's own list that has a default for the type takes precedence, so it changes
    // too; one without such a default is left alone.
    ::setenv("XDG_CURRENT_DESKTOP", "GNOME:Other", 1);
    const std::string gnome = "[Default Applications]\ntext/x-log=a.desktop;\n";
    const std::string otherDesktop = "[Default Applications]\ntext/plain=c.desktop;\n";
    home.write("home/.config/gnome-mimeapps.list", gnome);
    home.write("home/.config/other-mimeapps.list", otherDesktop);

    InstallDesktopAssociation("text/x-log", "\"/opt/tlg/tlgview\" \"%1\"", "Log Files");
    EXPECT_EQ(readFile(entry), "[Desktop Entry]\nType=Application\nName=Log Viewer\n"
                               "Comment=Log Files\nExec=/opt/tlg/tlgview %f\nIcon=tlgview\n"
                               "Terminal=false\n"
                               "MimeType=text/x-log;\nCategories=Utility;\n");
    EXPECT_EQ(DefaultApplicationsIn(readFile(mimeapps), "text/x-log"),
              (std::vector<std::string>{"tlgview.desktop", "a.desktop"}));
    EXPECT_EQ(DefaultApplicationsIn(readFile(mimeapps), "text/plain"),
              std::vector<std::string>{"a.desktop"});
    EXPECT_EQ(DefaultApplicationsIn(readFile(home.config() + "gnome-mimeapps.list"), "text/x-log")
                  .front(),
              "tlgview.desktop");
    EXPECT_EQ(readFile(home.config() + "other-mimeapps.list"), otherDesktop);

    RemoveDesktopAssociation("text/x-log");
    EXPECT_NE(::access(entry.c_str(), F_OK), 0);
    EXPECT_EQ(readFile(mimeapps), before);
    EXPECT_EQ(readFile(home.config() + "gnome-mimeapps.list"), gnome);
}

TEST_F(DesktopFilesTest, AListThatCannotBeReadIsNotReplaced)
{
    ::mkdir(mimeapps.c_str(), 0700); // a folder where the list goes
    EXPECT_THROW(InstallDesktopAssociation("text/x-log", "/opt/tlg/tlgview", ""), Failure);
    EXPECT_THROW(RemoveDesktopAssociation("text/x-log"), Failure);
}

} // namespace
} // namespace tlg
