#include "log/textcheck.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "log/textload.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace tlg {

namespace {

// Compares `length` bytes of the file at `offset` with the text there, a block at a time.
bool sameRange(int fd, const std::string& path, std::string_view text, std::size_t offset,
               std::size_t length, std::string& block)
{
    constexpr std::size_t kBlock = 1u << 20;
    while (length > 0) {
        const std::size_t want = std::min(kBlock, length);
        block.resize(want);
        std::size_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(fd, block.data() + got, want - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw Failure("Cannot read file " + path);
            if (n == 0)
                return false; // the file ends before the text does
            got += static_cast<std::size_t>(n);
        }
        if (std::memcmp(block.data(), text.data() + offset, want) != 0)
            return false;
        offset += want;
        length -= want;
    }
    return true;
}

} // namespace

bool TextStillInFile(const std::string& path, std::string_view text, TextCheck& check,
                     std::size_t budget)
{
    const FileHandle file = OpenForReading(path);
    if (!file.valid())
        throw Failure("Cannot open file " + path);
    std::string block;
    const std::size_t size = text.size();
    if (size <= budget) {
        check.unchecked = 0;
        return sameRange(file.fd(), path, text, 0, size, block);
    }
    constexpr std::size_t kEdge = 4096;
    if (!sameRange(file.fd(), path, text, 0, kEdge, block) ||
        !sameRange(file.fd(), path, text, size - kEdge, kEdge, block))
        return false;
    // The rest of the budget goes round the text, so that every byte is compared within
    // size / window checks.
    const std::size_t window = std::max<std::size_t>(budget - 2 * kEdge, 1);
    std::size_t at = check.cursor % size;
    std::size_t left = window;
    while (left > 0) {
        const std::size_t piece = std::min(left, size - at);
        if (!sameRange(file.fd(), path, text, at, piece, block))
            return false;
        left -= piece;
        at = (at + piece) % size;
    }
    check.cursor = at;
    check.unchecked = std::max<std::int64_t>(check.unchecked - static_cast<std::int64_t>(window), 0);
    return true;
}

DocumentPtr LoadFollowedText(const std::string& path, const DocumentPtr& previous, TextCheck& check,
                             bool differs, std::atomic<std::int64_t>* bytesRead, std::size_t budget)
{
    if (previous && previous->size() > 0 && !differs) {
        check.unchecked = previous->size();
        differs = !TextStillInFile(path, previous->text(), check, budget);
    }
    if (differs || !previous) {
        check.unchecked = 0;
        return LoadPlainText(path, bytesRead);
    }
    return LoadPlainTextAfter(path, previous, bytesRead);
}

} // namespace tlg
