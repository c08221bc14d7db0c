#include "log/logdocument.h"

#include "log/linelayout.h"

#include <algorithm>
#include <cstring>

namespace tlg {

namespace {

// Room for the line starts of a text of this size before the index must grow: one start per
// 32 bytes, more than log lines need, costs nothing until it is written.
std::size_t startRoomFor(std::size_t size)
{
    return size / 32 + 64;
}

} // namespace

std::size_t TextRoomFor(std::size_t size)
{
    return size + std::max<std::size_t>(size / 8, 1u << 20);
}

void LogDocument::pushStart(ByteOffset start)
{
    if (!m_starts->claim(m_rows, m_rows + 1)) {
        // Out of room, or another document took the room after ours: a buffer of our own.
        auto bigger = std::make_shared<StartBuffer>(std::max<std::size_t>(2 * m_rows, 64));
        std::copy(m_starts->data(), m_starts->data() + m_rows, bigger->data());
        bigger->claim(0, m_rows + 1);
        m_starts = std::move(bigger);
    }
    m_starts->data()[m_rows++] = start;
}

// Finds the line starts with memchr, which is far faster than a byte loop. A CR or a tab is
// looked for only while one may lie ahead, so a text with LF breaks and no tabs pays one scan.
void LogDocument::indexFrom(std::size_t from, std::size_t lineStartOffset)
{
    const char* const begin = m_text->data();
    const char* const end = begin + m_size;
    auto find = [end](const char* at, char c) {
        return static_cast<const char*>(std::memchr(at, c, static_cast<std::size_t>(end - at)));
    };
    const char* lineStart = begin + lineStartOffset;
    const char* nextLf = find(begin + from, '\n');
    const char* nextCr = find(begin + from, '\r');
    const char* nextTab = find(lineStart, '\t');
    auto measure = [&](const char* lineEnd) {
        const std::int64_t length = lineEnd - lineStart;
        m_longestLine = std::max(m_longestLine, length);
        std::int64_t columns = length;
        if (nextTab && nextTab < lineEnd) {
            columns = columnOfByte(std::string_view(lineStart, static_cast<std::size_t>(length)),
                                   static_cast<std::size_t>(length));
            nextTab = find(lineEnd, '\t');
        }
        m_widestColumns = std::max(m_widestColumns, columns);
    };
    while (nextLf || nextCr) {
        const char* brk = (nextLf && (!nextCr || nextLf < nextCr)) ? nextLf : nextCr;
        measure(brk);
        const char* after = brk + 1;
        if (*brk == '\r' && after < end && *after == '\n')
            ++after; // CR LF is one break
        lineStart = after;
        pushStart(after - begin);
        if (nextLf && nextLf < after)
            nextLf = find(after, '\n');
        if (nextCr && nextCr < after)
            nextCr = find(after, '\r');
    }
    measure(end);
}

DocumentPtr LogDocument::adopt(std::shared_ptr<TextBuffer> buffer, std::size_t size,
                               FileIdentity identity)
{
    auto doc = std::shared_ptr<LogDocument>(new LogDocument());
    buffer->claim(0, size);
    doc->m_text = std::move(buffer);
    doc->m_size = size;
    doc->m_identity = identity;
    doc->m_starts = std::make_shared<StartBuffer>(startRoomFor(size));
    doc->pushStart(0);
    doc->indexFrom(0, 0);
    return doc;
}

DocumentPtr LogDocument::fromBytes(std::string_view bytes)
{
    auto buffer = std::make_shared<TextBuffer>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer->data());
    return adopt(std::move(buffer), bytes.size(), FileIdentity{});
}

DocumentPtr LogDocument::empty()
{
    static const DocumentPtr emptyDocument = fromBytes(std::string_view());
    return emptyDocument;
}

DocumentPtr LogDocument::appended(std::string_view more) const
{
    auto doc = std::shared_ptr<LogDocument>(new LogDocument(*this));
    if (more.empty())
        return doc;
    const std::size_t newSize = m_size + more.size();
    if (!doc->m_text->claim(m_size, newSize)) {
        auto bigger = std::make_shared<TextBuffer>(TextRoomFor(newSize));
        std::copy(m_text->data(), m_text->data() + m_size, bigger->data());
        bigger->claim(0, m_size);
        doc->m_text = std::move(bigger);
    }
    std::copy(more.begin(), more.end(), doc->m_text->data() + m_size);
    doc->m_size = newSize;

    // The last line runs on into the new bytes. A CR that ended the text and an LF that begins
    // the new bytes are one break: the last line start moves past the LF, which the index
    // shared with this document must not see, so the new one gets an index of its own.
    std::size_t lineStart = static_cast<std::size_t>(m_starts->data()[m_rows - 1]);
    if (m_size > 0 && m_text->data()[m_size - 1] == '\r' && more.front() == '\n') {
        auto own = std::make_shared<StartBuffer>(startRoomFor(newSize) + m_rows);
        std::copy(m_starts->data(), m_starts->data() + m_rows - 1, own->data());
        own->claim(0, m_rows - 1);
        doc->m_starts = std::move(own);
        doc->m_rows = m_rows - 1;
        doc->pushStart(static_cast<ByteOffset>(m_size + 1));
        lineStart = m_size + 1;
        doc->indexFrom(m_size + 1, lineStart);
        return doc;
    }
    doc->indexFrom(m_size, lineStart);
    return doc;
}

LineCount LogDocument::lineCount() const
{
    const LineCount rows = rowCount();
    return m_starts->data()[m_rows - 1] == size() ? rows - 1 : rows;
}

ByteOffset LogDocument::lineIndex(LineNumber line) const
{
    if (line < 0)
        return 0;
    if (line >= rowCount())
        return size();
    return m_starts->data()[line];
}

ByteOffset LogDocument::lineContentEnd(LineNumber line) const
{
    if (line < 0)
        line = 0;
    if (line + 1 >= rowCount())
        return size();
    const ByteOffset start = m_starts->data()[line];
    ByteOffset end = m_starts->data()[line + 1];
    const char* const bytes = m_text->data();
    // Step back over the break: LF, CR LF or a lone CR.
    if (bytes[end - 1] == '\n') {
        --end;
        if (end > start && bytes[end - 1] == '\r')
            --end;
    } else {
        --end;
    }
    return end;
}

LineNumber LogDocument::lineFromOffset(ByteOffset offset) const
{
    offset = std::clamp<ByteOffset>(offset, 0, size());
    const ByteOffset* starts = m_starts->data();
    const ByteOffset* it = std::upper_bound(starts, starts + m_rows, offset);
    return static_cast<LineNumber>(it - starts) - 1;
}

std::string_view LogDocument::lineText(LineNumber line) const
{
    const ByteOffset start = lineIndex(line);
    const ByteOffset end = lineContentEnd(line);
    return text().substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

} // namespace tlg
