#pragma once

// What the view, the find, the filters and the overview read a log through: its lines and
// their bytes, whatever holds them (a file read on demand, a decoded file, a text in memory,
// the lines kept from another source). Offsets are byte offsets into the text the source
// shows, lines count from 0. A line source never changes once built; a log that grew is a new
// source that tells it grew from the one before.

#include "document/positions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tlg {

// Bytes of a line source, kept readable for as long as this object lives: a view into the
// document's memory or into a block it read from its file, or a copy of its own when the bytes
// cross blocks. Cheap to copy. Used where a std::string_view is wanted through view() or, for
// a named slice, by conversion.
class TextSlice {
public:
    TextSlice() = default;
    TextSlice(std::string_view bytes, std::shared_ptr<const void> keep) : m_keep(std::move(keep)), m_view(bytes) {}
    // A slice that owns its bytes.
    static TextSlice owning(std::string bytes);

    std::string_view view() const { return m_view; }
    operator std::string_view() const& { return m_view; }
    operator std::string_view() const&& = delete; // the bytes may go with the temporary
    const char* data() const { return m_view.data(); }
    std::size_t size() const { return m_view.size(); }
    bool empty() const { return m_view.empty(); }
    char operator[](std::size_t i) const { return m_view[i]; }
    std::string_view substr(std::size_t from, std::size_t count = std::string_view::npos) const&
    {
        return m_view.substr(from, count);
    }
    // The bytes may go with the temporary.
    std::string_view substr(std::size_t from, std::size_t count = std::string_view::npos) const&& = delete;

    friend bool operator==(const TextSlice& a, const TextSlice& b) { return a.m_view == b.m_view; }
    friend bool operator==(const TextSlice& a, std::string_view b) { return a.m_view == b; }

private:
    std::shared_ptr<const void> m_keep;
    std::string_view m_view;
};

// A stretch of the text a line pass visits (forEachLineBlock). Either whole lines [first, end)
// with their breaks (startsLine and endsLine both true), or, for a line longer than the pass's
// chunk, one piece of the line `first` (end == first + 1): the pieces of a line come one after
// the other, without overlap, in order; the first has startsLine, the last (which holds the
// line's break) has endsLine; a piece may end inside a character or between the CR and the LF
// of a break. `offset` is where `bytes` starts in the text.
struct LineBlock {
    LineNumber first = 0;
    LineNumber end = 0;
    ByteOffset offset = 0;
    std::string_view bytes;
    bool startsLine = true;
    bool endsLine = true;
};

class LineSource;
using LinesPtr = std::shared_ptr<const LineSource>;
class TimedParts;

// What a source knows of a line's weight apart from its words (a journal entry's priority).
enum class LineLevel : std::uint8_t { None, Info, Error };

class LineSource {
public:
    virtual ~LineSource() = default;

    // The bytes the source shows.
    virtual ByteOffset size() const = 0;
    // The number of lines, not counting the empty line that follows a final line break: "a\nb"
    // and "a\nb\n" have 2 lines, "" has 0.
    virtual LineCount lineCount() const = 0;
    // The number of line starts: lineCount(), plus 1 when the text is empty or ends with a
    // line break (the empty last line where the caret can stand).
    virtual LineCount rowCount() const = 0;
    // The offset of the first byte of a line; a line past the last gives the text's size, a
    // negative line 0.
    virtual ByteOffset lineIndex(LineNumber line) const = 0;
    // The starts of the lines [first, end) into out, as lineIndex gives them one by one; a
    // source may read them faster together.
    virtual void lineStarts(LineNumber first, LineNumber end, ByteOffset* out) const;
    // The offset one past the last byte of a line's content, before its line break.
    virtual ByteOffset lineContentEnd(LineNumber line) const = 0;
    // The line that holds the byte at offset (offsets are clamped into 0..size()). The end of a
    // text that ends with a line break lies on the empty line after it.
    virtual LineNumber lineFromOffset(ByteOffset offset) const = 0;
    // The bytes [from, to), clamped to the text.
    virtual TextSlice slice(ByteOffset from, ByteOffset to) const = 0;
    // The same bytes for a pass that reads each stretch once (never kept for the next caller).
    virtual TextSlice read(ByteOffset from, ByteOffset to) const { return slice(from, to); }
    // The content of a line without its line break.
    TextSlice lineText(LineNumber line) const { return slice(lineIndex(line), lineContentEnd(line)); }
    // The whole text copied, for small texts and tests.
    std::string copyText() const;

