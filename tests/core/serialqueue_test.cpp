#include "core/serialqueue.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr auto User = tlg::Executor::Priority::User;

TEST(SerialQueue, RunsInOrderAndTheLastWaitingRequestOfAKindWins)
{
    std::mutex guard;
    std::vector<std::string> ran;
    auto record = [&](std::string name) {
        const std::lock_guard lock(guard);
        ran.push_back(std::move(name));
    };
    std::promise<void> release;
    std::promise<void> started;
    std::promise<void> finished;
    {
        tlg::SerialQueue queue;
        queue.post("open", User, [&] {
            started.set_value();
            release.get_future().wait();
            record("first open");
        });
        started.get_future().wait(); // under way: it is never replaced
        queue.post("open", User, [&] { record("second open"); }, [&] { record("second open superseded"); });
        queue.post("verify", User, [&] { record("verify"); });
        queue.post("open", User, [&] { record("third open"); });
        queue.post("", User, [&] { record("unnamed 1"); });
        queue.post("", User, [&] { record("unnamed 2"); });
        queue.post("follow", User, [&] { finished.set_value(); });
        release.set_value();
        finished.get_future().wait();
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"second open superseded", "first open", "third open", "verify", "unnamed 1", "unnamed 2"}));
}

TEST(SerialQueue, DroppedRequestsNeverRunAndTheEndWaitsForTheRunningOne)
{
    std::promise<void> release;
    std::promise<void> started;
    std::promise<void> marker;
    std::promise<void> secondStarted;
    std::promise<void> go;
    std::shared_future<void> going = go.get_future().share();
    bool dropped = true;
    bool finished = false;
    {
        tlg::SerialQueue queue;
        queue.post("open", User, [&] {
            started.set_value();
            release.get_future().wait();
        });
        started.get_future().wait();
        bool answered = false;
        queue.post("follow", User, [&] { dropped = false; }, [&] { answered = true; });
        queue.dropWaiting();
        EXPECT_TRUE(answered);
        queue.post("verify", User, [&] { marker.set_value(); });
        release.set_value();
        marker.get_future().wait();

        queue.post("open", User, [&] {
            secondStarted.set_value();
            going.wait();
            finished = true;
        });
        secondStarted.get_future().wait();
        go.set_value();
    } // the queue ends here, once the read under way is over
    EXPECT_TRUE(dropped);
    EXPECT_TRUE(finished);
}

} // namespace
