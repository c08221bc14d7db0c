#pragma once

// The operations of one open log, run in order on the executor: one at a time, each when a
// worker of its class is free. A request made while one runs waits its turn; of the requests
// that wait, the last one of a kind replaces the one before it, and the one replaced is
// answered as dropped. Plain C++: whoever queues an operation decides how its result gets back.

#include "core/executor.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace tlg {

class SerialQueue {
public:
    explicit SerialQueue(Executor& executor = Executor::shared());
    // Drops what waits (answering nothing: its owner is going), raises stopping() for the
    // operation under way and waits for it to end.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues `run` under `kind` (an empty kind is never replaced) in the class `priority`,
    // replacing a waiting operation of the same kind, whose `dropped` runs here before this
    // returns: true then.
    bool post(std::string kind, Executor::Priority priority, std::function<void()> run,
              std::function<void()> dropped = {});
    // Drops the operations that wait (not the one under way); each one's `dropped` runs here.
    void dropWaiting();
    // Raised once the queue is ending (or the executor is): a long operation looks at it
    // between steps and gives up, so that the end need not wait for it. Lives as long as the
    // queue, which outlives every operation it runs.
    const std::atomic<bool>& stopping() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace tlg
