#pragma once

// The bytes of a pipe, kept as they arrive in an unlinked file of the cache folder: a dedicated
// thread of the executor copies the pipe into the file in large steps (read and write of up to
// 1 MiB; splice(2) measured four times slower here), so that the writer is never held up by the
// reader and memory stays flat however much flows. A paged document reads the file (reader())
// and grows as it does. The file has no name: it goes when the last descriptor to it is closed.

#include "core/fileops.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tlg {

class DedicatedThread;

// How the spool works; tests shrink the steps and make the file fail.
struct PipeSpoolOptions {
    std::string folder;                 // where the file is made; CacheFolder() when empty
    std::size_t chunk = 1u << 20;       // bytes copied at a time at most
    int noticeGapMs = 100;              // the shortest time between two notices of bytes
    // Writes to the file instead of pwrite(2), as pwrite does: tests fail it as a full disk
    // would.
    std::function<ssize_t(int fd, const void* bytes, std::size_t length, off_t at)> write;
};

class PipeSpool {
public:
    using Options = PipeSpoolOptions;
    enum class State {
        Open,   // the pipe is read
        Closed, // the writer closed its end: every byte it wrote is in the file
        Failed, // the file could not take more (a full disk): the pipe is read no more
    };

    // Makes the file and starts copying `input` (which the spool takes) into it, on a dedicated
    // thread of the executor. `notice` is called on that thread when bytes were kept, at most
    // every noticeGapMs (the last bytes of a burst are told once the gap has passed), and once
    // more when the copy ends.
    // Throws Failure("Cannot keep standard input in <folder>: <why>") when the file cannot be
    // made.
    PipeSpool(FileHandle input, std::function<void()> notice, Options options = {});
    // Stops the copy (stop()) and closes the pipe and the file.
    ~PipeSpool();
    PipeSpool(const PipeSpool&) = delete;
    PipeSpool& operator=(const PipeSpool&) = delete;

    // Ends the copy at once, waking its read and waiting for it; no notice comes after it
    // returns. The pipe is closed, so that its writer learns nobody reads any more. Idempotent.
    // Not to be called from `notice`.
    void stop();

    // A descriptor of its own for reading the file (with pread: the copy never moves it).
    FileHandle reader() const;
    // The file's device and inode.
    dev_t device() const { return m_device; }
    ino_t inode() const { return m_inode; }
    // The bytes kept so far.
    std::int64_t bytes() const { return m_bytes.load(std::memory_order_acquire); }
    State state() const { return m_state.load(std::memory_order_acquire); }
    // Why the copy failed, as a user reads it ("" unless Failed).
    std::string failure() const;

private:
    // The copy's loop, until the pipe ends, the file fails or `stop` is raised.
    void copy(const std::atomic<bool>& stop);
    // Copies what the pipe holds now: the bytes copied, 0 at its end, -1 on a failure (said),
    // -2 when it held nothing after all.
    std::int64_t copyOnce();
    void fail(const std::string& why);

    int m_input = -1;
    int m_file = -1;
    // An eventfd that stop() raises to wake the copy's poll; shared with the wake-up call, which
    // the executor may make again until it lets go of the thread.
    std::shared_ptr<FileHandle> m_wake;
    std::string m_folder;
    Options m_options;
    std::function<void()> m_notice;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    std::vector<char> m_buffer; // a step of the copy
    std::atomic<std::int64_t> m_bytes{0};
    std::atomic<State> m_state{State::Open};
    mutable std::mutex m_mutex;
    std::string m_failure; // guarded by m_mutex
    std::unique_ptr<DedicatedThread> m_copier;
};

// Standard input, taken over by the caller: a descriptor of its own, while descriptor 0 reads
// /dev/null from now on, so that closing the one taken tells the writer that nobody reads.
FileHandle TakeStandardInput();

} // namespace tlg
