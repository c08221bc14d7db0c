#pragma once

#include <atomic>
#include <stdexcept>
#include <string>

namespace tlg {

// A failure whose what() is the text the user reads, in the status bar or in the
// application's error box ("Cannot open file /path/TlgFormat.ini").
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown by a read told to stop before its end (its log is being closed): it leaves no text
// behind, and nothing for the user to read.
class ReadStopped : public std::exception {
public:
    const char* what() const noexcept override { return "The read was stopped"; }
};

// Throws ReadStopped once `stop` (when given) is raised: a long read calls it between steps.
inline void ThrowIfStopped(const std::atomic<bool>* stop)
{
    if (stop && stop->load(std::memory_order_relaxed))
        throw ReadStopped();
}

} // namespace tlg
