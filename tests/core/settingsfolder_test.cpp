// The choice of the settings folder, and which copy of a settings file or of the program's
// own pages is read.

#include "core/fileops.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tlg {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Sets (or with nullptr unsets) an environment variable for one scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

struct ChoiceCase {
    const char* name;
    const char* home;
    bool writable;
    bool installed;
    const char* chosen;
};

void PrintTo(const ChoiceCase& c, std::ostream* out)
{
    *out << c.name;
}

class ChooseSettingsFolderTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseSettingsFolderTest, TakesTheFirstFolderThatApplies)
{
    const ChoiceCase& c = GetParam();
    SettingsFolderPlaces places;
    places.home = c.home;
    places.exeFolder = "/opt/tlgview/";
    places.installed = c.installed;
    places.configFolder = "/home/u/.config/tlgview/";
    std::vector<std::string> asked;
    const std::string chosen = ChooseSettingsFolder(places, [&](const std::string& folder) {
        asked.push_back(folder);
        return c.writable;
    });
    EXPECT_EQ(chosen, c.chosen);
    // Only the executable's folder is ever tested for writing.
    for (const std::string& folder : asked)
        EXPECT_EQ(folder, "/opt/tlgview/");
}

INSTANTIATE_TEST_SUITE_P(
    Places, ChooseSettingsFolderTest,
    ::testing::Values(
        ChoiceCase{"home_first", "/srv/tlg", true, false, "/srv/tlg/"},
        ChoiceCase{"home_with_slash", "/srv/tlg/", false, true, "/srv/tlg/"},
        ChoiceCase{"home_even_when_installed", "/srv/tlg", true, true, "/srv/tlg/"},
        ChoiceCase{"writable_program_folder", "", true, false, "/opt/tlgview/"},
        ChoiceCase{"read_only_program_folder", "", false, false, "/home/u/.config/tlgview/"},
        ChoiceCase{"installed_and_writable", "", true, true, "/home/u/.config/tlgview/"},
        ChoiceCase{"installed_read_only", "", false, true, "/home/u/.config/tlgview/"}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST(CanWriteFolder, OnlyAFolderThatTakesNewFiles)
{
    TempDir dir;
    EXPECT_TRUE(CanWriteFolder(dir.folder()));
    EXPECT_FALSE(CanWriteFolder(dir.write("file", "x")));      // not a folder
    EXPECT_FALSE(CanWriteFolder(dir.write("file2", "x") + "/")); // a file path as a folder
    EXPECT_FALSE(CanWriteFolder(dir.path("missing/")));
    fs::create_directory(dir.path("locked"));
    fs::permissions(dir.path("locked"), fs::perms(0555));
    // Root writes a folder whatever its mode says.
    EXPECT_EQ(CanWriteFolder(dir.path("locked/")), ::geteuid() == 0);
    fs::permissions(dir.path("locked"), fs::perms(0755));
}

TEST(DataFolderBeside, IsShareTlgviewBesideTheProgramsFolder)
{
    TempDir dir;
    fs::create_directories(dir.path("usr/bin"));
    EXPECT_EQ(DataFolderBeside(dir.path("usr/bin/")), "");
    fs::create_directories(dir.path("usr/share/tlgview"));
    EXPECT_EQ(DataFolderBeside(dir.path("usr/bin/")), dir.path("usr/share/tlgview/"));
    EXPECT_EQ(DataFolderBeside(dir.path("usr/games/")), dir.path("usr/share/tlgview/"));
    EXPECT_EQ(DataFolderBeside(dir.path("usr/")), ""); // would be <root>/share/tlgview/
    EXPECT_EQ(DataFolderBeside("./"), "");
    EXPECT_EQ(DataFolderBeside("/"), "");
    EXPECT_EQ(DataFolderBeside(""), "");
    // A file of that name is no data folder.
    fs::create_directories(dir.path("opt/bin"));
    fs::create_directories(dir.path("opt/share"));
    dir.write("opt/share/tlgview", "x");
    EXPECT_EQ(DataFolderBeside(dir.path("opt/bin/")), "");
}

TEST(UserConfigSettingsFolder, FollowsTheBaseDirectoryRules)
{
    const ScopedVariable home("HOME", "/home/u");
    {
        const ScopedVariable config("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(UserConfigSettingsFolder(), "/cfg/tlgview/");
    }
    {
        const ScopedVariable config("XDG_CONFIG_HOME", "/cfg/");
        EXPECT_EQ(UserConfigSettingsFolder(), "/cfg/tlgview/");
    }
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/cfg"}) {
        const ScopedVariable config("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(UserConfigSettingsFolder(), "/home/u/.config/tlgview/");
    }
}

TEST(SettingsFolder, IsTheHomeVariableOrElseWhereThisProgramMayWrite)
{
    TempDir dir;
    fs::create_directories(dir.path("home"));
    {
        const ScopedVariable home("TLGVIEW_HOME", dir.path("home").c_str());
        EXPECT_EQ(SettingsFolder(), dir.path("home/"));
        dir.write("home/filelist.tlg", "a;b\r\n");
        EXPECT_EQ(SettingsFileToWrite("Filelist.TLG"), dir.path("home/filelist.tlg"));
        EXPECT_EQ(SettingsFileToRead("Filelist.TLG"), dir.path("home/filelist.tlg"));
        EXPECT_EQ(SettingsFileToWrite("TlgFormat.ini"), dir.path("home/TlgFormat.ini"));
    }
    // The tests' own executable: its build folder, writable and with no data installed
    // beside it, is a portable program folder; else the config folder is made.
    const ScopedVariable home("TLGVIEW_HOME", nullptr);
    const ScopedVariable config("XDG_CONFIG_HOME", dir.path("config").c_str());
    const std::string exe = ExecutableFolder();
    if (CanWriteFolder(exe) && InstalledDataFolder().empty()) {
        EXPECT_EQ(SettingsFolder(), exe);
        EXPECT_FALSE(fs::exists(dir.path("config")));
    } else {
        EXPECT_EQ(SettingsFolder(), dir.path("config/tlgview/"));
        EXPECT_TRUE(fs::is_directory(dir.path("config/tlgview")));
    }
}

TEST(SettingsFileToRead, FallsBackToTheProgramFolder)
{
    TempDir dir;
    fs::create_directories(dir.path("settings"));
    fs::create_directories(dir.path("program"));
    const std::string settings = dir.path("settings/");
    const std::string program = dir.path("program/");

    // In neither: the settings folder's path, where it is to be written.
    EXPECT_EQ(SettingsFileToRead(settings, program, "Filelist.TLG"), settings + "Filelist.TLG");
    // Only beside the program, in any letter case: read from there.
    dir.write("program/FILELIST.tlg", "shared");
    EXPECT_EQ(SettingsFileToRead(settings, program, "Filelist.TLG"), program + "FILELIST.tlg");
    // A folder of that name in the settings folder is no file.
    fs::create_directory(dir.path("settings/Filelist.TLG"));
    EXPECT_EQ(SettingsFileToRead(settings, program, "Filelist.TLG"), program + "FILELIST.tlg");
    fs::remove(dir.path("settings/Filelist.TLG"));
    // Once the settings folder has its own copy, that one.
    dir.write("settings/filelist.tlg", "mine");
    EXPECT_EQ(SettingsFileToRead(settings, program, "Filelist.TLG"), settings + "filelist.tlg");
    // One folder for both: no second look.
    EXPECT_EQ(SettingsFileToRead(program, program, "TlgFormat.ini"), program + "TlgFormat.ini");
}

TEST(OwnFileToShow, TheSettingsCopyThenTheInstalledOne)
{
    TempDir dir;
    fs::create_directories(dir.path("settings"));
    fs::create_directories(dir.path("data"));
    const std::string settings = dir.path("settings/");
    const std::string data = dir.path("data/");

    EXPECT_EQ(OwnFileToShow(settings, data, "tlg-1.htm"), settings + "tlg-1.htm");
    EXPECT_EQ(OwnFileToShow(settings, "", "tlg-1.htm"), settings + "tlg-1.htm");
    dir.write("data/tlg-1.htm", "installed");
    EXPECT_EQ(OwnFileToShow(settings, data, "tlg-1.htm"), data + "tlg-1.htm");
    EXPECT_EQ(OwnFileToShow(settings, "", "tlg-1.htm"), settings + "tlg-1.htm");
    // Page names are exact: another letter case is another page.
    EXPECT_EQ(OwnFileToShow(settings, data, "TLG-1.htm"), settings + "TLG-1.htm");
    dir.write("settings/tlg-1.htm", "downloaded");
    EXPECT_EQ(OwnFileToShow(settings, data, "tlg-1.htm"), settings + "tlg-1.htm");
}

} // namespace
} // namespace tlg
