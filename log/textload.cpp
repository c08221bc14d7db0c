#include "log/textload.h"

#include "app/errors.h"
#include "app/fileops.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {

namespace {

// Closes the descriptor on every way out.
struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

} // namespace

DocumentPtr LoadPlainText(const std::string& path)
{
    // Non-blocking, so that a FIFO given as a log never hangs the window.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        throw Failure("Cannot open file " + path);
    FdCloser closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw Failure("Cannot open file " + path);
    if (S_ISDIR(st.st_mode))
        throw Failure("Cannot open file " + path + ": it is a folder");
    if (!S_ISREG(st.st_mode))
        throw Failure("Cannot open file " + path + ": it is not a regular file");
    if (LockHeldOnFile(fd, /*writeOnly=*/true))
        throw Failure("File is locked by another program: " + path);

    // The size fstat gave, and then to the end: a writer may be appending meanwhile. Growth
    // beyond the first size is rare, so only then may the buffer carry spare room, which is
    // given back when it is large.
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() + std::max<std::size_t>(bytes.size() / 2, 65536));
        const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Failure("Cannot read file " + path);
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    bytes.resize(used);
    if (bytes.capacity() - used > used / 8)
        bytes.shrink_to_fit();
    return LogDocument::fromBytes(std::move(bytes));
}

} // namespace tlg
