#pragma once

// A pipe for tests: its read end is handed over, its write end fed in bursts and closed.

#include "core/fileops.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace tlg::testing {

class PipeFeed {
public:
    PipeFeed()
    {
        // A reader that stops makes the next write fail with EPIPE rather than end the test.
        std::signal(SIGPIPE, SIG_IGN);
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            std::abort();
        m_read = ends[0];
        m_write = ends[1];
    }
    ~PipeFeed()
    {
        close();
        if (m_read >= 0)
            ::close(m_read);
    }
    PipeFeed(const PipeFeed&) = delete;
    PipeFeed& operator=(const PipeFeed&) = delete;

    // The read end, once: the caller owns it from now on.
    FileHandle takeReadEnd() { return FileHandle(std::exchange(m_read, -1)); }
    int readEnd() const { return m_read; }

    // Writes all of bytes (blocking while the pipe is full); false once the reader has gone.
    bool write(std::string_view bytes) { return WriteAll(m_write, bytes); }
    // The writer closes its end.
    void close()
    {
        if (m_write >= 0)
            ::close(std::exchange(m_write, -1));
    }

private:
    int m_read = -1;
    int m_write = -1;
};

// Numbered lines first..first+count-1: "line <n> of a burst\n".
inline std::string NumberedBurst(int first, int count)
{
    std::string out;
    for (int n = first; n < first + count; ++n)
        out += "line " + std::to_string(n) + " of a burst\n";
    return out;
}

// Polls `done` until it holds or `seconds` pass; whether it held.
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 60)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace tlg::testing
