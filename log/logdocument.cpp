#include "log/logdocument.h"

#include <algorithm>
#include <cstring>

namespace tlg {

namespace {

// Finds the line starts of text with memchr, which is far faster than a byte loop. A CR is
// looked for only while one may lie ahead, so a text with LF breaks only pays one scan.
void indexLines(std::string_view text, std::vector<ByteOffset>& starts, std::int64_t& longest)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* nextLf = static_cast<const char*>(std::memchr(begin, '\n', text.size()));
    const char* nextCr = static_cast<const char*>(std::memchr(begin, '\r', text.size()));
    const char* lineStart = begin;
    starts.push_back(0);
    longest = 0;
    while (nextLf || nextCr) {
        const char* brk = (nextLf && (!nextCr || nextLf < nextCr)) ? nextLf : nextCr;
        longest = std::max<std::int64_t>(longest, brk - lineStart);
        const char* after = brk + 1;
        if (*brk == '\r' && after < end && *after == '\n')
            ++after; // CR LF is one break
        lineStart = after;
        starts.push_back(after - begin);
        if (nextLf && nextLf < after)
            nextLf = static_cast<const char*>(std::memchr(after, '\n', end - after));
        if (nextCr && nextCr < after)
            nextCr = static_cast<const char*>(std::memchr(after, '\r', end - after));
    }
    longest = std::max<std::int64_t>(longest, end - lineStart);
}

} // namespace

DocumentPtr LogDocument::fromBytes(std::string bytes)
{
    auto doc = std::shared_ptr<LogDocument>(new LogDocument());
    doc->m_bytes = std::move(bytes);
    indexLines(doc->m_bytes, doc->m_lineStarts, doc->m_longestLine);
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
