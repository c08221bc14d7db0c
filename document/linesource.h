#pragma once

// What the view, the find, the filters and the overview read a log through: its lines and
// their bytes, whatever holds them (a file read on demand, a decoded file, a text in memory,
// the lines kept from another source). Offsets are byte offsets into the text the source
// shows, lines count from 0. A line source never changes once built; a log that grew is a new
// source that tells it grew from the one before.

#include <climits>
#include <compare>
#include <concepts>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace tlg {

// The three kinds of position a line source deals in, kept apart by type: a byte offset (or a
// length in bytes), a line number and a number of lines. Each holds a 64-bit integer, is built
// from a plain integer implicitly and gives it back only when asked (value(), or an explicit
// cast); one kind never turns into another, so a byte offset passed where a line is wanted, or
// a line compared with a line count, does not compile. Between kinds: a line plus or minus a
// count is a line, a line minus a line is a count.
struct ByteOffsetTag {
    static constexpr bool closed = true; // offsets add and subtract among themselves
};
struct LineNumberTag {
    static constexpr bool closed = false;
};
struct LineCountTag {
    static constexpr bool closed = true;
};

template <class Tag>
class Position {
public:
    constexpr Position() = default;
    template <std::integral I>
        requires(!std::same_as<I, bool>)
    constexpr Position(I value) : m_value(static_cast<std::int64_t>(value))
    {
    }

    constexpr std::int64_t value() const { return m_value; }
    template <class T>
        requires std::is_arithmetic_v<T>
    constexpr explicit operator T() const
    {
        return static_cast<T>(m_value);
    }

    constexpr Position& operator++() { ++m_value; return *this; }
    constexpr Position& operator--() { --m_value; return *this; }
    constexpr Position operator++(int) { Position old = *this; ++m_value; return old; }
    constexpr Position operator--(int) { Position old = *this; --m_value; return old; }
    constexpr Position& operator+=(std::int64_t n) { m_value += n; return *this; }
    constexpr Position& operator-=(std::int64_t n) { m_value -= n; return *this; }
    constexpr Position& operator+=(Position n)
        requires Tag::closed
    {
        m_value += n.m_value;
        return *this;
    }
    constexpr Position& operator-=(Position n)
        requires Tag::closed
    {
        m_value -= n.m_value;
        return *this;
    }

    friend constexpr bool operator==(Position, Position) = default;
    friend constexpr std::strong_ordering operator<=>(Position, Position) = default;

    friend constexpr Position operator+(Position a, std::int64_t n) { return Position(a.m_value + n); }
    friend constexpr Position operator+(std::int64_t n, Position a) { return Position(n + a.m_value); }
    friend constexpr Position operator-(Position a, std::int64_t n) { return Position(a.m_value - n); }
    friend constexpr Position operator+(Position a, Position b)
        requires Tag::closed
    {
        return Position(a.m_value + b.m_value);
    }
    friend constexpr Position operator-(Position a, Position b)
        requires Tag::closed
    {
        return Position(a.m_value - b.m_value);
    }
    friend constexpr Position operator*(Position a, std::int64_t n)
        requires Tag::closed
    {
        return Position(a.m_value * n);
    }
    friend constexpr Position operator*(std::int64_t n, Position a)
        requires Tag::closed
    {
        return Position(n * a.m_value);
    }
    friend constexpr Position operator/(Position a, std::int64_t n)
        requires Tag::closed
    {
        return Position(a.m_value / n);
    }
    // How many times one fits in the other.
    friend constexpr std::int64_t operator/(Position a, Position b)
        requires Tag::closed
    {
        return a.m_value / b.m_value;
    }
    friend constexpr Position operator%(Position a, Position b)
        requires Tag::closed
    {
        return Position(a.m_value % b.m_value);
    }
    // A pointer to the byte at an offset into the text the pointer starts.
    template <class Byte>
    friend constexpr Byte* operator+(Byte* text, Position offset)
        requires std::same_as<Tag, ByteOffsetTag>
    {
        return text + offset.m_value;
    }
    friend constexpr Position operator%(Position a, std::int64_t n)
        requires Tag::closed
    {
        return Position(a.m_value % n);
    }

    template <class Char, class Traits>
    friend std::basic_ostream<Char, Traits>& operator<<(std::basic_ostream<Char, Traits>& out, Position p)
    {
        return out << p.m_value;
    }

private:
    std::int64_t m_value = 0;
};

// Byte offset into a document's text, from 0 (or a length in bytes). A CR LF line break
// counts two.
using ByteOffset = Position<ByteOffsetTag>;
// Line number, from 0.
using LineNumber = Position<LineNumberTag>;
// A number of lines.
using LineCount = Position<LineCountTag>;

constexpr LineNumber operator+(LineNumber line, LineCount n) { return line.value() + n.value(); }
constexpr LineNumber operator+(LineCount n, LineNumber line) { return n.value() + line.value(); }
constexpr LineNumber operator-(LineNumber line, LineCount n) { return line.value() - n.value(); }
constexpr LineCount operator-(LineNumber a, LineNumber b) { return a.value() - b.value(); }
constexpr LineNumber& operator+=(LineNumber& line, LineCount n) { return line += n.value(); }
constexpr LineNumber& operator-=(LineNumber& line, LineCount n) { return line -= n.value(); }

// The line just past the first `n` lines: the end of [0, n).
constexpr LineNumber EndLine(LineCount n) { return n.value(); }
// The number of lines before `line`: the size of [0, line).
constexpr LineCount LinesBefore(LineNumber line) { return line.value(); }

// The one way a position or a count becomes a Qt int (a row, a scroll bar's value): it must
// fit, and callers that may hold more (a log past 2^31 lines) scale or clamp before.
inline int ToQtInt(std::int64_t value)
{
    if (value < INT_MIN || value > INT_MAX)
        throw std::out_of_range("position does not fit in an int");
    return static_cast<int>(value);
}
template <class Tag>
int ToQtInt(Position<Tag> value)
{
    return ToQtInt(value.value());
}

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

template <class Tag>
struct std::hash<tlg::Position<Tag>> {
    std::size_t operator()(tlg::Position<Tag> p) const noexcept { return std::hash<std::int64_t>{}(p.value()); }
};
