#pragma once

// A text that is its file's bytes as they are, read from the file when asked. The file stays
// open as long as a text uses it, so a deleted file stays readable.

#include "document/pagedstorage.h"

namespace tlg {

class FileStorage final : public PagedStorage {
public:
    // Indexes the open file from its start to its end (as far as it reaches while being read)
    // into `lines` (empty), hashing it on the way. `bytesRead` counts the bytes read. Throws
    // Failure("Cannot read file " + path) on a read error, and ReadStopped once `stop` is raised.
    static StoragePtr fromFile(FileHandle file, const std::string& path, const PagingSizes& sizes,
                               LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                               const std::atomic<bool>* stop);

    // Only the bytes after the text's end are read.
    StoragePtr grown(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                     const std::atomic<bool>* stop) const override;

    FileStorage(std::shared_ptr<BlockCache> cache, std::size_t textBytes) : PagedStorage(std::move(cache), textBytes) {}

private:
    std::int64_t fetch(int fd, ByteOffset start, std::size_t length, char* out) const override;
    std::shared_ptr<PagedStorage> copy() const override { return std::make_shared<FileStorage>(*this); }
    // Reads the file from the text's end on.
    void readOn(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);
};

} // namespace tlg
