#include "document/textcheck.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "document/textload.h"

#include <algorithm>
#include <memory>

namespace tlg {

bool TextStillInFile(const std::string& path, const LogDocument& text, TextCheck& check,
                     std::size_t budget)
{
    const FileHandle file = OpenForReading(path);
    if (!file.valid())
        throw Failure("Cannot open file " + path);
    if (text.stale())
        return false;
    const auto size = static_cast<std::size_t>(text.size());
    auto sameRange = [&](std::size_t offset, std::size_t length) {
        return text.sameAsFile(file.fd(), path, static_cast<ByteOffset>(offset), static_cast<ByteOffset>(offset + length));
    };
    if (size <= budget) {
        check.unchecked = 0;
        return sameRange(0, size);
    }
    constexpr std::size_t kEdge = 4096;
    if (!sameRange(0, kEdge) || !sameRange(size - kEdge, kEdge))
        return false;
    // The rest of the budget goes round the text, so that every byte is compared within
    // size / window checks.
    const std::size_t window = std::max<std::size_t>(budget - 2 * kEdge, 1);
    std::size_t at = check.cursor % size;
    std::size_t left = window;
    while (left > 0) {
        const std::size_t piece = std::min(left, size - at);
        if (!sameRange(at, piece))
            return false;
        left -= piece;
        at = (at + piece) % size;
    }
    check.cursor = at;
    check.unchecked = std::max<ByteOffset>(check.unchecked - static_cast<std::int64_t>(window), 0);
    return true;
}

DocumentPtr LoadFollowedText(const std::string& path, const DocumentPtr& previous, TextCheck& check,
                             bool differs, std::atomic<std::int64_t>* bytesRead, std::size_t budget,
                             const std::atomic<bool>* stop)
{
    if (previous && previous->size() > 0 && !differs) {
        check.unchecked = previous->size();
        differs = !TextStillInFile(path, *previous, check, budget);
    }
    if (!previous) {
        check.unchecked = 0;
        return LoadPlainText(path, bytesRead, stop);
    }
    // Read again the way the previous text was.
    const Transcoding how = previous->transcoding();
    if (differs) {
        check.unchecked = 0;
        return LoadText(path, how, bytesRead, stop);
    }
    return LoadTextAfter(path, how, previous, bytesRead, stop);
}

} // namespace tlg
