#pragma once

// The program's one background executor: every thread that works beside the GUI thread is
// made here. Work comes in three classes:
// - what the user waits for (the screen in sight, an open, a find) runs on workers of normal
//   priority that take nothing else;
// - what can wait (strips, histograms, time indexes, check passes) runs on workers of their own
//   at a lower priority of the system, so that it never holds up the first class;
// - work that blocks for long (a pipe's read loop, a journal's wait) runs on a thread of its
//   own, which the executor owns and stops, so that it never takes a worker from the others.
//
// The application owns one (made in main(), ended before the application object); code that
// runs without one (tests, benchmarks) gets one made on first use. Plain C++: whoever posts a
// task decides how its result gets back.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tlg {

class DedicatedThread;

class Executor {
public:
    enum class Priority {
        User,       // the user waits for it
        Background, // it can wait
    };

    // `userWorkers` and `backgroundWorkers` (0: chosen from the number of cores). With
    // `share`, it becomes the shared one until it ends, unless there is one already.
    explicit Executor(unsigned userWorkers = 0, unsigned backgroundWorkers = 0, bool share = true);
    // shutdown().
    ~Executor();
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    // The application's executor, or, where there is none, one made on first use that lasts
    // until it is shut down or the process ends.
    static Executor& shared();
    // Shuts the shared executor down, if there is one (none is made for it).
    static void shutdownShared();

    // Runs `task` on a worker of its class, in the order posted. After shutdown() a task is
    // dropped unrun.
    void post(Priority priority, std::function<void()> task);

    // Runs `body(i)` for every i in [0, count), on the calling thread and on up to `helpers`
    // workers beside it, and returns once every call has returned. The caller takes items too,
    // so this never waits for a worker that is busy elsewhere. The first exception thrown is
    // thrown again here once the calls under way have ended; the items not begun are skipped.
    void forEach(std::size_t count, unsigned helpers, Priority priority, const std::function<void(std::size_t)>& body);

    // Runs `body(stop)` on a thread of its own for work that blocks for long. The handle's
    // stop() (or its end) raises `stop`, calls `wake` (which should make a blocking call of the
    // body return, as a write to its wake-up descriptor does) and waits for the body to return;
    // so does the executor's shutdown for every such thread still running. Never end the
    // handle from inside its own body.
    std::unique_ptr<DedicatedThread> startDedicated(std::string name,
                                                    std::function<void(const std::atomic<bool>& stop)> body,
                                                    std::function<void()> wake = {});

    // Drops the tasks that wait, lets the ones under way end, stops every dedicated thread and
    // waits for all of them. Later posts are dropped. Safe to call more than once.
    void shutdown();

    // Workers of each class, for tests and benchmarks.
    unsigned userWorkers() const { return m_userCount; }
    unsigned backgroundWorkers() const { return m_backgroundCount; }

    // Raised for the dedicated threads and the tasks once shutdown() began: long work looks
    // at it between steps.
    const std::atomic<bool>& stopping() const { return m_stopping; }

private:
    friend class DedicatedThread;
    struct Dedicated;

    void work(Priority priority);

    unsigned m_userCount = 0;
    unsigned m_backgroundCount = 0;
    std::mutex m_mutex;
    std::condition_variable m_userWake;
    std::condition_variable m_backgroundWake;
    std::deque<std::function<void()>> m_user;       // guarded by m_mutex
    std::deque<std::function<void()>> m_background; // guarded by m_mutex
    std::vector<std::shared_ptr<Dedicated>> m_dedicated; // guarded by m_mutex
    bool m_ended = false;                           // guarded by m_mutex
    std::atomic<bool> m_stopping{false};
    std::vector<std::thread> m_workers;
};

// A thread of the executor's for blocking work; its end stops it (see startDedicated).
class DedicatedThread {
public:
    ~DedicatedThread();
    DedicatedThread(const DedicatedThread&) = delete;
    DedicatedThread& operator=(const DedicatedThread&) = delete;
    // Raises the body's stop, wakes it and waits for it to return.
    void stop();
    // Whether the body returned (a handle whose body ended can go without waiting).
    bool returned() const;

private:
    friend class Executor;
    explicit DedicatedThread(std::shared_ptr<Executor::Dedicated> dedicated);

    std::shared_ptr<Executor::Dedicated> m_dedicated;
};

} // namespace tlg
