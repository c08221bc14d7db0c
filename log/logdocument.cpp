#include "log/logdocument.h"

#include "log/linelayout.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tlg {

namespace {

// Rooms this large are mapped by themselves rather than taken from the heap.
constexpr std::size_t kMappedRoom = 32u << 20;

// The first LF, CR or tab at or after `at`, or `end`; sets `nul` when a NUL byte lies in what
// it passed over. One pass finds what the index needs, sixteen bytes at a time where it can.
const char* nextStop(const char* at, const char* end, bool& nul)
{
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i zero = _mm_setzero_si128();
    __m128i nuls = zero;
    for (; end - at >= 16; at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        nuls = _mm_or_si128(nuls, _mm_cmpeq_epi8(block, zero));
        const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, lf), _mm_cmpeq_epi8(block, cr)),
                                           _mm_cmpeq_epi8(block, tab));
        const int mask = _mm_movemask_epi8(stops);
        if (mask != 0) {
            nul = nul || _mm_movemask_epi8(nuls) != 0;
            return at + __builtin_ctz(static_cast<unsigned>(mask));
        }
    }
    nul = nul || _mm_movemask_epi8(nuls) != 0;
#endif
    for (; at < end; ++at) {
        const char c = *at;
        nul = nul || c == '\0';
        if (c == '\n' || c == '\r' || c == '\t')
            return at;
    }
    return end;
}

// Room for the line starts of a text of this size before the index must grow: one start per
// 32 bytes, more than log lines need, costs nothing until it is written.
std::size_t startRoomFor(std::size_t size)
{
    return size / 32 + 64;
}

} // namespace

void* AllocateRoom(std::size_t bytes)
{
    if (bytes < kMappedRoom)
        return ::operator new(bytes);
    void* room = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED)
        throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    ::madvise(room, bytes, MADV_HUGEPAGE);
#endif
    return room;
}

void ReleaseRoom(void* room, std::size_t bytes)
{
    if (bytes < kMappedRoom)
        ::operator delete(room);
    else
        ::munmap(room, bytes);
}

std::size_t TextRoomFor(std::size_t size)
{
    return size + std::max<std::size_t>(size / 8, 1u << 20);
}

void LogDocument::pushStart(ByteOffset start)
{
    if (m_rows == m_claimedRows) {
        std::size_t want = std::min(m_rows + 4096, m_starts->capacity());
        if (want == m_rows || !m_starts->claim(m_rows, want)) {
            // Out of room, or another document took the room after ours: a buffer of our own.
            auto bigger = std::make_shared<StartBuffer>(std::max<std::size_t>(2 * m_rows, 4096));
            std::copy(m_starts->data(), m_starts->data() + m_rows, bigger->data());
            want = std::min(m_rows + 4096, bigger->capacity());
            bigger->claim(0, want);
            m_starts = std::move(bigger);
        }
        m_claimedRows = want;
    }
    m_starts->data()[m_rows++] = start;
}

void LogDocument::finishStarts()
{
    if (m_claimedRows > m_rows)
        m_starts->unclaim(m_claimedRows, m_rows);
    m_claimedRows = m_rows;
}

void LogDocument::indexFrom(std::size_t from, std::size_t lineStartOffset)
{
    const char* const begin = m_text->data();
    const char* const end = begin + m_size;
    const char* lineStart = begin + lineStartOffset;
    // A line that runs on from text indexed before may already hold a tab.
    bool lineHasTab = std::memchr(lineStart, '\t', from - lineStartOffset) != nullptr;
    auto measure = [&](const char* lineEnd) {
        const std::int64_t length = lineEnd - lineStart;
        m_longestLine = std::max(m_longestLine, length);
        const std::int64_t columns =
            lineHasTab ? columnOfByte(std::string_view(lineStart, static_cast<std::size_t>(length)),
                                      static_cast<std::size_t>(length))
                       : length;
        m_widestColumns = std::max(m_widestColumns, columns);
    };
    for (const char* at = begin + from;;) {
        const char* stop = nextStop(at, end, m_holdsNul);
        if (stop == end)
            break;
        if (*stop == '\t') {
            lineHasTab = true;
            at = stop + 1;
            continue;
        }
        measure(stop);
        const char* after = stop + 1;
        if (*stop == '\r' && after < end && *after == '\n')
            ++after; // CR LF is one break
        pushStart(after - begin);
        lineStart = at = after;
        lineHasTab = false;
    }
    measure(end);
    finishStarts();
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
        // A log that outgrew its room goes on growing: half as much again, which costs nothing
        // until it is written, spares most copies of the whole text.
        auto bigger = std::make_shared<TextBuffer>(newSize + newSize / 2);
        std::copy(m_text->data(), m_text->data() + m_size, bigger->data());
        bigger->claim(0, newSize);
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
        doc->m_rows = doc->m_claimedRows = m_rows - 1;
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
