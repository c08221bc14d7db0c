#pragma once

// Long work (reading a large log) on a worker thread while the GUI thread goes on running its
// event loop, so that the window keeps painting and answering.

#include <atomic>
#include <cstdint>
#include <functional>

namespace tlg {

// Runs work on a worker thread and waits for it in a local event loop; rethrows here whatever
// work threw. work counts what it has done in `done`, out of `total`; from half a second on,
// `report` is told the percentage every tenth of a second. When the application quits meanwhile,
// the wait still lasts until work ends, as work may hold references the caller gave it.
void RunAside(const std::function<void(std::atomic<std::int64_t>& done)>& work, std::int64_t total,
              const std::function<void(int percent)>& report);

} // namespace tlg
