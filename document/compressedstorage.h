#pragma once

// The text a compressed file holds, read through its CompressedText: decompressed from the
// nearest restart point (or read from its spool) when asked. The line index and check values
// are those of the decompressed text; after the pass they are kept in the cache folder with the
// restart points (CompressedIndexCache) and read back at the next open of the same unchanged
// file instead of decompressing it. One spooled or damaged is not kept.

#include "document/compressedtext.h"
#include "document/pagedstorage.h"

#include <functional>

namespace tlg {

class LineIndexer;

// Hears the text of the first lines, and their index, while a compressed file's pass goes on.
using PartialText = std::function<void(const LineIndexer& lines, const StoragePtr& text)>;

class CompressedStorage final : public PagedStorage {
public:
    // What the text of one compressed file is: its format, the archive's member that is shown
    // (how == Archive), and with `shown` Utf16Le or Utf16Be the UTF-8 its 16-bit text decodes
    // into (spooled); any other transcoding shows the decompressed bytes.
    struct Kind {
        Compression how = Compression::None;
        std::string member;
        Transcoding shown = Transcoding::None;
    };

    // Indexes the text that the open compressed file holds into `lines` (empty), in one pass
    // that keeps restart points or a spool, or reads back the index kept of it. Damaged or
    // cut-off data ends the text where it stops decoding (compressed()->damaged()). `bytesRead`
    // counts compressed bytes. Throws what CompressedText::scan throws.
    //
    // While the pass goes on, `partial` (when given) hears a text of the lines indexed so far as
    // soon as the first of them are, then about every quarter of a second (or every
    // sizes.partialEvery bytes): each ends at a line break and reads what it holds while the
    // pass goes on. A partial text is never followed: grown() reads its file again whole.
    static StoragePtr fromFile(FileHandle file, const std::string& path, const Kind& kind,
                               const PagingSizes& sizes, LineIndexer& lines, const PartialText& partial,
                               std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);

    // The same compressed bytes: the text cannot be compared with them, so the file is the same
    // when the compressed bytes it was read from are (a decompression error later marks it
    // stale).
    bool sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const override;
    // Decoded again from the last restart point on; a spooled text, xz (whose index at its end
    // changed), an archive's member and a partial text are read again whole.
    StoragePtr grown(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                     const std::atomic<bool>* stop) const override;
    Transcoding transcoding() const override { return m_text->transcoding(); }
    std::shared_ptr<const CompressedText> compressed() const override { return m_text; }
    bool partial() const override { return m_partial; }
    bool fromKeptIndex() const override { return m_keptIndex; }
    std::size_t indexMemory() const override { return PagedStorage::indexMemory() + m_text->memory(); }

    CompressedStorage(std::shared_ptr<BlockCache> cache, std::size_t textBytes, std::shared_ptr<CompressedText> text);

private:
    std::int64_t fetch(int fd, ByteOffset start, std::size_t length, char* out) const override;
    std::shared_ptr<PagedStorage> copy() const override { return std::make_shared<CompressedStorage>(*this); }
    // Reads the kept index of the text into `lines` (empty): false when there is none that fits.
    bool readKept(std::string_view form, LineIndexer& lines);
    // Runs the text's pass from its start, indexing into `lines` (begun), telling `partial`.
    void scan(LineIndexer& lines, const PartialText& partial, std::size_t partialEvery,
              std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);

    std::shared_ptr<CompressedText> m_text; // scanned by the pass that makes this text only
    bool m_partial = false;
    bool m_keptIndex = false;
};

} // namespace tlg
