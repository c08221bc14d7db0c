#include "shell/keystore.h"

#include "core/errors.h"
#include "support/userhome.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tlg {
namespace {

using testing::readFile;
using testing::UserHome;

class KeyStoreTest : public ::testing::Test
{
protected:
    UserHome home;
    KeyStore store{home.data() + "tlgview/classes.reg"};
};

std::string failureText(const RegistryKey& key, const std::string& valueName)
{
    try {
        key.writeString(valueName, "x");
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "no failure";
}

TEST_F(KeyStoreTest, IsThisUsersClassesRootInTheDataFolder)
{
    EXPECT_EQ(ClassesRoot().file(), home.data() + "tlgview/classes.reg");
    // A data folder that is unset or not absolute falls back to the one under HOME.
    ::setenv("XDG_DATA_HOME", "relative/share", 1);
    EXPECT_EQ(ClassesRoot().file(), home.root() + "home/.local/share/tlgview/classes.reg");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(ClassesRoot().file(), home.root() + "home/.local/share/tlgview/classes.reg");
}

TEST_F(KeyStoreTest, NamesCompareWithoutLetterCaseAndKeepTheirSpelling)
{
    store.openKey("Logfiles\\Shell\\Open", true).writeString("", "&Open");
    const RegistryKey open = store.openKey("LOGFILES\\shell\\OPEN", false);
    ASSERT_TRUE(open.isOpen());
    EXPECT_EQ(open.readString(), "&Open");
    EXPECT_EQ(store.openKey("logfiles", false).subkeyNames(), std::vector<std::string>{"Shell"});

    // A second spelling opens the same key and does not add one.
    store.openKey("logFILES\\Shell\\Open\\Command", true).writeString("Content Type", "a");
    store.openKey("LogFiles\\SHELL\\open\\command", true).writeString("content type", "b");
    const RegistryKey command = store.openKey("Logfiles\\Shell\\Open\\Command", false);
    EXPECT_EQ(command.readString("CONTENT TYPE"), "b");
    EXPECT_EQ(store.openKey("Logfiles\\Shell\\Open", false).subkeyNames(),
              std::vector<std::string>{"Command"});
}

TEST_F(KeyStoreTest, MissingKeysReadEmptyAndOnlyValidKeysAreCreated)
{
    EXPECT_FALSE(store.openKey(".log", false).isOpen());
    EXPECT_FALSE(store.deleteKey(".log"));
    for (const char* invalid : {"", "\\", "a\\\\b", "\\a", "a\\", "a\nb"})
        EXPECT_FALSE(store.openKey(invalid, true).isOpen()) << invalid;
    EXPECT_TRUE(readFile(store.file()).empty()) << "no lookup or invalid path makes the file";

    const RegistryKey key = store.openKey(".log", true);
    ASSERT_TRUE(key.isOpen());
    EXPECT_EQ(key.readString(), "");
    EXPECT_EQ(key.readString("Content Type"), "");
    EXPECT_FALSE(key.hasSubkeys());
    EXPECT_TRUE(store.openKey(".log", false).isOpen()) << "a created key stands without values";
}

TEST_F(KeyStoreTest, ValuesSurviveTheFileWhateverTheirBytes)
{
    const std::string odd = "\"quoted\" back\\slash \\x41 %1 ;[x] \xA4\r\n\ttab\x01";
    const RegistryKey key = store.openKey(".log\\ShellNew", true);
    key.writeString("", odd);
    key.writeString("@", "named at");
    key.writeString("Empty", "");
    store.openKey("[odd] name;", true).writeString("", "=");

    const KeyStore again(store.file());
    const RegistryKey reread = again.openKey(".LOG\\shellnew", false);
    EXPECT_EQ(reread.readString(), odd);
    EXPECT_EQ(reread.readString("@"), "named at");
    EXPECT_EQ(reread.readString("Empty"), "");
    EXPECT_EQ(again.openKey("[odd] name;", false).readString(), "=");
    EXPECT_EQ(readFile(store.file()).find('\x01'), std::string::npos) << "one value a line";
}

TEST_F(KeyStoreTest, DeletingTakesTheKeyWithEverythingBeneathIt)
{
    store.openKey("Logfiles\\Shell\\Open\\Command", true).writeString("", "cmd");
    store.openKey("Logfiles2", true).writeString("", "sibling");
    EXPECT_TRUE(store.deleteKey("LOGFILES"));
    EXPECT_FALSE(store.openKey("Logfiles\\Shell", false).isOpen());
    EXPECT_EQ(store.openKey("Logfiles2", false).readString(), "sibling");

    const std::string before = readFile(store.file());
    EXPECT_FALSE(store.deleteKey("Logfiles"));
    EXPECT_EQ(readFile(store.file()), before);
}

TEST_F(KeyStoreTest, WritingFailsWithTheValueNameWhenTheKeyIsGoneOrCannotBeMade)
{
    EXPECT_EQ(failureText(RegistryKey(), ""), "Failed to set data for ''");

    const RegistryKey key = store.openKey("Logfiles", true);
    store.deleteKey("Logfiles");
    EXPECT_EQ(failureText(key, "Content Type"), "Failed to set data for 'Content Type'");
    EXPECT_FALSE(store.openKey("Logfiles", false).isOpen()) << "a write must not bring it back";

    home.write("home/.local/share/blocked", "a file where the store's folder goes");
    EXPECT_FALSE(KeyStore(home.data() + "blocked/classes.reg").openKey(".log", true).isOpen());
}

TEST_F(KeyStoreTest, AFileItCannotReadIsNeverOverwritten)
{
    const std::string foreign = "[.log]\n@=\"Logfiles\"\nnot a value line\n";
    home.write("home/.local/share/tlgview/classes.reg", foreign);
    EXPECT_FALSE(store.openKey(".log", false).isOpen());
    EXPECT_FALSE(store.openKey(".log", true).isOpen());
    EXPECT_FALSE(store.deleteKey(".log"));
    EXPECT_EQ(readFile(store.file()), foreign);
}

} // namespace
} // namespace tlg
