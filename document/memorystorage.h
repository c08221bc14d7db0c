#pragma once

// A text held in memory, in a buffer that only grows: a document appended to shares it with the
// one it grew from while the buffer has room.

#include "document/growonlybuffer.h"
#include "document/textstorage.h"

namespace tlg {

class MemoryStorage final : public TextStorage {
public:
    // The text of the first `size` bytes of `buffer`, which nothing else uses yet, indexed into
    // `lines` (empty).
    static StoragePtr adopt(std::shared_ptr<TextBuffer> buffer, std::size_t size, LineIndexer& lines);

    TextSlice slice(ByteOffset from, ByteOffset to) const override;
    TextSlice read(ByteOffset from, ByteOffset to) const override { return slice(from, to); }
    std::string_view passBytes(ByteOffset start, std::size_t length, std::string& buffer) const override;
    // Compared byte for byte.
    bool sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const override;
    std::size_t checkGranule() const override { return 1; }
    bool stale() const override { return false; }
    // Appended into the room after the text when it is the newest of the buffer's texts, into
    // a larger buffer otherwise.
    StoragePtr appended(LineIndexer& lines, std::string_view more) const override;
    // A text in memory is grown only by appending.
    StoragePtr grown(LineIndexer&, std::atomic<std::int64_t>*, const std::atomic<bool>*) const override
    {
        return nullptr;
    }
    bool paged() const override { return false; }

private:
    const void* source() const override { return m_text.get(); }

    std::shared_ptr<TextBuffer> m_text;
};

} // namespace tlg
