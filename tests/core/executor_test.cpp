// The executor's classes of work never hold each other up, a parallel loop never waits for a
// busy worker, and its end stops what it owns.

#include "core/executor.h"
#include "core/piecerelay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <vector>

using tlg::Executor;

namespace {

// Occupies `count` workers of a class until released.
class Blockers {
public:
    Blockers(Executor& executor, Executor::Priority priority, unsigned count)
    {
        std::vector<std::future<void>> started;
        for (unsigned i = 0; i < count; ++i) {
            auto begun = std::make_shared<std::promise<void>>();
            started.push_back(begun->get_future());
            executor.post(priority, [begun, released = m_released] {
                begun->set_value();
                released.wait();
            });
        }
        for (std::future<void>& one : started)
            one.wait();
    }
    ~Blockers() { m_release.set_value(); }

private:
    std::promise<void> m_release;
    std::shared_future<void> m_released = m_release.get_future().share();
};

bool RunsWithin(Executor& executor, Executor::Priority priority)
{
    auto ran = std::make_shared<std::promise<void>>();
    std::future<void> done = ran->get_future();
    executor.post(priority, [ran] { ran->set_value(); });
    return done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
}

} // namespace

TEST(Executor, EachClassRunsWhileTheOtherIsBusy)
{
    Executor executor(2, 1, false);
    {
        const Blockers background(executor, Executor::Priority::Background, executor.backgroundWorkers());
        EXPECT_TRUE(RunsWithin(executor, Executor::Priority::User));
    }
    {
        const Blockers user(executor, Executor::Priority::User, executor.userWorkers());
        EXPECT_TRUE(RunsWithin(executor, Executor::Priority::Background));
    }
}

TEST(Executor, ForEachTakesEveryItemOnceEvenWithEveryWorkerBusy)
{
    Executor executor(2, 1, false);
    const Blockers busy(executor, Executor::Priority::User, executor.userWorkers());
    std::vector<std::atomic<int>> seen(1000);
    executor.forEach(seen.size(), 4, Executor::Priority::User, [&](std::size_t i) { ++seen[i]; });
    for (const std::atomic<int>& count : seen)
        ASSERT_EQ(count.load(), 1);

    EXPECT_THROW(executor.forEach(50, 2, Executor::Priority::User,
                                  [](std::size_t i) {
                                      if (i == 7)
                                          throw std::runtime_error("item 7");
                                  }),
                 std::runtime_error);
}

TEST(Executor, ShutdownStopsDedicatedThreadsAndDropsLaterWork)
{
    Executor executor(1, 1, false);
    std::atomic<bool> woken{false};
    std::promise<void> begun;
    auto thread = executor.startDedicated(
        "blocked",
        [&](const std::atomic<bool>& stop) {
            begun.set_value();
            while (!stop.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        [&] { woken = true; });
    begun.get_future().wait();
    executor.shutdown(); // returns only once the body has
    EXPECT_TRUE(woken.load());
    thread.reset(); // the handle outliving the stop is harmless

    bool ran = false;
    executor.post(Executor::Priority::User, [&] { ran = true; });
    executor.shutdown();
    EXPECT_FALSE(ran);
}

TEST(PieceRelay, FillsByItselfWhenNoWorkerIsFree)
{
    Executor& shared = Executor::shared();
    const Blockers busy(shared, Executor::Priority::User, shared.userWorkers());
    int filled = 0;
    tlg::PieceRelay relay(4, 2, [&](tlg::PieceRelay::Piece& piece) {
        piece.bytes[0] = static_cast<char>('a' + filled);
        piece.length = 1;
        return ++filled == 5;
    });
    std::string taken;
    while (tlg::PieceRelay::Piece* piece = relay.take(nullptr)) {
        taken.append(piece->bytes.get(), piece->length);
        relay.giveBack(piece);
    }
    EXPECT_EQ(taken, "abcde");
    EXPECT_FALSE(relay.filledBeside());
}
