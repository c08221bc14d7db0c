#include "core/serialqueue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace tlg {

struct SerialQueue::State {
    struct Operation {
        std::string kind;
        Executor::Priority priority = Executor::Priority::User;
        std::function<void()> run;
        std::function<void()> dropped;
    };

    Executor* executor = nullptr;
    std::mutex mutex;
    std::condition_variable ended;
    std::deque<Operation> waiting; // guarded by mutex, as are the three below
    bool scheduled = false;        // a task of the executor will take the next operation
    bool running = false;          // an operation runs
    bool closed = false;           // the queue is ending
    std::atomic<bool> stop{false};

    // Under the lock: hands the next operation to the executor, unless one is handed already.
    static void schedule(const std::shared_ptr<State>& state)
    {
        if (state->scheduled || state->running || state->closed || state->waiting.empty())
            return;
        state->scheduled = true;
        state->executor->post(state->waiting.front().priority, [state] { runNext(state); });
    }

    static void runNext(const std::shared_ptr<State>& state)
    {
        Operation next;
        {
            const std::lock_guard lock(state->mutex);
            state->scheduled = false;
            if (state->closed || state->waiting.empty())
                return;
            next = std::move(state->waiting.front());
            state->waiting.pop_front();
            state->running = true;
        }
        try {
            next.run();
        } catch (...) {
            // An operation reports its own failures.
        }
        next = {};
        {
            const std::lock_guard lock(state->mutex);
            state->running = false;
            schedule(state);
        }
        state->ended.notify_all();
    }
};

SerialQueue::SerialQueue(Executor& executor) : m_state(std::make_shared<State>())
{
    m_state->executor = &executor;
}

SerialQueue::~SerialQueue()
{
    std::deque<State::Operation> dropped;
    std::unique_lock lock(m_state->mutex);
    m_state->closed = true;
    m_state->stop = true;
    dropped.swap(m_state->waiting);
    m_state->ended.wait(lock, [this] { return !m_state->running; });
}

bool SerialQueue::post(std::string kind, Executor::Priority priority, std::function<void()> run,
                       std::function<void()> dropped)
{
    std::function<void()> replacedDropped;
    bool replaced = false;
    {
        const std::lock_guard lock(m_state->mutex);
        auto same = kind.empty() ? m_state->waiting.end()
                                 : std::find_if(m_state->waiting.begin(), m_state->waiting.end(),
                                                [&](const State::Operation& op) { return op.kind == kind; });
        replaced = same != m_state->waiting.end();
        if (replaced) {
            replacedDropped = std::move(same->dropped);
            same->run = std::move(run);
            same->dropped = std::move(dropped);
            same->priority = priority;
        } else {
            m_state->waiting.push_back({std::move(kind), priority, std::move(run), std::move(dropped)});
        }
        State::schedule(m_state);
    }
    if (replacedDropped)
        replacedDropped();
    return replaced;
}

void SerialQueue::dropWaiting()
{
    std::deque<State::Operation> dropped;
    {
        const std::lock_guard lock(m_state->mutex);
        dropped.swap(m_state->waiting);
    }
    for (State::Operation& op : dropped)
        if (op.dropped)
            op.dropped();
}

const std::atomic<bool>& SerialQueue::stopping() const
{
    return m_state->stop;
}

} // namespace tlg
