#pragma once

// Positions in a text: byte offsets, line numbers and line counts, each a type of its own.

#include <climits>
#include <compare>
#include <concepts>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <stdexcept>
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

} // namespace tlg

template <class Tag>
struct std::hash<tlg::Position<Tag>> {
    std::size_t operator()(tlg::Position<Tag> p) const noexcept { return std::hash<std::int64_t>{}(p.value()); }
};
