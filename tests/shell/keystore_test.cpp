#include "shell/keystore.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "support/userhome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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

// A store of `levels` keys, each inside the one before, on one line.
std::string nestedStore(std::size_t levels)
{
    std::string path = "a";
    path.reserve(levels * 2);
    for (std::size_t i = 1; i < levels; ++i)
        path += "\\a";
    return "[" + path + "]\n@=\"deep\"\n";
}

TEST_F(KeyStoreTest, AStoreNestedBeyondTheRegistrysDepthIsRefusedWithoutCrashing)
{
    // 600,000 levels in 1.2 MB: refused with the reason, and left as it is.
    const std::string deep = nestedStore(600000);
    home.write("home/.local/share/tlgview/classes.reg", deep);
    try {
        store.read();
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "The association store " + store.file() +
                      " cannot be used: line 1 nests keys deeper than 512 levels; it is left as it is");
    }
    EXPECT_FALSE(store.openKey("a", false).isOpen());
    EXPECT_FALSE(store.openKey(".log", true).isOpen());
    EXPECT_EQ(readFile(store.file()), deep);

    // As deep as the registry allows is fine, and writing it back does not repeat the path of
    // every level: the file stays about as long as the one path.
    home.write("home/.local/share/tlgview/classes.reg", nestedStore(kMaxKeyDepth));
    const RegistryKey key = store.openKey(".log", true);
    ASSERT_TRUE(key.isOpen());
    key.writeString("", "Logfiles");
    EXPECT_LT(readFile(store.file()).size(), 2 * kMaxKeyDepth + 200);
    std::string path = "A";
    for (std::size_t i = 1; i < kMaxKeyDepth; ++i)
        path += "\\A";
    EXPECT_EQ(store.openKey(path, false).readString(), "deep");
    EXPECT_FALSE(store.openKey(path + "\\a", true).isOpen()) << "one level too deep";
}

TEST_F(KeyStoreTest, ATreeWritesBackAsItWasRead)
{
    KeyTree tree;
    ASSERT_TRUE(tree.createKey("Logfiles\\Shell\\Open\\Command"));
    ASSERT_TRUE(tree.setValue("Logfiles\\Shell\\Open\\Command", "", "\"x\" \"%1\""));
    ASSERT_TRUE(tree.createKey("Logfiles\\DefaultIcon"));
    ASSERT_TRUE(tree.createKey(".log"));
    ASSERT_TRUE(tree.setValue(".log", "", "Logfiles"));
    ASSERT_TRUE(tree.setValue(".LOG", "Content Type", "text/x-log"));
    ASSERT_TRUE(tree.createKey("Empty"));
    EXPECT_FALSE(tree.setValue("Missing", "", "x"));

    const KeyTree again = KeyTree::parse(tree.text());
    EXPECT_EQ(again.text(), tree.text());
    EXPECT_EQ(again.subkeyNames(""), std::vector<std::string>{});
    EXPECT_EQ(again.subkeyNames("logfiles"), (std::vector<std::string>{"Shell", "DefaultIcon"}));
    EXPECT_EQ(again.value(".log", "content type"), "text/x-log");
    EXPECT_TRUE(again.hasKey("Empty"));

    EXPECT_TRUE(tree.removeKey("LOGFILES\\shell"));
    EXPECT_FALSE(tree.hasKey("Logfiles\\Shell\\Open"));
    EXPECT_FALSE(tree.removeKey("Logfiles\\Shell"));
    ASSERT_TRUE(tree.createKey("Logfiles\\Shell\\Open"));
    EXPECT_EQ(tree.value("Logfiles\\Shell\\Open\\Command", ""), "") << "gone with its parent";
    EXPECT_EQ(KeyTree::parse(tree.text()).text(), tree.text());
}

TEST_F(KeyStoreTest, AHundredThousandSiblingKeysStillRegisterAtOnce)
{
    // Reading used to search every sibling for each key and parse the file again for every
    // key touched: minutes. It is now linear; the bound is only there to catch a freeze.
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "[k" + std::to_string(i) + "]\n@=\"" + std::to_string(i) + "\"\n";
    home.write("home/.local/share/tlgview/classes.reg", text);
    const auto start = std::chrono::steady_clock::now();
    const KeyTree tree = store.read();
    EXPECT_EQ(tree.value("K99999", ""), "99999");
    const RegistryKey key = store.openKey(".log", true);
    key.writeString("", "Logfiles");
    EXPECT_EQ(store.openKey("k4711", false).readString(), "4711");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST_F(KeyStoreTest, AStoreThatIsNoRegularFileOrTooLargeIsRefusedUnread)
{
    ::mkdir((home.data() + "tlgview").c_str(), 0700);
    ASSERT_EQ(::symlink("/dev/zero", store.file().c_str()), 0);
    EXPECT_THROW(store.read(), Failure);
    EXPECT_FALSE(store.openKey(".log", true).isOpen());
    ::unlink(store.file().c_str());

    std::string huge(kSettingsFileLimit + 1, ';');
    home.write("home/.local/share/tlgview/classes.reg", huge);
    try {
        store.read();
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("larger than 4 MiB"), std::string::npos) << failure.what();
    }
    EXPECT_EQ(readFile(store.file()).size(), huge.size());
}

} // namespace
} // namespace tlg
