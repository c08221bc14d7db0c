#include "core/fileops.h"
#include "support/localtime.h"

#include "core/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <optional>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tlg {
namespace {

// A fresh folder per test, removed with everything in it afterwards.
class FileOpsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/tlgcore-test-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr) << std::strerror(errno);
        dir_ = std::string(templ) + "/";
    }

    void TearDown() override
    {
        if (!dir_.empty()) {
            ::nftw(
                dir_.c_str(),
                [](const char* p, const struct stat*, int, FTW*) { return ::remove(p); }, 16,
                FTW_DEPTH | FTW_PHYS);
        }
    }

    std::string path(const std::string& name) const { return dir_ + name; }

    static void writeFile(const std::string& p, const std::string& bytes)
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good()) << p;
    }

    static std::string readFile(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static std::vector<std::string> list(const std::string& folder)
    {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(folder.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_;
};

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
        ::tzset();
    }
    ~ScopedEnv()
    {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
        ::tzset();
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Another process that holds an fcntl record lock on a file for as long as this object lives.
class LockingChild {
public:
    LockingChild(const std::string& path, short type)
    {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            char ok = 0;
            const int fd = ::open(path.c_str(), type == F_WRLCK ? O_RDWR : O_RDONLY);
            struct flock fl {};
            fl.l_type = type;
            fl.l_whence = SEEK_SET;
            if (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) {
                ok = 1;
            }
            (void)!::write(ready[1], &ok, 1);
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char ok = 0;
        if (pid_ > 0 && ::read(ready[0], &ok, 1) == 1) {
            locked_ = ok == 1;
        }
        ::close(ready[0]);
    }
    ~LockingChild()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    bool locked_ = false;
};

TEST(PackDosDateTime, PacksAndClampsToTheDosRange)
{
    struct Row {
        const char* probe;
        std::tm local;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {"leap day, odd second halves down", testing::localTime(2024, 2, 29, 13, 45, 31), 0x585D6DAF},
        {"first DOS moment", testing::localTime(1980, 1, 1, 0, 0, 0), 0x00210000},
        {"before 1980 clamps to the start", testing::localTime(1979, 12, 31, 23, 59, 59), 0x00210000},
        {"last positive year", testing::localTime(2043, 12, 31, 23, 59, 59), 0x7F9FBF7D},
        {"2044 sets the sign bit", testing::localTime(2044, 1, 1, 0, 0, 0), 0x80210000},
        {"late year wraps negative", testing::localTime(2100, 12, 31, 23, 59, 59), 0xF19FBF7D},
        {"last DOS moment", testing::localTime(2107, 12, 31, 23, 59, 58), 0xFF9FBF7D},
        {"after 2107 clamps to the end", testing::localTime(2108, 1, 1, 0, 0, 0), 0xFF9FBF7D},
        {"leap second", testing::localTime(2016, 12, 31, 23, 59, 60), 0x499FBF7E},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(PackDosDateTime(r.local), static_cast<std::int32_t>(r.expected)) << r.probe;
    }
}

TEST_F(FileOpsTest, AgeStampUsesLocalTimeOfTheLastWrite)
{
    const std::string file = path("stamp.log");
    writeFile(file, "x");
    const std::time_t when = 1700000007; // 2023-11-14 22:13:27 UTC
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);

    std::tm local{};
    ASSERT_NE(::localtime_r(&when, &local), nullptr);
    EXPECT_EQ(AgeStamp(file), PackDosDateTime(local));
    {
        // Three hours east of UTC the same moment is already the next day.
        ScopedEnv tz("TZ", "XST-3");
        EXPECT_EQ(AgeStamp(file), static_cast<std::int32_t>(0x576F09ADu));
    }
    {
        ScopedEnv tz("TZ", "UTC0");
        EXPECT_EQ(AgeStamp(file), static_cast<std::int32_t>(0x576EB1ADu));
    }

    EXPECT_EQ(AgeStamp(dir_), -1);
    EXPECT_EQ(AgeStamp(path("missing.log")), -1);
}

TEST_F(FileOpsTest, FileSizeOfIsSixtyFourBit)
{
    const std::string file = path("big.log");
    const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const off_t fiveGiB = off_t{5} << 30;
    const int truncated = ::ftruncate(fd, fiveGiB);
    ::close(fd);
    if (truncated != 0) {
        GTEST_SKIP() << "this file system cannot hold a sparse 5 GiB file";
    }
    EXPECT_EQ(FileSizeOf(file), std::int64_t{5} << 30);

    writeFile(path("small.log"), "12345");
    EXPECT_EQ(FileSizeOf(path("small.log")), 5);
    writeFile(path("empty.log"), "");
    EXPECT_EQ(FileSizeOf(path("empty.log")), 0);
    EXPECT_EQ(FileSizeOf(dir_), 0);
    EXPECT_EQ(FileSizeOf(path("missing.log")), -1);
}

TEST_F(FileOpsTest, IsFileLockedSeesUnreadableFilesAndFcntlWriteLocks)
{
    const std::string file = path("app.log");
    writeFile(file, "content");
    EXPECT_TRUE(IsFileLocked(path("missing.log")));
    EXPECT_TRUE(IsFileLocked(dir_));
    EXPECT_FALSE(IsFileLocked(file));

    // A FIFO without a writer must neither hang the probe nor count as locked.
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(IsFileLocked(path("pipe")));

    {
        LockingChild child(file, F_WRLCK);
        ASSERT_TRUE(child.locked());
        EXPECT_TRUE(IsFileLocked(file));
    }
    EXPECT_FALSE(IsFileLocked(file)) << "the lock ended with the child";
    {
        LockingChild child(file, F_RDLCK);
        ASSERT_TRUE(child.locked());
        EXPECT_FALSE(IsFileLocked(file)) << "readers do not keep us out";
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(LockHeldOnFile(fd, false));
        EXPECT_FALSE(LockHeldOnFile(fd, true));
        ::close(fd);
    }

    // A classic lock of this very process counts too, although F_GETLK would hide it.
    const int holder = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(holder, F_SETLK, &fl), 0);
    EXPECT_TRUE(IsFileLocked(file));
    fl.l_type = F_UNLCK;
    ASSERT_EQ(::fcntl(holder, F_SETLK, &fl), 0);
    ::close(holder);
}

