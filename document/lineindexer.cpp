#include "document/lineindexer.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "core/piecerelay.h"
#include "document/compressedindexcache.h"
#include "document/tabstops.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <sys/stat.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tlg {

namespace {

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

// The chunks still to read from which a file is read on a worker of its own, beside its
// indexing.
constexpr std::int64_t kReadAlongside = 8;

// A reusable read buffer that is never filled with zeros first.
struct ReadBuffer {
    std::unique_ptr<char[]> bytes;
    explicit ReadBuffer(std::size_t size) : bytes(new char[std::max<std::size_t>(size, 1)]) {}
    char* data() { return bytes.get(); }
};

} // namespace

void LineIndexer::begin(std::size_t textBytes)
{
    m_index.reserve(textBytes);
    pushStart(0);
}

void LineIndexer::pushStart(ByteOffset start)
{
    m_index.push(start);
    ++m_rows;
}

void LineIndexer::dropLastStart()
{
    m_index.dropLast();
    --m_rows;
}

void LineIndexer::measureLine(std::size_t end, bool done)
{
    const auto length = static_cast<std::int64_t>(end - m_lineStart);
    const std::int64_t columns = m_lineColumns + static_cast<std::int64_t>(end - m_segmentStart);
    if (done) {
        m_longestDone = std::max(m_longestDone, length);
        m_widestDone = std::max(m_widestDone, columns);
    } else {
        m_longestLine = std::max(m_longestDone, length);
        m_widestColumns = std::max(m_widestDone, columns);
    }
}

void LineIndexer::add(const char* bytes, std::size_t length)
{
    const std::size_t at = m_size;
    const char* p = bytes;
    const char* const end = bytes + length;
    if (m_lastWasCr && length > 0) {
        m_lastWasCr = false;
        if (*p == '\n') {
            // A CR that ended the text and this LF are one break: the line starts after the LF.
            dropLastStart();
            pushStart(static_cast<ByteOffset>(at + 1));
            m_lineStart = m_segmentStart = at + 1;
            ++p;
        }
    }
    for (;;) {
        const char* stop = nextStop(p, end, m_holdsNul);
        if (stop == end)
            break;
        const std::size_t offset = at + static_cast<std::size_t>(stop - bytes);
        if (*stop == '\t') {
            m_lineColumns = (m_lineColumns + static_cast<std::int64_t>(offset - m_segmentStart)) / kTabWidth * kTabWidth + kTabWidth;
            m_segmentStart = offset + 1;
            p = stop + 1;
            continue;
        }
        measureLine(offset, true);
        const char* after = stop + 1;
        if (*stop == '\r') {
            if (after == end)
                m_lastWasCr = true;
            else if (*after == '\n')
                ++after; // CR LF is one break
        }
        const std::size_t next = at + static_cast<std::size_t>(after - bytes);
        pushStart(static_cast<ByteOffset>(next));
        m_lineStart = m_segmentStart = next;
        m_lineColumns = 0;
        p = after;
    }
    m_size = at + length;
}

void LineIndexer::finish()
{
    measureLine(m_size, false);
    m_index.finish();
}

LineIndexer LineIndexer::snapshot() const
{
    LineIndexer copy(*this);
    copy.measureLine(m_size, false);
    return copy;
}

void LineIndexer::indexFile(int fd, const std::string& path, std::size_t chunk,
                            const std::function<void(const char*, std::size_t)>& beside,
                            std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    chunk = std::max<std::size_t>(chunk, 1);
    struct stat st {};
    if (::fstat(fd, &st) == 0 &&
        st.st_size - static_cast<std::int64_t>(m_size) >= kReadAlongside * static_cast<std::int64_t>(chunk)) {
        // A worker reads the file and hands it to `beside`, a few chunks ahead, while this
        // thread indexes what it read: the two take about as long.
        PieceRelay relay(chunk, 3, [&, at = static_cast<std::int64_t>(m_size)](PieceRelay::Piece& piece) mutable {
            const std::int64_t got = ReadAt(fd, piece.bytes.get(), chunk, at);
            if (got < 0)
                throw Failure("Cannot read file " + path);
            piece.length = static_cast<std::size_t>(got);
            beside(piece.bytes.get(), piece.length);
            at += got;
            // The end: what a writer adds meanwhile is read at the next change.
            return piece.length < chunk || (stop && stop->load(std::memory_order_relaxed));
        });
        while (PieceRelay::Piece* piece = relay.take(stop)) {
            add(piece->bytes.get(), piece->length);
            if (bytesRead)
                bytesRead->fetch_add(static_cast<std::int64_t>(piece->length), std::memory_order_relaxed);
            relay.giveBack(piece);
        }
        return;
    }
    ReadBuffer buffer(chunk);
    for (;;) {
        ThrowIfStopped(stop);
        const std::int64_t got = ReadAt(fd, buffer.data(), chunk, static_cast<std::int64_t>(m_size));
        if (got < 0)
            throw Failure("Cannot read file " + path);
        if (got == 0)
            return;
        const auto length = static_cast<std::size_t>(got);
        beside(buffer.data(), length);
        add(buffer.data(), length);
        if (bytesRead)
            bytesRead->fetch_add(got, std::memory_order_relaxed);
        if (length < chunk)
            return; // the end: what a writer adds meanwhile is read at the next change
    }
}

