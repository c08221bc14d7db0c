#pragma once

// A loaded log text: its bytes exactly as read and the offsets of its line starts. A document
// never changes once built; it is shared (never copied) by the load buffer, the staging text
// and the views. A document for a grown file is built by appending to the previous one: both
// share one buffer, each seeing its own prefix, so following a log costs only its new bytes.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tlg {

// Byte offset into a document's text, from 0. A CR LF line break counts two.
using ByteOffset = std::int64_t;
// Line number, from 0.
using LineNumber = std::int64_t;
// A number of lines.
using LineCount = std::int64_t;

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
using DocumentPtr = std::shared_ptr<const LogDocument>;
using TextBuffer = GrowOnlyBuffer<char>;

class LogDocument {
public:
    // Builds the document of these bytes and indexes its lines. Lines end at LF, CR LF or a
    // lone CR.
    static DocumentPtr fromBytes(std::string_view bytes);
    // Builds the document of the first `size` bytes of a buffer that nothing else uses yet
    // (a load reads straight into it), read from the given file.
    static DocumentPtr adopt(std::shared_ptr<TextBuffer> buffer, std::size_t size,
                             FileIdentity identity);
    // The shared empty document.
    static DocumentPtr empty();

    // This document's text followed by `more`: sharing this document's buffers when it is the
    // newest of them and they have room, copying them otherwise. Costs the new bytes (and the
    // last line), not the whole text.
    DocumentPtr appended(std::string_view more) const;

    std::string_view text() const { return {m_text->data(), m_size}; }
    ByteOffset size() const { return static_cast<ByteOffset>(m_size); }
    const FileIdentity& identity() const { return m_identity; }

    // The number of lines, not counting the empty line that follows a final line break: "a\nb"
    // and "a\nb\n" have 2 lines, "" has 0.
    LineCount lineCount() const;

    // The number of line starts: lineCount(), plus 1 when the text is empty or ends with a
    // line break (the empty last line where the caret can stand).
    LineCount rowCount() const { return static_cast<LineCount>(m_rows); }

    // The offset of the first byte of a line; a line past the last gives the text's size, a
    // negative line 0.
    ByteOffset lineIndex(LineNumber line) const;

    // The offset one past the last byte of a line's content, before its line break.
    ByteOffset lineContentEnd(LineNumber line) const;

    // The line that holds the byte at offset (offsets are clamped into 0..size()). The end of a
    // text that ends with a line break lies on the empty line after it.
    LineNumber lineFromOffset(ByteOffset offset) const;

    // The content of a line without its line break.
    std::string_view lineText(LineNumber line) const;

    // The length in bytes of the longest line's content.
    std::int64_t longestLine() const { return m_longestLine; }
    // The width in columns of the widest line's content, tabs run to their stops.
    std::int64_t widestLineColumns() const { return m_widestColumns; }
    // Whether the text holds a NUL byte anywhere (found while indexing).
    bool holdsNul() const { return m_holdsNul; }

private:
    using StartBuffer = GrowOnlyBuffer<ByteOffset>;
    LogDocument() = default;
    // Indexes the text from `from` on, the line holding `from` starting at `lineStart`.
    void indexFrom(std::size_t from, std::size_t lineStart);
    void pushStart(ByteOffset start);
    // Index entries are claimed from the shared buffer a block at a time, and what a finished
    // index did not use is given back.
    void finishStarts();

    std::shared_ptr<TextBuffer> m_text;
    std::size_t m_size = 0;
    std::shared_ptr<StartBuffer> m_starts; // starts[0] == 0, strictly increasing
    std::size_t m_rows = 0;
    std::size_t m_claimedRows = 0;
    std::int64_t m_longestLine = 0;
    bool m_holdsNul = false;
    std::int64_t m_widestColumns = 0;
    FileIdentity m_identity;
};

} // namespace tlg