TEST_F(FileOpsTest, IsFileLockedSeesFlockExclusiveLocks)
{
    const std::string file = path("app.log");
    const std::string other = path("other.log");
    writeFile(file, "content");
    writeFile(other, "content");

    const int holder = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(IsFileLocked(file));
    EXPECT_FALSE(IsFileLocked(other)) << "a lock on another inode must not match";

    ASSERT_EQ(::flock(holder, LOCK_SH | LOCK_NB), 0); // downgrade
    EXPECT_FALSE(IsFileLocked(file));
    const int probe = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    EXPECT_TRUE(LockHeldOnFile(probe, false));
    EXPECT_FALSE(LockHeldOnFile(probe, true));
    ::close(probe);

    ASSERT_EQ(::flock(holder, LOCK_UN), 0);
    EXPECT_FALSE(IsFileLocked(file));
    ::close(holder);
}

TEST_F(FileOpsTest, FlockWaitersHoldNothing)
{
    const std::string file = path("app.log");
    writeFile(file, "content");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    const int holder = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(file.c_str(), O_RDONLY);
        ::flock(fd, LOCK_EX); // blocks behind the shared lock
        ::_exit(0);
    }

    // The kernel lists the blocked request as "N: -> FLOCK ... WRITE" once it waits.
    const std::string inodeField = ":" + std::to_string(st.st_ino) + " ";
    bool waiting = false;
    for (int tries = 0; tries < 2000 && !waiting; ++tries) {
        std::ifstream locks("/proc/locks");
        for (std::string line; std::getline(locks, line);) {
            if (line.find("-> FLOCK") != std::string::npos &&
                line.find(inodeField) != std::string::npos) {
                waiting = true;
            }
        }
        if (!waiting) {
            ::usleep(5000);
        }
    }
    if (waiting) {
        EXPECT_FALSE(IsFileLocked(file)) << "a waiting exclusive request holds nothing";
        const int probe = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_TRUE(LockHeldOnFile(probe, false)) << "the shared holder still counts";
        ::close(probe);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(holder);
    if (!waiting) {
        GTEST_SKIP() << "/proc/locks does not list flock waiters here";
    }
}

