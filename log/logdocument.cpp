#include "log/logdocument.h"

#include "log/linelayout.h"

#include <algorithm>
#include <cstring>

namespace tlg {

namespace {

struct LineStats {
    std::int64_t longest = 0; // bytes
    std::int64_t widest = 0;  // columns
};

// Finds the line starts of text with memchr, which is far faster than a byte loop. A CR or a
// tab is looked for only while one may lie ahead, so a text with LF breaks and no tabs pays one
// scan.
void indexLines(std::string_view text, std::vector<ByteOffset>& starts, LineStats& stats)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    auto find = [end](const char* from, char c) {
        return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
    };
    const char* nextLf = find(begin, '\n');
    const char* nextCr = find(begin, '\r');
    const char* nextTab = find(begin, '\t');
    const char* lineStart = begin;
    auto measure = [&](const char* lineEnd) {
        const std::int64_t length = lineEnd - lineStart;
        stats.longest = std::max(stats.longest, length);
        std::int64_t columns = length;
        if (nextTab && nextTab < lineEnd) {
            columns = columnOfByte(std::string_view(lineStart, static_cast<std::size_t>(length)),
                                   static_cast<std::size_t>(length));
            nextTab = find(lineEnd, '\t');
        }
        stats.widest = std::max(stats.widest, columns);
    };
    starts.push_back(0);
    while (nextLf || nextCr) {
        const char* brk = (nextLf && (!nextCr || nextLf < nextCr)) ? nextLf : nextCr;
        measure(brk);
        const char* after = brk + 1;
        if (*brk == '\r' && after < end && *after == '\n')
            ++after; // CR LF is one break
        lineStart = after;
        starts.push_back(after - begin);
        if (nextLf && nextLf < after)
            nextLf = find(after, '\n');
        if (nextCr && nextCr < after)
            nextCr = find(after, '\r');
    }
    measure(end);
}

} // namespace

DocumentPtr LogDocument::fromBytes(std::string bytes)
{
    auto doc = std::shared_ptr<LogDocument>(new LogDocument());
    doc->m_bytes = std::move(bytes);
    LineStats stats;
    indexLines(doc->m_bytes, doc->m_lineStarts, stats);
    doc->m_longestLine = stats.longest;
    doc->m_widestColumns = stats.widest;
    return doc;
}

DocumentPtr LogDocument::empty()
{
    static const DocumentPtr emptyDocument = fromBytes(std::string());
    return emptyDocument;
}

LineCount LogDocument::lineCount() const
{
    const LineCount rows = rowCount();
    return m_lineStarts.back() == size() ? rows - 1 : rows;
}

ByteOffset LogDocument::lineIndex(LineNumber line) const
{
    if (line < 0)
        return 0;
    if (line >= rowCount())
        return size();
    return m_lineStarts[static_cast<std::size_t>(line)];
}

ByteOffset LogDocument::lineContentEnd(LineNumber line) const
{
    if (line < 0)
        line = 0;
    if (line + 1 >= rowCount())
        return size();
    const ByteOffset start = m_lineStarts[static_cast<std::size_t>(line)];
    ByteOffset end = m_lineStarts[static_cast<std::size_t>(line) + 1];
    // Step back over the break: LF, CR LF or a lone CR.
    if (m_bytes[static_cast<std::size_t>(end - 1)] == '\n') {
        --end;
        if (end > start && m_bytes[static_cast<std::size_t>(end - 1)] == '\r')
            --end;
    } else {
        --end;
    }
    return end;
}

LineNumber LogDocument::lineFromOffset(ByteOffset offset) const
{
    offset = std::clamp<ByteOffset>(offset, 0, size());
    auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    return static_cast<LineNumber>(it - m_lineStarts.begin()) - 1;
}

std::string_view LogDocument::lineText(LineNumber line) const
{
    const ByteOffset start = lineIndex(line);
    const ByteOffset end = lineContentEnd(line);
    return text().substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

} // namespace tlg
