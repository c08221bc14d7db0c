#include "shell/associate.h"

#include "core/errors.h"
#include "shell/keystore.h"
#include "support/userhome.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace tlg {
namespace {

using testing::readFile;
using testing::UserHome;

struct CleaningCase
{
    const char* name;
    const char* command;
    const char* cleaned;
};

void PrintTo(const CleaningCase& c, std::ostream* out)
{
    *out << c.name;
}

class CleanOpenerCommandTest : public ::testing::TestWithParam<CleaningCase>
{
};

TEST_P(CleanOpenerCommandTest, GivesABarePath)
{
    EXPECT_EQ(CleanOpenerCommand(GetParam().command), GetParam().cleaned);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CleanOpenerCommandTest,
    ::testing::Values(CleaningCase{"quoted_path_and_argument", "\"C:\\Tools\\viewer.exe\" \"%1\"",
                                   "C:\\Tools\\viewer.exe"},
                      CleaningCase{"environment_reference_first",
                                   "%SystemRoot%\\system32\\notepad.exe %1", ""},
                      CleaningCase{"unquoted", "notepad.exe %1", "notepad.exe"},
                      CleaningCase{"no_argument", "\"/opt/tlg/tlgview\"", "/opt/tlg/tlgview"},
                      CleaningCase{"trailing_blanks_and_quotes", "\"/a b/c\" \"\" ", "/a b/c"},
                      CleaningCase{"only_quotes", "\"\"\"", ""},
                      CleaningCase{"file_type_name", "Logfiles", "Logfiles"},
                      CleaningCase{"empty", "", ""}),
    [](const ::testing::TestParamInfo<CleaningCase>& info) { return info.param.name; });

class AssociateTest : public ::testing::Test
{
protected:
    // An executable file, so that desktop tools that check the program accept the entry.
    std::string makeExecutable(const std::string& relative)
    {
        return home.write(relative, "#!/bin/sh\nexit 0\n", 0755);
    }

    std::string defaultOf(const std::string& path) const
    {
        return ClassesRoot().openKey(path, false).readString();
    }