TEST_F(FileOpsTest, ProbingTakesNoLock)
{
    const std::string file = path("app.log");
    writeFile(file, "content");

    // Keep the probed descriptor open, so any lock it took would still be in force.
    const int probed = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(probed, 0);
    EXPECT_FALSE(LockHeldOnFile(probed, false));
    EXPECT_FALSE(LockHeldOnFile(probed, true));
    EXPECT_FALSE(IsFileLocked(file));

    // Another open file description conflicts with both flock locks and record locks
    // (classic or per-description) that the probe could have left behind.
    const int other = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    EXPECT_EQ(::fcntl(other, F_OFD_SETLK, &fl), 0);
    EXPECT_EQ(std::string(readFile(file)), "content");
    ::close(other);
    ::close(probed);
}

TEST_F(FileOpsTest, UnreadableFileCountsAsLocked)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    const std::string file = path("secret.log");
    writeFile(file, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    EXPECT_TRUE(IsFileLocked(file));
    EXPECT_THROW(ReadWholeFile(file), Failure);
}

TEST_F(FileOpsTest, FindSettingsFileIgnoresCaseButPrefersTheExactName)
{
    const std::string name = "TlgFormat.ini";
    EXPECT_EQ(FindSettingsFile(dir_, name), dir_ + name) << "nothing there yet";

    // The all-capital name sorts first of all variants, so it is the one made a folder.
    ASSERT_EQ(::mkdir(path("TLGFORMAT.INI").c_str(), 0755), 0);
    writeFile(path("TlgFormat.ini.bak"), "");
    writeFile(path("Tlgformat.in"), "");
    writeFile(path("TLGFORM\xC1T.INI"), ""); // only a to z fold
    EXPECT_EQ(FindSettingsFile(dir_, name), dir_ + name) << "folders and near names do not count";

    writeFile(path("tlgFORMAT.INI"), "");
    EXPECT_EQ(FindSettingsFile(dir_, name), path("tlgFORMAT.INI"));
    // readdir's order is arbitrary, so several variants make an order-bound pick show.
    for (const char* variant : {"tlgformat.ini", "TLGFORMAT.INi", "tLGfORMAT.iNI",
                                "TlGfOrMaT.InI", "tlgformat.INI", "TLGFORMAT.ini"}) {
        writeFile(path(variant), "");
    }
    EXPECT_EQ(FindSettingsFile(dir_, name), path("TLGFORMAT.INi")) << "smallest of several";
    writeFile(path(name), "");
    EXPECT_EQ(FindSettingsFile(dir_, name), path(name));

    EXPECT_EQ(FindSettingsFile(path("missing/"), name), path("missing/") + name);
}

TEST_F(FileOpsTest, ReadWholeFileReadsAllBytesOrThrows)
{
    std::string bytes(300000, '\0');
    std::mt19937 rng(7);
    for (char& c : bytes) {
        c = static_cast<char>(rng());
    }
    writeFile(path("data.bin"), bytes);
    EXPECT_EQ(ReadWholeFile(path("data.bin")), bytes);
    writeFile(path("empty.log"), "");
    EXPECT_EQ(ReadWholeFile(path("empty.log")), "");

    for (const std::string& bad : {path("missing.log"), dir_}) {
        try {
            ReadWholeFile(bad);
            ADD_FAILURE() << bad << " must not be readable";
        } catch (const Failure& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + bad);
        }
    }
}

