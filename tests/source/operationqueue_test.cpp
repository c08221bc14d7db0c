#include "source/operationqueue.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace {

TEST(OperationQueue, RunsInOrderAndTheLastWaitingRequestOfAKindWins)
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
        tlg::OperationQueue queue;
        queue.post("open", [&] {
            started.set_value();
            release.get_future().wait();
            record("first open");
        });
        started.get_future().wait(); // under way: it is never replaced
        queue.post("open", [&] { record("second open"); });
        queue.post("verify", [&] { record("verify"); });
        queue.post("open", [&] { record("third open"); });
        queue.post("", [&] { record("unnamed 1"); });
        queue.post("", [&] { record("unnamed 2"); });
        queue.post("follow", [&] { finished.set_value(); });
        release.set_value();
        finished.get_future().wait();
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"first open", "third open", "verify", "unnamed 1", "unnamed 2"}));
}

TEST(OperationQueue, DroppedRequestsNeverRunAndTheEndWaitsForTheRunningOne)
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
        tlg::OperationQueue queue;
        queue.post("open", [&] {
            started.set_value();
            release.get_future().wait();
        });
        started.get_future().wait();
        queue.post("follow", [&] { dropped = false; });
        queue.dropWaiting();
        queue.post("verify", [&] { marker.set_value(); });
        release.set_value();
        marker.get_future().wait();

        queue.post("open", [&] {
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