    UserHome home;
    const std::string exe = makeExecutable("opt/TlgView/tlgview");
    const std::string store = home.data() + "tlgview/classes.reg";
    const std::string entry = home.data() + "applications/tlgview.desktop";
    const std::string mimeapps = home.config() + "mimeapps.list";
};

TEST_F(AssociateTest, RegisterWritesTheFiveKeysAndTellsTheDesktop)
{
    EXPECT_EQ(GetFileTypeOpener("log"), "");
    AssociateWithLogFiles(exe);
    EXPECT_EQ(GetFileTypeOpener("LOG"), exe);
    EXPECT_TRUE(OpensLogFiles(exe));
    EXPECT_FALSE(OpensLogFiles(home.root() + "opt/tlgview/tlgview")) << "letter case counts";
    EXPECT_EQ(defaultOf(".log"), "Logfiles");
    EXPECT_EQ(defaultOf("Logfiles"), "Log Files");
    EXPECT_EQ(defaultOf("Logfiles\\DefaultIcon"), exe + ",0");
    EXPECT_EQ(defaultOf("Logfiles\\Shell\\Open"), "&Open");
    EXPECT_EQ(defaultOf("Logfiles\\Shell\\Open\\Command"), "\"" + exe + "\" \"%1\"");
    EXPECT_EQ(ClassesRoot().openKey("Logfiles", false).subkeyNames(),
              (std::vector<std::string>{"DefaultIcon", "Shell"}));
    EXPECT_EQ(readFile(store).find("\"="), std::string::npos) << "only default values";

    EXPECT_NE(readFile(entry).find("\nExec=" + exe + " %f\n"), std::string::npos);
    EXPECT_EQ(readFile(mimeapps), "[Default Applications]\ntext/x-log=tlgview.desktop;\n");

    // Registering again writes the same.
    const std::string stored = readFile(store);
    AssociateWithLogFiles(exe);
    EXPECT_EQ(readFile(store), stored);
    EXPECT_EQ(readFile(mimeapps), "[Default Applications]\ntext/x-log=tlgview.desktop;\n");
}

TEST_F(AssociateTest, TheOpenerFollowsTheKeysTheWayTheShellDoes)
{
    const KeyStore root = ClassesRoot();
    root.openKey(".log", true).writeString("", "txtfile");
    EXPECT_EQ(GetFileTypeOpener("log"), "txtfile") << "a file type without a command";

    root.openKey("txtfile\\shell\\open\\command", true).writeString("", "notepad.exe %1");
    EXPECT_EQ(GetFileTypeOpener("log"), "notepad.exe");

    root.openKey(".log\\shell\\open\\command", true).writeString("", "\"/usr/bin/direct\" \"%1\"");
    EXPECT_EQ(GetFileTypeOpener("log"), "/usr/bin/direct") << "the extension's own command wins";

    root.openKey(".txt", true);
    EXPECT_EQ(GetFileTypeOpener("txt"), "") << "an extension key without a value";
}

TEST_F(AssociateTest, RegisteringKeepsWhatElseStandsUnderTheExtension)
{
    const KeyStore root = ClassesRoot();
    const RegistryKey log = root.openKey(".log", true);
    log.writeString("", "txtfile");
    log.writeString("Content Type", "text/plain");
    root.openKey(".log\\ShellNew", true).writeString("NullFile", "");

    AssociateWithLogFiles(exe);
    EXPECT_EQ(defaultOf(".log"), "Logfiles");
    EXPECT_EQ(root.openKey(".log", false).readString("Content Type"), "text/plain");
    EXPECT_TRUE(root.openKey(".log\\ShellNew", false).isOpen());

    // Another program takes the extension; removal deletes the key all the same, with all in it.
    root.openKey(".log", false).writeString("", "otherfile");
    RemoveLogAssociation();
    EXPECT_FALSE(root.openKey(".log", false).isOpen());
    EXPECT_FALSE(root.openKey("Logfiles", false).isOpen());
    EXPECT_NE(::access(entry.c_str(), F_OK), 0);
}

TEST_F(AssociateTest, RemovingWhenNothingIsRegisteredChangesNothing)
{
    const std::string otherDefaults = "[Default Applications]\ntext/x-log=other.desktop;\n";
    home.write("home/.config/mimeapps.list", otherDefaults);
    RemoveLogAssociation();
    EXPECT_NE(::access(store.c_str(), F_OK), 0) << "no store written";
    EXPECT_EQ(readFile(mimeapps), otherDefaults);
}

TEST_F(AssociateTest, DeleteKeyTreeGoesDepthFirstAndOnlyBeneathThePath)
{
    const KeyStore root = ClassesRoot();
    root.openKey("Logfiles\\Shell\\Open\\Command", true).writeString("", "c");
    root.openKey("Logfiles\\Shell\\Print\\Command", true).writeString("", "p");
    root.openKey("Logfiles\\DefaultIcon", true);
    root.openKey("LogfilesBackup\\Shell", true);
    DeleteKeyTree(root, "Logfiles\\Shell");
    EXPECT_TRUE(root.openKey("Logfiles\\DefaultIcon", false).isOpen());
    EXPECT_FALSE(root.openKey("Logfiles\\Shell", false).isOpen());
    DeleteKeyTree(root, "logfiles");
    DeleteKeyTree(root, "Missing\\Key");
    EXPECT_FALSE(root.openKey("Logfiles", false).isOpen());
    EXPECT_TRUE(root.openKey("LogfilesBackup\\Shell", false).isOpen());
}

TEST_F(AssociateTest, ARegistrationFailureStopsAtTheKeyThatCannotBeWritten)
{
    // A type name that no key may have: the extension key is written, the next fails.
    try {
        RegisterFileType(".log", "Log\nfiles", "Log Files", exe, 0, true);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_STREQ(failure.what(), "Failed to set data for ''");
    }
    EXPECT_EQ(defaultOf(".log"), "Log\nfiles");
    EXPECT_NE(::access(entry.c_str(), F_OK), 0) << "no notification after a failure";
    EXPECT_NE(::access(mimeapps.c_str(), F_OK), 0);

    // No store can be written at all.
    ::unlink(store.c_str());
    ::rmdir((home.data() + "tlgview").c_str());
    home.write("home/.local/share/tlgview", "in the way");
    EXPECT_THROW(AssociateWithLogFiles(exe), Failure);
    EXPECT_NE(::access(entry.c_str(), F_OK), 0);
}

TEST_F(AssociateTest, TheDesktopsOwnDefaultOverridesTheKeys)
{
    AssociateWithLogFiles(exe);
    home.installEntry("org.example.Editor.desktop", "\"/opt/Example Editor/editor\" --new %U");
    const std::string taken = "[Added Associations]\ntext/plain=org.example.Editor.desktop;\n\n"
                              "[Default Applications]\ntext/x-log=org.example.Editor.desktop;\n";
    home.write("home/.config/mimeapps.list", taken);
    EXPECT_EQ(GetFileTypeOpener("log"), "/opt/Example Editor/editor");
    EXPECT_FALSE(OpensLogFiles(exe));

    // Taking the association back puts the viewer first and keeps the editor after it.
    AssociateWithLogFiles(exe);
    EXPECT_TRUE(OpensLogFiles(exe));
    RemoveLogAssociation();
    EXPECT_EQ(readFile(mimeapps), taken);
    EXPECT_EQ(GetFileTypeOpener("log"), "/opt/Example Editor/editor");
}

} // namespace
} // namespace tlg
