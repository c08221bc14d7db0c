#include "core/background.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>

namespace tlg {

void RunAside(const std::function<void(std::atomic<std::int64_t>& done)>& work, std::int64_t total,
              const std::function<void(int percent)>& report)
{
    std::atomic<std::int64_t> done{0};
    std::exception_ptr failure;
    QFuture<void> future = QtConcurrent::run([&] {
        try {
            work(done);
        } catch (...) {
            failure = std::current_exception();
        }
    });

    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    QElapsedTimer clock;
    clock.start();
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, &loop, [&] {
        if (clock.elapsed() >= 500 && total > 0 && report)
            report(static_cast<int>(std::min<std::int64_t>(100, 100 * done.load() / total)));
    });
    progress.start(100);
    if (!future.isFinished())
        loop.exec();
    future.waitForFinished();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace tlg
