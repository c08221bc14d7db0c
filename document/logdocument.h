#pragma once

// A loaded log text: its bytes exactly as read and the offsets of its line starts. A document
// never changes once built; it is shared (never copied) by the load buffer, the staging text
// and the views. A document for a grown file is built by appending to the previous one: both
// share one buffer, each seeing its own prefix, so following a log costs only its new bytes.

#include "core/fileops.h"
#include "document/lineindex.h"
#include "document/linesource.h"
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

// Room for `bytes` bytes, uninitialised: a large room is mapped with huge pages where the
// system offers them, which makes filling it from a file much cheaper; untouched pages cost
// nothing. Released with ReleaseRoom.
void* AllocateRoom(std::size_t bytes);
void ReleaseRoom(void* room, std::size_t bytes);

// A buffer that only grows, shared by a document and those appended to it. Each document reads
// only its own prefix; only the newest one may claim the room after it, so nothing a reader
// sees is ever written again.
template <typename T>
class GrowOnlyBuffer {
public:
    explicit GrowOnlyBuffer(std::size_t capacity)
        : m_capacity(capacity == 0 ? 1 : capacity),
          m_data(static_cast<T*>(AllocateRoom(m_capacity * sizeof(T))))
    {
    }
    ~GrowOnlyBuffer() { ReleaseRoom(m_data, m_capacity * sizeof(T)); }
    GrowOnlyBuffer(const GrowOnlyBuffer&) = delete;
    GrowOnlyBuffer& operator=(const GrowOnlyBuffer&) = delete;

    T* data() { return m_data; }
    const T* data() const { return m_data; }
    std::size_t capacity() const { return m_capacity; }
    // Takes [from, to) for writing when `from` is the end of what has been handed out and the
    // room is there; false otherwise.
    bool claim(std::size_t from, std::size_t to)
    {
        if (to > m_capacity)
            return false;
        std::size_t expected = from;
        return m_used.compare_exchange_strong(expected, to);
    }
    // Gives back [to, from) of what the caller claimed last and did not use.
    void unclaim(std::size_t from, std::size_t to)
    {
        std::size_t expected = from;
        m_used.compare_exchange_strong(expected, to);
    }

private:
    std::size_t m_capacity;
    T* m_data;
    std::atomic<std::size_t> m_used{0};
};

// Room for a text of this size and what a followed log may append to it before the buffer must
// be copied; the room past the text costs nothing until it is written.
std::size_t TextRoomFor(std::size_t size);

class LogDocument;
class CompressedText;
enum class Compression : std::uint8_t;
using DocumentPtr = std::shared_ptr<const LogDocument>;
// Hears each document of the first lines made while a long pass goes on, on the pass's thread.
using PartialDocuments = std::function<void(const DocumentPtr&)>;
using TextBuffer = GrowOnlyBuffer<char>;
class FileText;

// How a document read from a file holds it. Tests make them tiny to cross every boundary.
struct PagingSizes {
    std::size_t cacheBlock = 256u << 10; // bytes the block cache reads at a time
    std::size_t cacheBlocks = 32;        // blocks the cache keeps
    std::size_t hashBlock = 64u << 10;   // bytes a check value covers
    // Bytes a whole-file read takes at a time: small enough that fifty logs opening at once
    // hold little, large enough that a read costs few calls.
    std::size_t readChunk = 1u << 20;
    // Bytes of text between the restart points of a compressed file.
    std::size_t restartEvery = 4u << 20;
    // Bytes of text after which a compressed file's pass tells its first lines again, besides
    // every quarter of a second; 0: by the time alone.
    std::size_t partialEvery = 0;
};

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
    bool fromKeptIndex() const { return m_keptIndex; }
    // Whether this is a document of the first lines made while a compressed file's pass went on.
    bool partial() const { return m_partial; }

    ByteOffset size() const override { return static_cast<ByteOffset>(m_size); }
    const FileIdentity& identity() const { return m_identity; }
    // Whether the bytes are read from a file rather than held in memory.
    bool paged() const { return m_file != nullptr; }
    // What the shown bytes are made of: None for a text in memory.
    Transcoding transcoding() const;
    // The compressed file a document's text is decompressed from; null for any other.
    const CompressedText* compressed() const;
    // The bytes of its file a document read from a file was made from (the file's size when it
    // was last read); size() for a text in memory.
    std::int64_t fileBytes() const { return m_fileSize; }

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
    LineCount rowCount() const override { return static_cast<LineCount>(m_rows); }
    ByteOffset lineIndex(LineNumber line) const override;
    void lineStarts(LineNumber first, LineNumber end, ByteOffset* out) const override;
    ByteOffset lineContentEnd(LineNumber line) const override;
    LineNumber lineFromOffset(ByteOffset offset) const override;
    std::int64_t longestLine() const override { return m_longestLine; }
    std::int64_t widestLineColumns() const override { return m_widestColumns; }
    // Whether the text holds a NUL byte anywhere (found while indexing).
    bool holdsNul() const { return m_holdsNul; }

    // Bytes of memory the line index, the check values and the transcoding map take, for
    // benchmarks.
    std::size_t indexMemory() const;
    // Bytes the block cache and the kept stretches of a document read from a file hold now
    // (shared by the documents grown from one another); 0 for a text in memory.
    std::size_t cacheMemory() const;

