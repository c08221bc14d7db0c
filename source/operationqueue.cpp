#include "source/operationqueue.h"

#include <algorithm>

namespace tlg {

OperationQueue::OperationQueue() : m_thread([this] { work(); }) {}

OperationQueue::~OperationQueue()
{
    m_stop.store(true, std::memory_order_relaxed);
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_waiting.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

bool OperationQueue::post(std::string kind, std::function<void()> run)
{
    bool replaced = false;
    {
        const std::lock_guard lock(m_mutex);
        auto same = kind.empty() ? m_waiting.end()
                                 : std::find_if(m_waiting.begin(), m_waiting.end(),
                                                [&](const Operation& op) { return op.kind == kind; });
        replaced = same != m_waiting.end();
        if (replaced)
            same->run = std::move(run);
        else
            m_waiting.push_back({std::move(kind), std::move(run)});
    }
    m_wake.notify_one();
    return replaced;
}

void OperationQueue::dropWaiting()
{
    const std::lock_guard lock(m_mutex);
    m_waiting.clear();
}

void OperationQueue::work()
{
    for (;;) {
        Operation next;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
            if (m_stopping)
                return;
            next = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        next.run();
    }
}

} // namespace tlg
