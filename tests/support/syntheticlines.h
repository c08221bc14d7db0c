#pragma once

// A log of any number of lines that exists only as a rule: line n is n written in 15 digits,
// then LF. Reads make the bytes asked for, so a log of billions of lines costs nothing.

#include "document/linesource.h"

#include <algorithm>
#include <cstdio>

namespace tlg::testing {

class SyntheticLines : public LineSource {
public:
    static constexpr ByteOffset kLineBytes = 16;
    explicit SyntheticLines(LineCount lines) : m_lines(lines) {}

    static std::string lineOf(LineNumber line)
    {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%015lld", static_cast<long long>(line));
        return digits;
    }

    ByteOffset size() const override { return kLineBytes * m_lines.value(); }
    LineCount lineCount() const override { return m_lines; }
    LineCount rowCount() const override { return m_lines + 1; }
    ByteOffset lineIndex(LineNumber line) const override { return kLineBytes * std::clamp<LineNumber>(line, 0, EndLine(m_lines)).value(); }
    ByteOffset lineContentEnd(LineNumber line) const
        override { return line >= EndLine(m_lines) ? size() : lineIndex(line) + kLineBytes - 1; }
    LineNumber lineFromOffset(ByteOffset offset) const override { return std::clamp<ByteOffset>(offset, 0, size()) / kLineBytes; }
    TextSlice slice(ByteOffset from, ByteOffset to) const override
    {
        from = std::clamp<ByteOffset>(from, 0, size());
        to = std::clamp<ByteOffset>(to, from, size());
        std::string bytes;
        for (LineNumber line = from / kLineBytes; kLineBytes * line.value() < to; ++line)
            bytes += lineOf(line) + "\n";
        const auto skip = static_cast<std::size_t>(from % kLineBytes);
        return TextSlice::owning(bytes.substr(skip, static_cast<std::size_t>(to - from)));
    }
    std::int64_t longestLine() const override { return (kLineBytes - 1).value(); }
    std::int64_t widestLineColumns() const override { return (kLineBytes - 1).value(); }
    bool grewFrom(const LineSource&) const override { return false; }

private:
    LineCount m_lines;
};

} // namespace tlg::testing
