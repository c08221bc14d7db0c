#include "document/savetext.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace tlg {

namespace {

// Bytes read from the text and written at a time.
constexpr std::int64_t kSaveStep = 1 << 20;

} // namespace

void SaveText(const LineSource& text, const std::string& path, std::atomic<std::int64_t>* done,
              const std::atomic<bool>* stop)
{
    const std::int64_t size = text.size().value();
    WriteFileAtomically(path, [&](int fd) {
        for (std::int64_t at = 0; at < size; at += kSaveStep) {
            ThrowIfStopped(stop);
            const std::int64_t to = std::min(size, at + kSaveStep);
            const TextSlice bytes = text.read(ByteOffset(at), ByteOffset(to));
            if (!WriteAll(fd, bytes.view()))
                return false;
            if (done)
                done->store(to, std::memory_order_relaxed);
        }
        return true;
    });
}

void SaveFileBytes(int fd, std::int64_t size, const std::string& name, const std::string& path,
                   std::atomic<std::int64_t>* done, const std::atomic<bool>* stop)
{
    std::string buffer(static_cast<std::size_t>(std::min(size, kSaveStep)), '\0');
    WriteFileAtomically(path, [&](int out) {
        for (std::int64_t at = 0; at < size;) {
            ThrowIfStopped(stop);
            const auto want = static_cast<std::size_t>(std::min(size - at, kSaveStep));
            const ssize_t got = ::pread(fd, buffer.data(), want, at);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                throw Failure("Cannot read file " + name);
            if (!WriteAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(got))))
                return false;
            at += got;
            if (done)
                done->store(at, std::memory_order_relaxed);
        }
        return true;
    });
}

} // namespace tlg
