#pragma once

// A loaded log text: its bytes exactly as read and the offsets of its line starts. A document
// never changes once built; it is shared (never copied) by the load buffer, the staging text
// and the views. Its bytes are held by a storage (TextStorage: in memory, or read from its file
// as they are, decoded or decompressed when asked) and its line starts by a LineIndexer. A
// document for a grown file is built from the previous one and shares its buffer or its file
// and its index, each seeing its own prefix, so following a log costs only its new bytes.

#include "core/fileops.h"
#include "document/growonlybuffer.h"
#include "document/lineindexer.h"
#include "document/linesource.h"
#include "document/pagingsizes.h"
#include "document/textstorage.h"
#include "document/transcodedtext.h"

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tlg {

// The file a text was read from: the same device and inode are the same file, whatever its
// name now.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;
    bool operator==(const FileIdentity& other) const
    {
        return known && other.known && device == other.device && inode == other.inode;
    }
};

class LogDocument;
class CompressedText;
enum class Compression : std::uint8_t;
using DocumentPtr = std::shared_ptr<const LogDocument>;
// Hears each document of the first lines made while a long pass goes on, on the pass's thread.
using PartialDocuments = std::function<void(const DocumentPtr&)>;

class LogDocument : public LineSource, public std::enable_shared_from_this<LogDocument> {
public:
    // Builds the document of these bytes, held in memory, and indexes its lines. Lines end at
    // LF, CR LF or a lone CR.
    static DocumentPtr fromBytes(std::string_view bytes);
    // Builds the document of the first `size` bytes of a buffer that nothing else uses yet
    // (a load reads straight into it), read from the given file.
    static DocumentPtr adopt(std::shared_ptr<TextBuffer> buffer, std::size_t size,
                             FileIdentity identity);
    // Indexes an open file from its start to its end (as far as it reaches while being read)
    // and builds the document that reads its bytes from the file when asked: only the line
    // index, a check value per hash block and a bounded cache of blocks stay in memory. The
    // file stays open as long as a document uses it, so a deleted file stays readable.
    // `bytesRead`, when given, counts the bytes indexed so far. Throws Failure("Cannot read
    // file " + path) on a read error.
    //
    // With a Transcoding other than None the document shows the bytes that transcoding makes of
    // the file's (UTF-8 for 16-bit text, the bytes without their NULs), decoded a block at a time
    // when asked; every offset is an offset into those shown bytes, and a compact map (one entry
    // per hash block) tells where in the file each hash block's decoding resumes. `bytesRead`
    // then counts file bytes.
    //
    // Once `stop` (when given) is raised the read ends at its next chunk and throws
    // ReadStopped: no document comes of it.
    static DocumentPtr fromFile(FileHandle file, const std::string& path, FileIdentity identity,
                                std::atomic<std::int64_t>* bytesRead = nullptr,
                                const PagingSizes& sizes = PagingSizes{},
                                Transcoding how = Transcoding::None,
                                const std::atomic<bool>* stop = nullptr);
    // Indexes the text that the open compressed file holds (its first bytes show `how`) in one
    // pass that keeps restart points or a spool (CompressedText), and builds the document that
    // decompresses what it is asked for from the nearest of them. Damaged or cut-off data ends
    // the text where it stops decoding (compressed()->damaged()). `bytesRead` counts compressed
    // bytes. Fails, and heeds `stop`, as fromFile does; also when the spool cannot be written.
    // An archive's (how == Archive) text is its member `member`. With `shown` Utf16Le or Utf16Be
    // the text is the UTF-8 its 16-bit text decodes into (spooled; transcoding() tells), any other
    // transcoding shows the decompressed bytes.
    //
    // While the pass goes on, `partial` (when given) hears a document of the lines indexed so far
    // as soon as the first of them are, then about every quarter of a second: each ends at a
    // line break, shares this file's text and index, reads what it holds while the pass goes
    // on, and is grown from by the next and by the whole document (grewFrom). A partial
    // document is never followed: grown() reads its file again whole.
    static DocumentPtr fromCompressed(FileHandle file, const std::string& path, FileIdentity identity,
                                      Compression how, std::atomic<std::int64_t>* bytesRead = nullptr,
                                      const PagingSizes& sizes = PagingSizes{},
                                      const std::atomic<bool>* stop = nullptr, const std::string& member = {},
                                      Transcoding shown = Transcoding::None,
                                      const PartialDocuments& partial = {});
    // A compressed file's document is built once: its index and restart points are kept in the
    // cache folder (CompressedIndexCache) after the pass, and read back at the next open of the
    // same unchanged file instead of decompressing it. One spooled or damaged is not kept.
    // The shared empty document.
    static DocumentPtr empty();