    // The length in bytes of the longest line's content, and the width in columns of the
    // widest one (tabs run to their stops); for lines kept from another source, at most those
    // of that source.
    virtual std::int64_t longestLine() const = 0;
    virtual std::int64_t widestLineColumns() const = 0;

    // The number a line has in the log it comes from, from 0: itself, unless the source shows
    // some lines of another.
    virtual LineNumber lineInLog(LineNumber line) const { return line; }
    // The line here that shows the log's line `logLine`, or else the first one after it that
    // this source shows (the line count when none does).
    virtual LineNumber lineShowing(LineNumber logLine) const { return logLine; }
    // Where a line comes from when the log is made of several files: which file (an index
    // into them, 0 for a log of one file) and the number the line has there, from 0.
    virtual std::size_t fileOf(LineNumber /*line*/) const { return 0; }
    virtual LineNumber lineInFile(LineNumber line) const { return lineInLog(line); }
    // The line's level, for sources that know one (None by default): a view paints the line
    // in the level's colour where no label colours it.
    virtual LineLevel lineLevel(LineNumber) const { return LineLevel::None; }
    // Whether this source is `earlier` with lines appended: its first earlier.size() bytes
    // are earlier's, and so are its line starts but the last.
    virtual bool grewFrom(const LineSource& earlier) const = 0;
    // The logs this source is made of, each with its own times (timedparts.h), for a source of
    // several such logs; null for a source of one log.
    virtual const TimedParts* timedParts() const { return nullptr; }

    // Calls `visit(offset, bytes)` for [from, to) a chunk of about `chunk` bytes at a time, in
    // order; each chunk but the first also holds the `overlap` bytes before it, so that a
    // pattern of overlap + 1 bytes is never missed at a seam (`offset` is where `bytes`
    // starts). Stops when visit returns false; returns false then, true otherwise.
    bool forEachChunk(ByteOffset from, ByteOffset to, std::size_t chunk, std::size_t overlap,
                      const std::function<bool(ByteOffset, std::string_view)>& visit) const;
    // The same, backwards: the chunks from `to` down to `from`, each holding also the
    // `overlap` bytes after it.
    bool forEachChunkBackwards(ByteOffset from, ByteOffset to, std::size_t chunk, std::size_t overlap,
                               const std::function<bool(ByteOffset, std::string_view)>& visit) const;
    // Calls `visit(block)` for the lines [first, end) in order: blocks of whole lines (with their
    // breaks) of at most `chunk` bytes, and a line longer than `chunk` in pieces of at most
    // `chunk` bytes (see LineBlock), so that a pass never holds more than about `chunk` bytes
    // however long a line is. Stops when visit returns false; returns false then, true otherwise.
    bool forEachLineBlock(LineNumber first, LineNumber end, std::size_t chunk,
                          const std::function<bool(const LineBlock&)>& visit) const;
    // The older form: `visit(first, end, bytes)` for blocks of whole lines of about `chunk` bytes,
    // a longer line making a block of its own, read whole. For callers that still need whole
    // lines; it holds the longest line in memory.
    bool forEachLineBlock(LineNumber first, LineNumber end, std::size_t chunk,
                          const std::function<bool(LineNumber, LineNumber, std::string_view)>& visit) const;

protected:
    // The bytes [start, start + length) for a pass: a view of memory the source holds, or the
    // bytes read into `buffer`.
    virtual std::string_view passBytes(ByteOffset start, std::size_t length, std::string& buffer) const;
};

} // namespace tlg