void LineIndexer::truncate(ByteOffset stable, bool endsWithCr)
{
    while (m_rows > 1 && rowStart(m_rows - 1) > stable)
        dropLastStart(); // (a pending end holds no line break: kept for safety)
    m_size = static_cast<std::size_t>(stable);
    m_lastWasCr = endsWithCr;
}

void LineIndexer::resumeAt(ByteOffset at, bool endsWithCr)
{
    truncate(at, endsWithCr);
    if (endsWithCr && rowStart(m_rows - 1) != at)
        pushStart(at); // a CR whose LF lies after the point: the LF joins it again
    m_lineStart = m_segmentStart = static_cast<std::size_t>(rowStart(m_rows - 1));
    m_lineColumns = 0;
}

// The kept form holds the index in this machine's byte order (a kept index never leaves the
// machine).
void LineIndexer::write(std::string& out) const
{
    PutFixed(out, m_size);
    PutVarint(out, m_rows);
    m_index.write(out);
    for (std::int64_t value : {m_longestLine, m_widestColumns, m_longestDone, m_widestDone, m_lineColumns,
                               static_cast<std::int64_t>(m_lineStart), static_cast<std::int64_t>(m_segmentStart)})
        PutFixed(out, static_cast<std::uint64_t>(value));
    PutVarint(out, (m_holdsNul ? 1 : 0) | (m_lastWasCr ? 2 : 0));
}

bool LineIndexer::read(std::string_view& in)
{
    std::uint64_t size = 0, rows = 0;
    if (!TakeFixed(in, size) || size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
        !TakeVarint(in, rows) || rows == 0)
        return false;
    m_index = LineIndex();
    if (!m_index.read(in, static_cast<std::int64_t>(size)) || m_index.rows() != rows || m_index.start(0) != 0)
        return false;
    std::uint64_t values[7] = {};
    std::uint64_t flags = 0;
    for (std::uint64_t& value : values)
        if (!TakeFixed(in, value))
            return false;
    if (!TakeVarint(in, flags))
        return false;
    m_rows = static_cast<std::size_t>(rows);
    m_size = static_cast<std::size_t>(size);
    m_longestLine = static_cast<std::int64_t>(values[0]);
    m_widestColumns = static_cast<std::int64_t>(values[1]);
    m_longestDone = static_cast<std::int64_t>(values[2]);
    m_widestDone = static_cast<std::int64_t>(values[3]);
    m_lineColumns = static_cast<std::int64_t>(values[4]);
    m_lineStart = static_cast<std::size_t>(values[5]);
    m_segmentStart = static_cast<std::size_t>(values[6]);
    m_holdsNul = (flags & 1) != 0;
    m_lastWasCr = (flags & 2) != 0;
    finish();
    return true;
}

LineCount LineIndexer::lineCount() const
{
    const auto rows = static_cast<LineCount>(m_rows);
    return rowStart(m_rows - 1) == size() ? rows - 1 : rows;
}

ByteOffset LineIndexer::lineIndex(LineNumber line) const
{
    if (line < 0)
        return 0;
    if (line >= EndLine(static_cast<LineCount>(m_rows)))
        return size();
    return rowStart(static_cast<std::size_t>(line));
}

void LineIndexer::lineStarts(LineNumber first, LineNumber end, ByteOffset* out) const
{
    const LineNumber rows = EndLine(static_cast<LineCount>(m_rows));
    const LineNumber from = std::clamp(first, LineNumber(0), rows);
    const LineNumber to = std::clamp(end, from, rows);
    for (; first < from; ++first)
        *out++ = lineIndex(first);
    m_index.starts(static_cast<std::size_t>(from.value()), static_cast<std::size_t>((to - from).value()), out);
    out += (to - from).value();
    for (first = std::max(first, to); first < end; ++first)
        *out++ = lineIndex(first);
}

LineNumber LineIndexer::lineFromOffset(ByteOffset offset) const
{
    return static_cast<LineNumber>(m_index.rowAt(std::clamp<ByteOffset>(offset, 0, size())));
}

} // namespace tlg