    // This document's text followed by `more`: sharing this document's buffers when it is the
    // newest of them and they have room, copying them otherwise. Costs the new bytes (and the
    // last line), not the whole text. A document read from a file only indexes `more`, which
    // must be the bytes the file holds after this document's end; a transcoded one grows only
    // from its file (grown): appended throws std::logic_error.
    DocumentPtr appended(std::string_view more) const;
    // For a document read from a file: this document grown to what its file now holds after
    // its end (itself when nothing was added), read a chunk at a time. Only the new bytes are
    // read (and decoded). A transcoded text may end with bytes that the file's next bytes
    // change (U+FFFD for an odd last byte or a high surrogate waiting for its pair): those are
    // decoded again with what follows; the hash block they lie in is read again to rebuild its
    // check value. Throws Failure, and heeds `stop`, as fromFile does.
    DocumentPtr grown(std::atomic<std::int64_t>* bytesRead = nullptr, const std::atomic<bool>* stop = nullptr) const;

    // Whether the document of a compressed file was read back from a kept index.
    bool fromKeptIndex() const { return m_text->fromKeptIndex(); }
    // Whether this is a document of the first lines made while a compressed file's pass went on.
    bool partial() const { return m_text->partial(); }

    ByteOffset size() const override { return m_lines.size(); }
    const FileIdentity& identity() const { return m_identity; }
    // Whether the bytes are read from a file rather than held in memory.
    bool paged() const { return m_text->paged(); }
    // What the shown bytes are made of: None for a text in memory.
    Transcoding transcoding() const;
    // The compressed file a document's text is decompressed from; null for any other. Each
    // document holds its own: one grown from a compressed file holds the text that went on
    // decoding it.
    std::shared_ptr<const CompressedText> compressed() const { return m_text->compressed(); }
    // The bytes of its file a document read from a file was made from (the file's size when it
    // was last read); size() for a text in memory.
    std::int64_t fileBytes() const { return m_text->fileBytes(); }

    // The bytes [from, to), clamped to the text. Bytes the file no longer holds (it was
    // truncated) read as spaces, and the document is then known to be stale. Every byte read
    // from the file is compared, a hash block at a time (the bytes after the last whole block by
    // the check value of exactly those bytes), with what was indexed: a difference makes the
    // document stale. A stretch across cache blocks is kept for the next call only when it is
    // at most 4 MiB; a longer one is read for this caller alone.
    TextSlice slice(ByteOffset from, ByteOffset to) const override;
    // The same bytes (checked the same way) for a pass that reads each stretch once: read
    // straight from the file, never cached (a view of the memory for a text held in memory).
    TextSlice read(ByteOffset from, ByteOffset to) const override;

    // Whether the open file `fd` holds this document's bytes over [from, to) (widened to whole
    // hash blocks for a document read from a file, whose bytes are compared by check value).
    // False when the file is shorter. Throws Failure("Cannot read file " + path) on a read
    // error.
    bool sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const;
    // The size of the stretch sameAsFile compares at least, so that callers can step through
    // the text window by window: 1 for a document in memory.
    std::size_t checkGranule() const;
    // True once a read found that the file no longer holds the bytes this document indexed:
    // the text must be loaded again.
    bool stale() const;

    bool grewFrom(const LineSource& earlier) const override;

    LineCount lineCount() const override;
    LineCount rowCount() const override { return static_cast<LineCount>(m_lines.rows()); }
    ByteOffset lineIndex(LineNumber line) const override;
    void lineStarts(LineNumber first, LineNumber end, ByteOffset* out) const override;
    ByteOffset lineContentEnd(LineNumber line) const override;
    LineNumber lineFromOffset(ByteOffset offset) const override;
    std::int64_t longestLine() const override { return m_lines.longestLine(); }
    std::int64_t widestLineColumns() const override { return m_lines.widestLineColumns(); }
    // Whether the text holds a NUL byte anywhere (found while indexing).
    bool holdsNul() const { return m_lines.holdsNul(); }

    // Bytes of memory the line index, the check values and the transcoding map take, for
    // benchmarks.
    std::size_t indexMemory() const;
    // Bytes the block cache and the kept stretches of a document read from a file hold now
    // (shared by the documents grown from one another); 0 for a text in memory.
    std::size_t cacheMemory() const;

private:
    LogDocument() = default;
    // The document of these lines held by `text`.
    static DocumentPtr made(LineIndexer lines, StoragePtr text, FileIdentity identity);
    // A view of the memory, or the bytes read (and checked) into buffer.
    std::string_view passBytes(ByteOffset start, std::size_t length, std::string& buffer) const override;

    FileIdentity m_identity;
    // Line starts, about a byte a row, shared with the document this one grew from.
    LineIndexer m_lines;
    // Where the bytes are: memory, the file, the file decoded, the file decompressed.
    StoragePtr m_text;
};

} // namespace tlg
