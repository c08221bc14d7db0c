#include "document/pipespool.h"

#include "core/errors.h"
#include "core/executor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tlg {

namespace {

// copyOnce's answers besides a count of bytes.
constexpr std::int64_t kEnded = 0;
constexpr std::int64_t kFailed = -1;
constexpr std::int64_t kNothingYet = -2;

// An unnamed file in folder for reading and writing: O_TMPFILE where the file system has it,
// else a file made and unlinked at once. -1 with errno set when neither works.
int MakeUnnamedFile(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    std::string name = folder + "stdin-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

} // namespace

PipeSpool::PipeSpool(FileHandle input, std::function<void()> notice, Options options)
    : m_folder(options.folder.empty() ? CacheFolder() : options.folder),
      m_options(std::move(options)),
      m_notice(std::move(notice))
{
    if (m_folder.back() != '/')
        m_folder += '/';
    m_options.chunk = std::max<std::size_t>(m_options.chunk, 1);
    m_file = MakeUnnamedFile(m_folder);
    if (m_file < 0)
        throw Failure("Cannot keep standard input in " + m_folder + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(m_file, &st) == 0) {
        m_device = st.st_dev;
        m_inode = st.st_ino;
    }
    m_wake = std::make_shared<FileHandle>(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_wake->valid()) {
        const int error = errno;
        ::close(m_file);
        throw Failure("Cannot keep standard input in " + m_folder + ": " + std::strerror(error));
    }
    m_input = input.valid() ? ::fcntl(input.fd(), F_DUPFD_CLOEXEC, 3) : -1;
    // A larger pipe lets its writer go on while a step is written to the file; refused for a
    // pipe that is not ours to size (or not a pipe), which changes nothing.
    if (m_input >= 0)
        ::fcntl(m_input, F_SETPIPE_SZ, 1 << 20);
    m_copier = Executor::shared().startDedicated(
        "tlg-pipe", [this](const std::atomic<bool>& stop) { copy(stop); },
        [wake = m_wake] {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t said = ::write(wake->fd(), &one, sizeof one);
        });
}

PipeSpool::~PipeSpool()
{
    stop();
    ::close(m_file);
}

void PipeSpool::stop()
{
    // Its end raises the copy's stop, wakes its poll and waits for it.
    m_copier.reset();
    if (m_input >= 0) {
        ::close(m_input);
        m_input = -1;
    }
}

FileHandle PipeSpool::reader() const
{
    return FileHandle(::fcntl(m_file, F_DUPFD_CLOEXEC, 3));
}

std::string PipeSpool::failure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}

void PipeSpool::fail(const std::string& why)
{
    {
        const std::lock_guard lock(m_mutex);
        m_failure = why;
    }
    m_state.store(State::Failed, std::memory_order_release);
}

void PipeSpool::copy(const std::atomic<bool>& stop)
{
    using Clock = std::chrono::steady_clock;
    const auto gap = std::chrono::milliseconds(m_options.noticeGapMs);
    Clock::time_point lastNotice = Clock::now() - gap;
    bool pending = false; // bytes kept that no notice told of yet
    for (;;) {
        int timeout = -1;
        if (pending) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(lastNotice + gap - Clock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        // A missing input is a pipe already closed.
        pollfd watched[2] = {{m_input, POLLIN, 0}, {m_wake->fd(), POLLIN, 0}};
        const int ready = m_input < 0 ? 0 : ::poll(watched, 2, timeout);
        if (ready < 0 && errno != EINTR)
            fail(std::string("Standard input could not be read: ") + std::strerror(errno));
        if (watched[1].revents != 0 || stop.load())
            return; // stopped: nobody to tell
        std::int64_t got = kNothingYet;
        if (m_input < 0)
            got = kEnded;
        else if (state() == State::Failed)
            got = kFailed;
        else if (ready > 0 && watched[0].revents != 0)
            got = copyOnce();
        if (got == kEnded || got == kFailed) {
            if (got == kEnded)
                m_state.store(State::Closed, std::memory_order_release);
            // The writer learns at once that nobody reads any more.
            if (m_input >= 0) {
                ::close(m_input);
                m_input = -1;
            }
            m_notice();
            return;
        }
        if (got > 0)
            pending = true;
        if (pending && Clock::now() - lastNotice >= gap) {
            m_notice();
            lastNotice = Clock::now();
            pending = false;
        }
    }
}

std::int64_t PipeSpool::copyOnce()
{
    const std::int64_t at = bytes();
    const std::size_t chunk = m_options.chunk;
    if (m_buffer.size() < chunk)
        m_buffer.resize(chunk);
    ssize_t got = ::read(m_input, m_buffer.data(), chunk);
    if (got < 0) {
        if (errno == EINTR || errno == EAGAIN)
            return kNothingYet;
        fail(std::string("Standard input could not be read: ") + std::strerror(errno));
        return kFailed;
    }
    if (got == 0)
        return kEnded;
    std::int64_t written = 0;
    while (written < got) {
        const auto length = static_cast<std::size_t>(got - written);
        const off_t where = static_cast<off_t>(at + written);
        const ssize_t put = m_options.write ? m_options.write(m_file, m_buffer.data() + written, length, where)
                                            : ::pwrite(m_file, m_buffer.data() + written, length, where);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            const int error = put < 0 ? errno : ENOSPC;
            m_bytes.store(at + written, std::memory_order_release);
            if (error == ENOSPC || error == EDQUOT || error == EFBIG)
                fail("The disk is full (" + m_folder + "): standard input is no longer read; what it gave so far stays shown");
            else
                fail("Cannot write to " + m_folder + ": " + std::strerror(error) + "; standard input is no longer read");
            return kFailed;
        }
        written += put;
    }
    m_bytes.store(at + written, std::memory_order_release);
    return written;
}

FileHandle TakeStandardInput()
{
    const int taken = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    if (taken < 0)
        return FileHandle();
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::close(null);
    }
    return FileHandle(taken);
}

} // namespace tlg
