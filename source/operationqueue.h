#pragma once

// The operations of one open log, run in order on a thread of their own. A request made while
// one runs waits its turn; of the requests that wait, the last one of a kind replaces the one
// before it. Plain C++: whoever queues an operation decides how its result gets back.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tlg {

class OperationQueue {
public:
    OperationQueue();
    // Drops what waits, raises stopping() for the operation under way, waits for it to end,
    // and stops the thread.
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Queues `run` under `kind` (an empty kind is never replaced), replacing a waiting
    // operation of the same kind: true then (the one replaced never runs).
    bool post(std::string kind, std::function<void()> run);
    // Drops the operations that wait (not the one under way).
    void dropWaiting();
    // Raised once the queue is ending: a long operation looks at it between steps and gives up,
    // so that the end need not wait for it. Lives as long as the queue, which outlives every
    // operation it runs.
    const std::atomic<bool>& stopping() const { return m_stop; }

private:
    struct Operation {
        std::string kind;
        std::function<void()> run;
    };
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Operation> m_waiting; // guarded by m_mutex
    bool m_stopping = false;         // guarded by m_mutex
    std::atomic<bool> m_stop{false}; // stopping(), read by the operation under way
    std::thread m_thread;
};

} // namespace tlg
