#include "core/beside.h"

#include <atomic>

namespace tlg {

void EndExecutorWithApplication()
{
    static std::atomic<bool> hooked{false};
    if (hooked.load(std::memory_order_relaxed) || !QCoreApplication::instance())
        return;
    if (!hooked.exchange(true))
        qAddPostRoutine(&Executor::shutdownShared);
}

} // namespace tlg
