#include "core/executor.h"

#include "core/fileops.h"

#include <pthread.h>

#include <algorithm>
#include <exception>

namespace tlg {

namespace {

// The system's priority of the workers for what can wait: they yield to the user's work and
// to the GUI, but still get a share of a busy machine.
constexpr int kBackgroundNice = 10;

std::atomic<Executor*> g_shared{nullptr};

void NameThisThread(const std::string& name)
{
    // The system keeps 15 characters of a thread's name.
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

} // namespace

struct Executor::Dedicated {
    std::atomic<bool> stop{false};
    std::function<void()> wake;
    std::mutex joining; // one of the handle and the executor joins
    std::thread thread; // guarded by joining once started
    std::atomic<bool> returned{false};

    void stopAndJoin()
    {
        stop.store(true);
        if (wake)
            wake();
        const std::lock_guard lock(joining);
        if (thread.joinable())
            thread.join();
    }
};

Executor::Executor(unsigned userWorkers, unsigned backgroundWorkers, bool share)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    // One user worker more than the cores: an open's reading runs beside its indexing, and a
    // find beside both.
    m_userCount = userWorkers > 0 ? userWorkers : std::max(2u, cores) + 1;
    m_backgroundCount = backgroundWorkers > 0 ? backgroundWorkers : std::max(1u, cores);
    for (unsigned i = 0; i < m_userCount; ++i)
        m_workers.emplace_back([this] {
            NameThisThread("tlg-user");
            work(Priority::User);
        });
    for (unsigned i = 0; i < m_backgroundCount; ++i)
        m_workers.emplace_back([this] {
            NameThisThread("tlg-background");
            LowerThisThread(kBackgroundNice);
            work(Priority::Background);
        });
    Executor* none = nullptr;
    if (share)
        g_shared.compare_exchange_strong(none, this);
}

Executor::~Executor()
{
    shutdown();
    Executor* self = this;
    g_shared.compare_exchange_strong(self, nullptr);
}

Executor& Executor::shared()
{
    if (Executor* installed = g_shared.load(std::memory_order_acquire))
        return *installed;
    // Made once, for code that runs without an application (tests, benchmarks); it becomes the
    // shared one when none is.
    static Executor fallback;
    Executor* installed = g_shared.load(std::memory_order_acquire);
    return installed ? *installed : fallback;
}

void Executor::shutdownShared()
{
    if (Executor* installed = g_shared.load(std::memory_order_acquire))
        installed->shutdown();
}

void Executor::post(Priority priority, std::function<void()> task)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_ended)
            return;
        (priority == Priority::User ? m_user : m_background).push_back(std::move(task));
    }
    (priority == Priority::User ? m_userWake : m_backgroundWake).notify_one();
}

void Executor::work(Priority priority)
{
    std::deque<std::function<void()>>& queue = priority == Priority::User ? m_user : m_background;
    std::condition_variable& wake = priority == Priority::User ? m_userWake : m_backgroundWake;
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            wake.wait(lock, [&] { return m_ended || !queue.empty(); });
            if (m_ended)
                return;
            task = std::move(queue.front());
            queue.pop_front();
        }
        try {
            task();
        } catch (...) {
            // A task reports its own failures; one that throws ends alone, not its worker.
        }
    }
}

void Executor::forEach(std::size_t count, unsigned helpers, Priority priority,
                       const std::function<void(std::size_t)>& body)
{
    struct Shared {
        std::atomic<std::size_t> next{0};
        std::mutex mutex;
        std::condition_variable idle;
        bool closed = false; // guarded by mutex: the caller no longer waits for helpers to join
        int active = 0;      // guarded by mutex: helpers taking items
        std::exception_ptr failure; // guarded by mutex
        std::atomic<bool> failed{false};
    };
    auto shared = std::make_shared<Shared>();
    const std::function<void(std::size_t)>* work = &body;
    const auto takeItems = [shared, count, work] {
        while (!shared->failed.load(std::memory_order_relaxed)) {
            const std::size_t item = shared->next.fetch_add(1);
            if (item >= count)
                return;
            try {
                (*work)(item);
            } catch (...) {
                const std::lock_guard lock(shared->mutex);
                if (!shared->failure)
                    shared->failure = std::current_exception();
                shared->failed = true;
            }
        }
    };
    const unsigned wanted = static_cast<unsigned>(std::min<std::size_t>(helpers, count > 0 ? count - 1 : 0));
    for (unsigned i = 0; i < wanted; ++i) {
        post(priority, [shared, takeItems] {
            {
                const std::lock_guard lock(shared->mutex);
                if (shared->closed)
                    return; // the caller took every item: `body` may be gone
                ++shared->active;
            }
            takeItems();
            {
                const std::lock_guard lock(shared->mutex);
                --shared->active;
            }
            shared->idle.notify_all();
        });
    }
    takeItems();
    std::unique_lock lock(shared->mutex);
    shared->closed = true;
    shared->idle.wait(lock, [&] { return shared->active == 0; });
    if (shared->failure)
        std::rethrow_exception(shared->failure);
}

std::unique_ptr<DedicatedThread> Executor::startDedicated(std::string name,
                                                          std::function<void(const std::atomic<bool>& stop)> body,
                                                          std::function<void()> wake)
{
    auto dedicated = std::make_shared<Dedicated>();
    dedicated->wake = std::move(wake);
    {
        const std::lock_guard lock(m_mutex);
        // Those whose body returned are let go of here.
        std::erase_if(m_dedicated, [](const std::shared_ptr<Dedicated>& old) {
            if (!old->returned.load())
                return false;
            const std::lock_guard joinLock(old->joining);
            if (old->thread.joinable())
                old->thread.join();
            return true;
        });
        if (m_ended) {
            dedicated->stop = true; // never started: stop() has nothing to wait for
            return std::unique_ptr<DedicatedThread>(new DedicatedThread(dedicated));
        }
        m_dedicated.push_back(dedicated);
        const std::lock_guard joinLock(dedicated->joining);
        Dedicated* state = dedicated.get(); // the thread ends before the state goes
        dedicated->thread = std::thread([state, name = std::move(name), body = std::move(body)] {
            NameThisThread(name);
            try {
                body(state->stop);
            } catch (...) {
                // The body reports its own failures.
            }
            state->returned = true;
        });
    }
    return std::unique_ptr<DedicatedThread>(new DedicatedThread(dedicated));
}

void Executor::shutdown()
{
    std::vector<std::shared_ptr<Dedicated>> dedicated;
    // Dropped outside the lock: what a task holds may post as it goes.
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard lock(m_mutex);
        if (m_ended && m_workers.empty() && m_dedicated.empty())
            return;
        m_ended = true;
        m_stopping = true;
        dropped.swap(m_user);
        for (std::function<void()>& task : m_background)
            dropped.push_back(std::move(task));
        m_background.clear();
        dedicated.swap(m_dedicated);
    }
    dropped.clear();
    m_userWake.notify_all();
    m_backgroundWake.notify_all();
    for (const std::shared_ptr<Dedicated>& thread : dedicated)
        thread->stopAndJoin();
    for (std::thread& worker : m_workers)
        if (worker.joinable())
            worker.join();
    m_workers.clear();
}

DedicatedThread::DedicatedThread(std::shared_ptr<Executor::Dedicated> dedicated) : m_dedicated(std::move(dedicated)) {}

DedicatedThread::~DedicatedThread()
{
    stop();
}

void DedicatedThread::stop()
{
    m_dedicated->stopAndJoin();
}

bool DedicatedThread::returned() const
{
    return m_dedicated->returned.load();
}

} // namespace tlg
