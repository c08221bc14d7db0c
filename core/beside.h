#pragma once

// Work beside the GUI thread on the executor, its result taken on the GUI thread: the
// bridge between the executor (plain C++) and Qt's objects.

#include "core/executor.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <memory>
#include <type_traits>
#include <utility>

namespace tlg {

// Makes sure that the executor work runs on is ended before the application object is: where
// the program made none of its own (tests), the shared one is shut down as the application
// ends. Called by RunBeside; call it where work is posted to the executor by other means.
void EndExecutorWithApplication();

// Runs `work()` on the executor in the class `priority`, then `done(result)` (or `done()` for
// work that gives nothing) on the GUI thread, unless `context` is gone by then. `work` must
// not touch `context`: it may be gone while the work runs. Work that gives nothing is done
// whatever it throws; work with a result that throws ends without `done` (catch in it where
// the caller must hear the end).
template <typename Work, typename Done>
void RunBeside(QObject* context, Executor::Priority priority, Work work, Done done)
{
    EndExecutorWithApplication();
    QPointer<QObject> guard(context);
    Executor::shared().post(priority, [guard = std::move(guard), work = std::move(work), done = std::move(done)]() mutable {
        QCoreApplication* application = QCoreApplication::instance();
        if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
            try {
                work();
            } catch (...) {
                // Said by the work itself where it matters; the caller hears the end.
            }
            if (application)
                QMetaObject::invokeMethod(
                    application,
                    [guard = std::move(guard), done = std::move(done)]() mutable {
                        if (guard)
                            done();
                    },
                    Qt::QueuedConnection);
        } else {
            std::shared_ptr<std::invoke_result_t<Work&>> result;
            try {
                result = std::make_shared<std::invoke_result_t<Work&>>(work());
            } catch (...) {
                return;
            }
            if (application)
                QMetaObject::invokeMethod(
                    application,
                    [guard = std::move(guard), done = std::move(done), result]() mutable {
                        if (guard)
                            done(std::move(*result));
                    },
                    Qt::QueuedConnection);
        }
    });
}

} // namespace tlg
