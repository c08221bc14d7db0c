#pragma once

// A text shown as a Transcoding makes it of its file's bytes (UTF-8 for 16-bit text, the bytes
// without their NULs), decoded a block at a time when asked: every offset is an offset into the
// shown bytes, and a compact map (one entry per hash block) tells where in the file each hash
// block's decoding resumes. The end of the text may be pending (an odd last byte, a high
// surrogate waiting for its pair): shown now, decoded again when the file grows.

#include "document/growonlybuffer.h"
#include "document/pagedstorage.h"

namespace tlg {

class TranscodedStorage final : public PagedStorage {
public:
    // Decodes the open file from its start to its end into `lines` (empty), hashing the shown
    // bytes on the way. `bytesRead` counts file bytes. Fails, and heeds `stop`, as
    // FileStorage::read does.
    static StoragePtr fromFile(FileHandle file, const std::string& path, const PagingSizes& sizes,
                               Transcoding how, LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                               const std::atomic<bool>* stop);

    // Grows only from its file: throws std::logic_error.
    StoragePtr appended(LineIndexer& lines, std::string_view more) const override;
    // Only the file's new bytes are decoded, and a pending end with them; the hash block it lies
    // in is decoded again to rebuild its check value.
    StoragePtr grown(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                     const std::atomic<bool>* stop) const override;
    Transcoding transcoding() const override { return m_how; }
    std::size_t indexMemory() const override;

    TranscodedStorage(std::shared_ptr<BlockCache> cache, std::size_t textBytes, Transcoding how);

private:
    std::int64_t fetch(int fd, ByteOffset start, std::size_t length, char* out) const override;
    std::shared_ptr<PagedStorage> copy() const override { return std::make_shared<TranscodedStorage>(*this); }
    // Decodes `length` shown bytes from `point` into out, reading `fd` no further than the
    // file bytes the text was made from (what is pending there is finished). Returns the bytes
    // decoded, fewer when the file is shorter, or -1 on a read error.
    std::int64_t decode(int fd, SourcePoint point, std::size_t length, char* out) const;
    // Decodes the file from `point`, which stands for shown offset `shownAt`: the shown bytes
    // before `indexFrom` are only hashed (they are indexed already), the rest hashed and
    // indexed.
    void decodeFile(SourcePoint point, ByteOffset shownAt, ByteOffset indexFrom, LineIndexer& lines,
                    std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);

    Transcoding m_how;
    // The SourcePoint (packed) of every hash block's first shown byte.
    ClaimedEntries<std::uint64_t> m_map;
    // The file offset decoding resumes at after the stable bytes.
    std::int64_t m_resume = 0;
};

} // namespace tlg
