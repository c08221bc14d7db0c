#include "core/errors.h"
#include "document/textload.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {
namespace {

using testing::TempDir;

std::string failureOf(const std::string& path)
{
    try {
        LoadPlainText(path);
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "no failure";
}

TEST(TextLoadTest, KeepsEveryByteExactly)
{
    TempDir dir;
    std::string bytes = "first\r\nsecond\nthird\rfourth";
    bytes += std::string("\0\x01\x81\xFF\xA4 end", 10);
    const DocumentPtr doc = LoadPlainText(dir.write("mixed.log", bytes));
    EXPECT_EQ(doc->copyText(), bytes);
    EXPECT_EQ(doc->lineCount(), 4);

    EXPECT_EQ(LoadPlainText(dir.write("empty.log", ""))->size(), 0);

    const std::string longLine(50 * 1024 * 1024, 'x');
    const DocumentPtr big = LoadPlainText(dir.write("long.log", longLine));
    EXPECT_EQ(big->size(), static_cast<ByteOffset>(longLine.size()));
    EXPECT_EQ(big->lineCount(), 1);
    EXPECT_EQ(big->longestLine(), static_cast<std::int64_t>(longLine.size()));
}

TEST(TextLoadTest, RefusesWhatIsNotAReadableFile)
{
    TempDir dir;
    // With the system's reason.
    EXPECT_EQ(failureOf(dir.path("missing.log")), "Cannot open file " + dir.path("missing.log") + ": No such file or directory");
    EXPECT_EQ(failureOf(dir.folder() + "."), "Cannot open file " + dir.folder() + ".: it is a folder");

    // A FIFO without a writer must not hang the load.
    const std::string fifo = dir.path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(failureOf(fifo), "Cannot open file " + fifo + ": it is not a regular file");

    if (::geteuid() != 0) {
        const std::string secret = dir.write("secret.log", "x");
        ::chmod(secret.c_str(), 0);
        EXPECT_EQ(failureOf(secret), "Cannot open file " + secret + ": Permission denied");
    }
}

TEST(TextLoadTest, FailsWhileAnotherProgramHoldsAWriteLock)
{
    TempDir dir;
    const std::string path = dir.write("held.log", "text\n");
    const std::string locked = "File is locked by another program: " + path;

    // An flock exclusive lock on another open file.
    int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(failureOf(path), locked);
    ::flock(fd, LOCK_UN);
    EXPECT_EQ(LoadPlainText(path)->copyText(), "text\n");

    // A shared lock does not stop readers.
    ASSERT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
    EXPECT_EQ(LoadPlainText(path)->copyText(), "text\n");
    ::flock(fd, LOCK_UN);

    // An fcntl write lock on part of the file.
    struct flock record {};
    record.l_type = F_WRLCK;
    record.l_whence = SEEK_SET;
    record.l_start = 2;
    record.l_len = 1;
    ASSERT_EQ(::fcntl(fd, F_SETLK, &record), 0);
    EXPECT_EQ(failureOf(path), locked);
    ::close(fd); // closing drops the lock
    EXPECT_EQ(LoadPlainText(path)->copyText(), "text\n");
}

} // namespace
} // namespace tlg
