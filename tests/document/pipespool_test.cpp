#include "document/pipespool.h"

#include "support/pipefeed.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

using tlg::FileHandle;
using tlg::PipeSpool;
using tlg::testing::NumberedBurst;
using tlg::testing::PipeFeed;
using tlg::testing::TempDir;
using tlg::testing::WaitUntil;

// What the spool's file holds now, read through a reader of its own.
std::string kept(const PipeSpool& spool)
{
    const FileHandle reader = spool.reader();
    std::string out(static_cast<std::size_t>(spool.bytes()), '\0');
    const ssize_t got = ::pread(reader.fd(), out.data(), out.size(), 0);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
}

// Steps of a few bytes, which cross every line, and the steps the viewer takes.
class PipeSpoolTest : public ::testing::TestWithParam<bool> {
protected:
    PipeSpool::Options options()
    {
        PipeSpool::Options options;
        options.folder = m_folder.folder();
        if (GetParam())
            options.chunk = 7;
        options.noticeGapMs = 20;
        return options;
    }
    TempDir m_folder;
};

TEST_P(PipeSpoolTest, KeepsEveryByteOfEachBurstAndTellsOfThemAndOfTheEnd)
{
    PipeFeed feed;
    std::atomic<int> notices{0};
    PipeSpool spool(feed.takeReadEnd(), [&notices] { ++notices; }, options());
    std::string all;
    for (int burst = 0; burst < 3; ++burst) {
        const std::string bytes = NumberedBurst(burst * 500, 500);
        all += bytes;
        const int before = notices.load();
        ASSERT_TRUE(feed.write(bytes));
        // Every byte is kept, and told of even though nothing follows the burst for a while.
        ASSERT_TRUE(WaitUntil([&] { return spool.bytes() == static_cast<std::int64_t>(all.size()); }));
        ASSERT_TRUE(WaitUntil([&] { return notices.load() > before; }));
        EXPECT_EQ(spool.state(), PipeSpool::State::Open);
    }
    EXPECT_EQ(kept(spool), all);
    const int beforeEnd = notices.load();
    feed.close();
    ASSERT_TRUE(WaitUntil([&] { return spool.state() == PipeSpool::State::Closed; }));
    ASSERT_TRUE(WaitUntil([&] { return notices.load() > beforeEnd; }));
    EXPECT_EQ(kept(spool), all);
    EXPECT_EQ(spool.failure(), "");
}

TEST_P(PipeSpoolTest, AFileOnStandardInputIsCopiedWhole)
{
    // `tlgview - < app.log`: no pipe at all.
    const std::string bytes = NumberedBurst(0, 3000);
    const std::string path = m_folder.write("app.log", bytes);
    PipeSpool spool(FileHandle(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), [] {}, options());
    ASSERT_TRUE(WaitUntil([&] { return spool.state() != PipeSpool::State::Open; }));
    EXPECT_EQ(spool.state(), PipeSpool::State::Closed);
    EXPECT_EQ(kept(spool), bytes);
}

INSTANTIATE_TEST_SUITE_P(Ways, PipeSpoolTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "TinySteps" : "WholeSteps"; });

TEST(PipeSpool, StopsOnAFullDiskKeepingWhatFitAndLettingTheWriterGo)
{
    TempDir folder;
    PipeSpool::Options options;
    options.folder = folder.folder();
    options.chunk = 1000;
    constexpr off_t room = 5000; // the disk takes this much, then no more
    options.write = [](int fd, const void* bytes, std::size_t length, off_t at) -> ssize_t {
        if (at >= room) {
            errno = ENOSPC;
            return -1;
        }
        return ::pwrite(fd, bytes, std::min<std::size_t>(length, static_cast<std::size_t>(room - at)), at);
    };
    PipeFeed feed;
    std::atomic<int> notices{0};
    PipeSpool spool(feed.takeReadEnd(), [&notices] { ++notices; }, options);
    const std::string bytes = NumberedBurst(0, 1000);
    ASSERT_GT(bytes.size(), 3u * room);
    feed.write(bytes);
    ASSERT_TRUE(WaitUntil([&] { return spool.state() != PipeSpool::State::Open; }));
    EXPECT_EQ(spool.state(), PipeSpool::State::Failed);
    EXPECT_NE(spool.failure().find("disk is full"), std::string::npos) << spool.failure();
    EXPECT_EQ(kept(spool), bytes.substr(0, room));
    // Nobody reads any more: the writer hears so instead of waiting for ever.
    ASSERT_TRUE(WaitUntil([&] { return !feed.write(std::string(1u << 16, 'x')); }));
    EXPECT_GE(notices.load(), 1);
}

TEST(PipeSpool, NoStandardInputIsAPipeAlreadyClosed)
{
    TempDir folder;
    std::atomic<int> notices{0};
    PipeSpool spool(FileHandle(), [&notices] { ++notices; }, {folder.folder()});
    ASSERT_TRUE(WaitUntil([&] { return notices.load() == 1; }));
    EXPECT_EQ(spool.state(), PipeSpool::State::Closed);
    EXPECT_EQ(spool.bytes(), 0);
}

TEST(PipeSpool, StopEndsTheCopyWhileTheWriterWaitsAndTellsNoMore)
{
    TempDir folder;
    PipeFeed feed;
    std::atomic<int> notices{0};
    PipeSpool spool(feed.takeReadEnd(), [&notices] { ++notices; }, {folder.folder()});
    ASSERT_TRUE(feed.write("one line\n"));
    ASSERT_TRUE(WaitUntil([&] { return notices.load() == 1; }));
    spool.stop();
    const int told = notices.load();
    EXPECT_FALSE(feed.write("after the reader went\n"));
    EXPECT_EQ(notices.load(), told);
    EXPECT_EQ(kept(spool), "one line\n");
}

TEST(PipeSpool, AFolderThatCannotHoldTheFileIsSaid)
{
    PipeFeed feed;
    try {
        PipeSpool spool(feed.takeReadEnd(), [] {}, {"/nonexistent/tlgview-cache/"});
        FAIL() << "the spool was made";
    } catch (const tlg::Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("Cannot keep standard input in /nonexistent/tlgview-cache/"),
                  std::string::npos)
            << failure.what();
    }
}

} // namespace
