#include "document/linesource.h"

#include <gtest/gtest.h>

#include <climits>
#include <concepts>
#include <stdexcept>
#include <type_traits>

namespace tlg {
namespace {

template <class A, class B>
concept Addable = requires(A a, B b) { a + b; };
template <class A, class B>
concept Comparable = requires(A a, B b) { a < b; };

// A byte offset, a line and a count of lines never stand in for one another.
static_assert(!std::is_convertible_v<ByteOffset, LineNumber>);
static_assert(!std::is_convertible_v<LineNumber, ByteOffset>);
static_assert(!std::is_convertible_v<LineCount, LineNumber>);
static_assert(!std::is_convertible_v<LineNumber, LineCount>);
static_assert(!std::is_convertible_v<ByteOffset, LineCount>);
static_assert(!std::is_convertible_v<LineNumber, std::int64_t>);
static_assert(!Addable<LineNumber, ByteOffset>);
static_assert(!Addable<ByteOffset, LineCount>);
static_assert(!Addable<LineNumber, LineNumber>);
static_assert(!Comparable<LineNumber, LineCount>);
static_assert(!Comparable<LineNumber, ByteOffset>);
// What does mix: a line moved by a count is a line, the lines between two lines a count.
static_assert(std::same_as<decltype(LineNumber() + LineCount()), LineNumber>);
static_assert(std::same_as<decltype(LineNumber() - LineNumber()), LineCount>);
static_assert(LineNumber(7) - LineNumber(3) == LineCount(4));

TEST(Positions, ToQtIntRefusesWhatDoesNotFit)
{
    EXPECT_EQ(ToQtInt(LineNumber(INT_MAX)), INT_MAX);
    EXPECT_EQ(ToQtInt(ByteOffset(INT_MIN)), INT_MIN);
    EXPECT_THROW(ToQtInt(LineNumber(std::int64_t{INT_MAX} + 1)), std::out_of_range);
    EXPECT_THROW(ToQtInt(LineCount(std::int64_t{1} << 40)), std::out_of_range);
    EXPECT_THROW(ToQtInt(std::int64_t{INT_MIN} - 1), std::out_of_range);
}

} // namespace
} // namespace tlg
