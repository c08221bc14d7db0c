#pragma once

// The operations of one log (open, follow, compare, read again) in the order asked, on the
// executor, each answered on the GUI thread: with its result, with the failure it threw, or as
// superseded when a later request of its kind replaced it before it ran. Percent done is told
// from half a second on. A request made while one runs waits for it, so no event loop ever
// runs inside another. Its end drops what waits and stops the read under way at its next
// chunk; nothing of it arrives afterwards.
//
// Lives on the GUI thread and uses Qt Core only.

#include "core/errors.h"
#include "core/executor.h"
#include "core/serialqueue.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace tlg {

// How an operation ended: `result` holds what it read (null when it failed or was superseded).
template <typename Result>
struct Ended {
    Result* result = nullptr;
    QString failure;         // the text a user reads, when it failed
    bool superseded = false; // a later request of its kind took its place; it never ran
};

class LogOperations : public QObject {
    Q_OBJECT

public:
    explicit LogOperations(QObject* parent = nullptr);
    ~LogOperations() override;

    // Runs `read(bytes, stop)` in its turn, then `finish` here with how it ended. `total` is
    // the bytes it will read, for the progress; `stop` is raised when the log goes (a read
    // that stopped by it answers nothing). A waiting operation of the same kind is replaced,
    // its `finish` told it was superseded.
    template <typename Result>
    void run(const char* kind, Executor::Priority priority, std::int64_t total,
             std::function<Result(std::atomic<std::int64_t>&, const std::atomic<bool>*)> read,
             std::function<void(const Ended<Result>&)> finish);

    // An operation runs or waits.
    bool busy() const { return m_running > 0; }
    // For tests: runs before each read, on the executor, so that a read can be held.
    void setReadHook(std::function<void()> hook) { m_readHook = std::move(hook); }

signals:
    void progress(int percent);
    // No operation runs or waits any more.
    void idle();

private:
    void started(std::int64_t total, std::shared_ptr<std::atomic<std::int64_t>> done);
    void ended();
    void reportProgress();

    int m_running = 0;
    std::shared_ptr<std::atomic<std::int64_t>> m_done; // bytes read by the operation under way
    std::int64_t m_total = 0;
    QElapsedTimer m_sinceStart;
    bool m_reported = false;
    QTimer* m_progressTimer = nullptr;
    std::function<void()> m_readHook;
    std::unique_ptr<SerialQueue> m_queue; // last: ends first, waiting for the operation under way
};

template <typename Result>
void LogOperations::run(const char* kind, Executor::Priority priority, std::int64_t total,
                        std::function<Result(std::atomic<std::int64_t>&, const std::atomic<bool>*)> read,
                        std::function<void(const Ended<Result>&)> finish)
{
    auto done = std::make_shared<std::atomic<std::int64_t>>(0);
    started(total, done);
    const std::function<void()> hook = m_readHook;
    const std::atomic<bool>* stop = &m_queue->stopping(); // the queue outlives its operations
    auto run = [this, done, stop, hook, read = std::move(read), finish]() {
        auto result = std::make_shared<std::optional<Result>>();
        QString failure;
        try {
            if (hook)
                hook();
            result->emplace(read(*done, stop));
        } catch (const ReadStopped&) {
            return; // the log is going: there is no one to tell
        } catch (const std::exception& error) {
            failure = QString::fromStdString(error.what());
        }
        // Back on the GUI thread; nothing arrives once the log is gone.
        QMetaObject::invokeMethod(
            this,
            [this, result, failure, finish] {
                ended();
                finish({result->has_value() ? &**result : nullptr, failure, false});
                if (!busy())
                    emit idle();
            },
            Qt::QueuedConnection);
    };
    auto superseded = [this, finish] {
        // Answered after the request that took its place was made, as if it came now.
        QMetaObject::invokeMethod(
            this,
            [this, finish] {
                ended();
                finish({nullptr, {}, true});
                if (!busy())
                    emit idle();
            },
            Qt::QueuedConnection);
    };
    m_queue->post(kind, priority, std::move(run), std::move(superseded));
}

} // namespace tlg