private:
    // Entries claimed from a shared GrowOnlyBuffer: a document sees the first `count`; the
    // newest document of a line may claim what follows, a block at a time, and takes a buffer
    // of its own when another took the room first.
    template <typename T>
    struct Claimed {
        std::shared_ptr<GrowOnlyBuffer<T>> buffer;
        std::size_t count = 0;
        std::size_t claimed = 0;
        void reserve(std::size_t capacity);
        void push(const T& value);
        void finish();
        void makeOwn(std::size_t keep); // a buffer of its own holding the first `keep` entries
        // A buffer of its own holding the `n` entries whose bytes are given.
        void assign(std::string_view bytes, std::size_t n);
        const T& operator[](std::size_t i) const { return buffer->data()[i]; }
        T& last() { return buffer->data()[count - 1]; }
    };
    struct HashTail;

    LogDocument() = default;
    void reserveIndex(std::size_t size);
    // Indexes `bytes`, the text's bytes from `at` on (at == the bytes indexed so far).
    void indexBytes(const char* bytes, std::size_t length);
    void finishIndex();
    // A document of what this one, being indexed, holds now (it ends at a line start): it
    // shares the index, which this one no longer rewrites where the copy sees it.
    DocumentPtr partialCopy();
    // This compressed document grown to what its file (open again as `file`) now holds, decoded
    // again from the last restart point of `text`, its text.
    DocumentPtr grownCompressed(const std::shared_ptr<CompressedText>& text, FileHandle file,
                                std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop) const;
    // The line index and check values in the form they are kept in, and the same read back
    // into this new document (false when the form does not fit).
    void writeIndex(std::string& out) const;
    bool readIndex(std::string_view& in);
    // Measures the line that ends at `end`: a finished one (done) or the last one so far.
    void measureLine(std::size_t end, bool done);
    void pushStart(ByteOffset start);
    // Drops the last line start (the line index copies its last chunk first when the start is
    // one that the document it was appended to sees).
    void dropLastStart();
    ByteOffset rowStart(std::size_t row) const;
    void hashBytes(const char* bytes, std::size_t length);
    // Reads a paged document's file from its end on, indexing and hashing what it reads.
    void readFile(std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);
    // As readFile, reading and hashing on a second thread while this one indexes.
    void readFileAlongside(std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);
    // Decodes a transcoded file from `point`, which stands for shown offset `shownAt`: the
    // shown bytes before `indexFrom` are only hashed (they are indexed already), the rest
    // hashed and indexed.
    void decodeFile(SourcePoint point, ByteOffset shownAt, ByteOffset indexFrom,
                    std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);
    // Drops the shown bytes from `stable` on (an end that the file's next bytes change), with
    // the check values and map entries over them; `endsWithCr` tells the byte before.
    void dropTail(ByteOffset stable, bool endsWithCr);
    // A view of the memory, or the bytes read (and checked) into buffer.
    std::string_view passBytes(ByteOffset start, std::size_t length, std::string& buffer) const override;
    // Reads the shown bytes [start, start + length) from `fd` into out; `start` is at a hash
    // block for a transcoded text. Returns the bytes the file gave (fewer when it is shorter),
    // or -1 on a read error.
    std::int64_t fetch(int fd, ByteOffset start, std::size_t length, char* out) const;
    // Reads [start, end) of a paged text, widened to whole hash blocks, into a buffer that
    // `allocate(bytes)` gives, checks it and returns where [start, end) lies in it.
    const char* readChecked(ByteOffset start, ByteOffset end, const std::function<char*(std::size_t)>& allocate) const;
    // Compares shown bytes read from the file, from hash block start `start` on, with the check
    // values; marks the text stale on a difference.
    void verify(ByteOffset start, std::string_view bytes) const;
    // The cached block `index` holding [its start, to).
    std::shared_ptr<const std::string> cachedBlock(std::size_t index, ByteOffset to) const;

    std::shared_ptr<TextBuffer> m_text; // the bytes of a document held in memory
    std::shared_ptr<FileText> m_file;   // the file of a paged document
    std::size_t m_size = 0;
    FileIdentity m_identity;

    // Line starts, about a byte a row, shared with the document this one grew from.
    LineIndex m_index;
    std::size_t m_rows = 0; // m_index.rows()

    // Check values of a paged document's text: one per whole hash block, and the state over
    // the bytes after the last whole block.
    Claimed<std::uint64_t> m_hashes;
    std::shared_ptr<HashTail> m_hashTail;
    std::uint64_t m_tailDigest = 0; // the check value of the bytes after the last whole block

    // A transcoded text: the SourcePoint (packed) of every hash block's first shown byte.
    Claimed<std::uint64_t> m_map;
    std::int64_t m_fileSize = 0; // file bytes the text was made from
    // The shown bytes that stay when the file grows (all but a pending end of a transcoded
    // text), and the file offset decoding resumes at after them.
    ByteOffset m_stable = 0;
    std::int64_t m_resume = 0;

    // Where indexing stands: the start of the last line and what is known of it.
    std::size_t m_lineStart = 0;
    std::int64_t m_lineColumns = 0; // columns up to m_segmentStart
    std::size_t m_segmentStart = 0; // the byte after the last tab of the line
    bool m_lastWasCr = false;       // the text so far ends with a CR

    std::int64_t m_longestLine = 0;
    bool m_holdsNul = false;
    bool m_keptIndex = false;
    bool m_partial = false;
    std::int64_t m_widestColumns = 0;
    std::int64_t m_longestDone = 0; // over the lines that ended in a break
    std::int64_t m_widestDone = 0;
};

} // namespace tlg
