#pragma once

// Builds a document's line index from its bytes, a chunk at a time in order, and measures its
// lines on the way (the longest, the widest in columns, whether any NUL byte lies in them). A
// copy shares the index with the indexer it was copied from (LineIndex) and may index on from
// where that one stood: a grown document costs its new bytes only.

#include "document/lineindex.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tlg {

class LineIndexer {
public:
    // Sizes the index for a text of about this many bytes and starts its first line at 0.
    void begin(std::size_t textBytes);
    // Indexes the next bytes of the text. Lines end at LF, CR LF or a lone CR; a CR that ends
    // one chunk and an LF that begins the next are one break.
    void add(const char* bytes, std::size_t length);
    // Ends a stretch of indexing: what the index claimed and did not use is given back, and the
    // last line (which may still grow) is measured. Call before the indexer is copied for a
    // document, or read.
    void finish();
    // A copy for a document of the lines so far while this one goes on indexing (it need not
    // stand at a line break): the copy sees the rows indexed so far, which this one never
    // rewrites.
    LineIndexer snapshot() const;

    // Reads the open file `fd` from the text's end on to the file's end and indexes it, a chunk
    // of `chunk` bytes at a time, handing each chunk also to `beside` (check values). A file
    // with much left to read is read on a worker of the executor a few chunks ahead, where
    // `beside` is called too, while this thread indexes. `bytesRead` counts the bytes read.
    // Throws Failure("Cannot read file " + path) on a read error and ReadStopped once `stop` is
    // raised.
    void indexFile(int fd, const std::string& path, std::size_t chunk,
                   const std::function<void(const char*, std::size_t)>& beside,
                   std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);

    // Drops the text from `stable` on (where no line break lies after `stable`), and with it
    // the lines that start after it; `endsWithCr` tells the byte before `stable`.
    void truncate(ByteOffset stable, bool endsWithCr);
    // Drops the text from `at` on and indexes on from there as from a line start or the middle
    // of its line: the line that holds `at` is measured again from its start.
    void resumeAt(ByteOffset at, bool endsWithCr);

    // The index and what is known of the lines, in the form it is kept in, and the same read
    // back into an empty indexer (false when the form does not fit: the indexer is then to be
    // thrown away).
    void write(std::string& out) const;
    bool read(std::string_view& in);

    // The bytes indexed, the line starts (rows) and the start of a row (below rows()).
    ByteOffset size() const { return static_cast<ByteOffset>(m_size); }
    std::size_t rows() const { return m_rows; }
    ByteOffset rowStart(std::size_t row) const { return m_index.start(row); }
    // What LineSource asks of a document (see there).
    LineCount lineCount() const;
    ByteOffset lineIndex(LineNumber line) const;
    void lineStarts(LineNumber first, LineNumber end, ByteOffset* out) const;
    LineNumber lineFromOffset(ByteOffset offset) const;
    std::int64_t longestLine() const { return m_longestLine; }
    std::int64_t widestLineColumns() const { return m_widestColumns; }
    bool holdsNul() const { return m_holdsNul; }
    // Bytes of memory the index takes.
    std::size_t memory() const { return m_index.memory(); }

private:
    void pushStart(ByteOffset start);
    void dropLastStart();
    // Measures the line that ends at `end`: a finished one (done) or the last one so far.
    void measureLine(std::size_t end, bool done);

    // Line starts, about a byte a row, shared with the indexer this one was copied from.
    LineIndex m_index;
    std::size_t m_rows = 0; // m_index.rows()
    std::size_t m_size = 0;

    // Where indexing stands: the start of the last line and what is known of it.
    std::size_t m_lineStart = 0;
    std::int64_t m_lineColumns = 0; // columns up to m_segmentStart
    std::size_t m_segmentStart = 0; // the byte after the last tab of the line
    bool m_lastWasCr = false;       // the text so far ends with a CR

    std::int64_t m_longestLine = 0;
    std::int64_t m_widestColumns = 0;
    std::int64_t m_longestDone = 0; // over the lines that ended in a break
    std::int64_t m_widestDone = 0;
    bool m_holdsNul = false;
};

} // namespace tlg