TEST_F(FileOpsTest, WriteFileAtomicallyReplacesByRename)
{
    const std::string file = path("settings.ini");
    writeFile(file, "a long old content that must not survive in part");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);

    WriteFileAtomically(file, std::string("new\0bytes", 9));
    EXPECT_EQ(readFile(file), std::string("new\0bytes", 9));
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u) << "an existing file keeps its mode";
    EXPECT_NE(after.st_ino, before.st_ino) << "a new file is renamed in, never rewritten in place";

    WriteFileAtomically(file, "");
    EXPECT_EQ(readFile(file), "");

    const mode_t oldMask = ::umask(027);
    WriteFileAtomically(path("fresh.ini"), "fresh");
    ::umask(oldMask);
    EXPECT_EQ(readFile(path("fresh.ini")), "fresh");
    struct stat fresh {};
    ASSERT_EQ(::stat(path("fresh.ini").c_str(), &fresh), 0);
    EXPECT_EQ(fresh.st_mode & 07777, 0640u) << "a new file gets 0666 less the umask";

    EXPECT_EQ(list(dir_), (std::vector<std::string>{"fresh.ini", "settings.ini"}))
        << "no temporary file may be left behind";
}

TEST_F(FileOpsTest, WriteFileAtomicallyWritesThroughSymbolicLinks)
{
    ASSERT_EQ(::mkdir(path("real").c_str(), 0755), 0);
    writeFile(path("real/target.ini"), "old");
    ASSERT_EQ(::symlink("real/target.ini", path("relative.ini").c_str()), 0);
    ASSERT_EQ(::symlink(path("real/target.ini").c_str(), path("absolute.ini").c_str()), 0);
    ASSERT_EQ(::symlink("real/later.ini", path("dangling.ini").c_str()), 0);

    WriteFileAtomically(path("relative.ini"), "via relative");
    EXPECT_EQ(readFile(path("real/target.ini")), "via relative");
    WriteFileAtomically(path("absolute.ini"), "via absolute");
    EXPECT_EQ(readFile(path("real/target.ini")), "via absolute");
    WriteFileAtomically(path("dangling.ini"), "created");
    EXPECT_EQ(readFile(path("real/later.ini")), "created");

    for (const char* link : {"relative.ini", "absolute.ini", "dangling.ini"}) {
        struct stat st {};
        ASSERT_EQ(::lstat(path(link).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link << " must stay a link";
    }
    EXPECT_EQ(list(dir_), (std::vector<std::string>{"absolute.ini", "dangling.ini", "real",
                                                    "relative.ini"}));
    EXPECT_EQ(list(path("real")), (std::vector<std::string>{"later.ini", "target.ini"}));
}

TEST_F(FileOpsTest, WriteFileAtomicallyFailsCleanly)
{
    ASSERT_EQ(::mkdir(path("folder").c_str(), 0755), 0);
    writeFile(path("folder/inside.txt"), "keep");
    ASSERT_EQ(::symlink("folder", path("folderlink").c_str()), 0);

    const std::string bad[] = {
        path("folder"),
        path("folder/"),
        path("folderlink"),
        path("missing/settings.ini"),
    };
    for (const std::string& p : bad) {
        try {
            WriteFileAtomically(p, "bytes");
            ADD_FAILURE() << p << " must not be writable";
        } catch (const Failure& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + p);
        }
    }

    struct stat st {};
    ASSERT_EQ(::lstat(path("folder").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(list(path("folder")), std::vector<std::string>{"inside.txt"});
    EXPECT_EQ(readFile(path("folder/inside.txt")), "keep");
    EXPECT_EQ(list(dir_), (std::vector<std::string>{"folder", "folderlink"}));
}

TEST(ExeFolder, HomeVariableOverridesTheExecutableFolder)
{
    {
        ScopedEnv home("TLGVIEW_HOME", "/opt/tlg");
        EXPECT_EQ(ExeFolder(), "/opt/tlg/");
    }
    {
        ScopedEnv home("TLGVIEW_HOME", "/opt/tlg/");
        EXPECT_EQ(ExeFolder(), "/opt/tlg/");
    }
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnv home("TLGVIEW_HOME", unset);
        const std::string folder = ExeFolder();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder.back(), '/');
        char* exe = ::realpath("/proc/self/exe", nullptr);
        ASSERT_NE(exe, nullptr);
        const std::string exePath(exe);
        std::free(exe);
        EXPECT_EQ(exePath.rfind(folder, 0), 0u) << exePath << " should be inside " << folder;
        EXPECT_EQ(exePath.find('/', folder.size()), std::string::npos);
    }
}

} // namespace
} // namespace tlg
