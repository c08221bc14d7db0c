#include "document/logdocument.h"

#include "core/errors.h"
#include "document/tabstops.h"

#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// Line starts are grouped: the first of each group is kept in full, the others as 16-bit
// distances from it.
constexpr std::size_t kGroupRows = 32;
constexpr std::uint16_t kFar = 0xFFFF;

// Entries a document claims from a shared index buffer at a time.
constexpr std::size_t kClaimStep = 4096;

// Reads up to `length` bytes at `offset`, as many as the file gives; -1 on a read error.
std::int64_t readFully(int fd, char* out, std::size_t length, std::int64_t offset)
{
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, out + got, length - got, static_cast<off_t>(offset + static_cast<std::int64_t>(got)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(got);
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

TextSlice TextSlice::owning(std::string bytes)
{
    auto held = std::make_shared<const std::string>(std::move(bytes));
    const std::string_view view(*held);
    return TextSlice(view, std::move(held));
}

// The open file a paged document reads its bytes from, shared by the documents appended to it,
// with a small cache of the blocks read last.
class FileText {
public:
    FileText(FileHandle file, std::string path, const PagingSizes& sizes)
        : m_file(std::move(file)), m_path(std::move(path)), m_sizes(sizes)
    {
        m_sizes.hashBlock = std::max<std::size_t>(m_sizes.hashBlock, 1);
        // A cached block holds whole hash blocks, so that it can be checked when read.
        m_sizes.cacheBlock = std::max<std::size_t>(m_sizes.cacheBlock / m_sizes.hashBlock, 1) * m_sizes.hashBlock;
        m_sizes.cacheBlocks = std::max<std::size_t>(m_sizes.cacheBlocks, 1);
        m_sizes.readChunk = std::max<std::size_t>(m_sizes.readChunk, 1);
    }

    int fd() const { return m_file.fd(); }
    const std::string& path() const { return m_path; }
    const PagingSizes& sizes() const { return m_sizes; }

    // Copies `length` bytes at `offset` into out. What the file no longer holds (or cannot give)
    // reads as spaces, and marks the text stale: a view is never torn down by a file cut short
    // under it; the watcher loads the file again.
    void read(ByteOffset offset, std::size_t length, char* out)
    {
        const std::int64_t got = readFully(fd(), out, length, offset);
        const std::size_t have = got < 0 ? 0 : static_cast<std::size_t>(got);
        if (have < length) {
            std::memset(out + have, ' ', length - have);
            m_stale.store(true, std::memory_order_relaxed);
        }
    }

    // The cached block `index` holding at least `need` bytes, read when it is not there;
    // `fresh` tells that it was read now.
    std::shared_ptr<const std::string> block(std::size_t index, std::size_t need, bool& fresh)
    {
        {
            const std::lock_guard lock(m_mutex);
            for (Entry& entry : m_entries) {
                if (entry.index == index && entry.bytes->size() >= need) {
                    entry.used = ++m_clock;
                    fresh = false;
                    return entry.bytes;
                }
            }
        }
        const std::size_t blockBytes = m_sizes.cacheBlock;
        auto bytes = std::make_shared<std::string>(blockBytes, '\0');
        const std::int64_t got = readFully(fd(), bytes->data(), blockBytes, static_cast<std::int64_t>(index * blockBytes));
        std::size_t have = got < 0 ? 0 : static_cast<std::size_t>(got);
        if (have < need) {
            std::memset(bytes->data() + have, ' ', need - have);
            have = need;
            m_stale.store(true, std::memory_order_relaxed);
        }
        bytes->resize(have);
        fresh = true;
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_entries, [index](const Entry& entry) { return entry.index == index; });
        if (m_entries.size() >= m_sizes.cacheBlocks) {
            const auto oldest = std::min_element(m_entries.begin(), m_entries.end(),
                                                 [](const Entry& a, const Entry& b) { return a.used < b.used; });
            m_entries.erase(oldest);
        }
        m_entries.push_back({index, bytes, ++m_clock});
        return bytes;
    }

    // A kept stretch across blocks that holds [from, to), and where it starts; null when none.
    std::shared_ptr<const std::string> span(ByteOffset from, ByteOffset to, ByteOffset& start)
    {
        const std::lock_guard lock(m_mutex);
        for (Span& kept : m_spans) {
            if (kept.from <= from && to <= kept.from + static_cast<ByteOffset>(kept.bytes->size())) {
                kept.used = ++m_clock;
                start = kept.from;
                return kept.bytes;
            }
        }
        return nullptr;
    }
    // Keeps a stretch just read. The stretches kept take at most kSpanBytes, but the newest is
    // always kept, whatever its size: a very long line in sight is read once, not at each paint.
    void keepSpan(ByteOffset from, std::shared_ptr<const std::string> bytes)
    {
        constexpr std::size_t kSpanBytes = 64u << 20;
        constexpr std::size_t kSpans = 64;
        const std::lock_guard lock(m_mutex);
        m_spans.push_back({from, std::move(bytes), ++m_clock});
        auto total = [this] {
            std::size_t sum = 0;
            for (const Span& kept : m_spans)
                sum += kept.bytes->size();
            return sum;
        };
        while (m_spans.size() > kSpans || (m_spans.size() > 1 && total() > kSpanBytes)) {
            const auto oldest = std::min_element(m_spans.begin(), m_spans.end() - 1,
                                                 [](const Span& a, const Span& b) { return a.used < b.used; });
            m_spans.erase(oldest);
        }
    }

    void markStale() { m_stale.store(true, std::memory_order_relaxed); }
    bool stale() const { return m_stale.load(std::memory_order_relaxed); }

private:
    struct Entry {
        std::size_t index;
        std::shared_ptr<const std::string> bytes;
        std::uint64_t used;
    };
    struct Span {
        ByteOffset from;
        std::shared_ptr<const std::string> bytes;
        std::uint64_t used;
    };
    FileHandle m_file;
    std::string m_path;
    PagingSizes m_sizes;
    std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::vector<Span> m_spans; // the newest last
    std::uint64_t m_clock = 0;
    std::atomic<bool> m_stale{false};
};

// The check value over the bytes after the last whole hash block.
struct LogDocument::HashTail {
    XXH3_state_t* state = XXH3_createState();
    std::size_t bytes = 0;
    HashTail() { XXH3_64bits_reset(state); }
    HashTail(const HashTail& other) : bytes(other.bytes) { XXH3_copyState(state, other.state); }
    HashTail& operator=(const HashTail&) = delete;
    ~HashTail() { XXH3_freeState(state); }
};

template <typename T>
void LogDocument::Claimed<T>::reserve(std::size_t capacity)
{
    buffer = std::make_shared<GrowOnlyBuffer<T>>(std::max<std::size_t>(capacity, 16));
    count = claimed = 0;
}

template <typename T>
void LogDocument::Claimed<T>::push(const T& value)
{
    if (count == claimed) {
        std::size_t want = std::min(count + kClaimStep, buffer->capacity());
        if (want == count || !buffer->claim(count, want)) {
            // Out of room, or another document took the room after ours: a buffer of our own.
            auto bigger = std::make_shared<GrowOnlyBuffer<T>>(std::max<std::size_t>(2 * count, kClaimStep));
            std::copy(buffer->data(), buffer->data() + count, bigger->data());
            want = std::min(count + kClaimStep, bigger->capacity());
            bigger->claim(0, want);
            buffer = std::move(bigger);
        }
        claimed = want;
    }
    buffer->data()[count++] = value;
}

template <typename T>
void LogDocument::Claimed<T>::finish()
{
    if (claimed > count)
        buffer->unclaim(claimed, count);
    claimed = count;
}

template <typename T>
void LogDocument::Claimed<T>::makeOwn(std::size_t keep)
{
    auto own = std::make_shared<GrowOnlyBuffer<T>>(std::max<std::size_t>(buffer->capacity(), kClaimStep));
    std::copy(buffer->data(), buffer->data() + keep, own->data());
    own->claim(0, keep);
    buffer = std::move(own);
    count = claimed = keep;
}

void LogDocument::reserveIndex(std::size_t size)
{
    const std::size_t rows = startRoomFor(TextRoomFor(size));
    m_deltas.reserve(rows);
    m_bases.reserve(rows / kGroupRows + 2);
    m_far.reserve(64);
}

void LogDocument::pushStart(ByteOffset start)
{
    const std::size_t row = m_rows;
    if (row % kGroupRows == 0) {
        m_bases.push(start);
        m_deltas.push(0);
    } else {
        const ByteOffset distance = start - m_bases[row / kGroupRows];
        if (distance < kFar) {
            m_deltas.push(static_cast<std::uint16_t>(distance));
        } else {
            m_deltas.push(kFar);
            m_far.push({static_cast<std::int64_t>(row), start});
        }
    }
    ++m_rows;
}

void LogDocument::dropLastStart()
{
    const std::size_t row = m_rows - 1;
    const bool far = m_deltas[row] == kFar;
    const bool first = row % kGroupRows == 0;
    if (row < m_sharedRows) {
        // The document this one grew from sees that start: the index becomes our own.
        m_deltas.makeOwn(m_deltas.count - 1);
        m_bases.makeOwn(m_bases.count - (first ? 1 : 0));
        m_far.makeOwn(m_far.count - (far ? 1 : 0));
        m_sharedRows = 0;
    } else {
        --m_deltas.count;
        m_bases.count -= first ? 1 : 0;
        m_far.count -= far ? 1 : 0;
    }
    m_rows = row;
}

ByteOffset LogDocument::rowStart(std::size_t row) const
{
    const std::uint16_t distance = m_deltas[row];
    if (distance != kFar)
        return m_bases[row / kGroupRows] + distance;
    const FarStart* begin = m_far.buffer->data();
    const FarStart* it = std::lower_bound(begin, begin + m_far.count, static_cast<std::int64_t>(row),
                                          [](const FarStart& entry, std::int64_t r) { return entry.row < r; });
    return it->start;
}

void LogDocument::measureLine(std::size_t end)
{
    m_longestLine = std::max(m_longestLine, static_cast<std::int64_t>(end - m_lineStart));
    m_widestColumns = std::max(m_widestColumns, m_lineColumns + static_cast<std::int64_t>(end - m_segmentStart));
}

void LogDocument::indexBytes(const char* bytes, std::size_t length)
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
        measureLine(offset);
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

void LogDocument::finishIndex()
{
    measureLine(m_size);
    m_deltas.finish();
    m_bases.finish();
    m_far.finish();
    m_hashes.finish();
}

void LogDocument::hashBytes(const char* bytes, std::size_t length)
{
    if (!m_file)
        return;
    const std::size_t block = m_file->sizes().hashBlock;
    while (length > 0) {
        const std::size_t piece = std::min(length, block - m_hashTail->bytes);
        XXH3_64bits_update(m_hashTail->state, bytes, piece);
        m_hashTail->bytes += piece;
        bytes += piece;
        length -= piece;
        if (m_hashTail->bytes == block) {
            m_hashes.push(XXH3_64bits_digest(m_hashTail->state));
            XXH3_64bits_reset(m_hashTail->state);
            m_hashTail->bytes = 0;
        }
    }
}

DocumentPtr LogDocument::adopt(std::shared_ptr<TextBuffer> buffer, std::size_t size,
                               FileIdentity identity)
{
    auto doc = std::shared_ptr<LogDocument>(new LogDocument());
    buffer->claim(0, size);
    doc->m_text = std::move(buffer);
    doc->m_identity = identity;
    doc->reserveIndex(size);
    doc->pushStart(0);
    doc->indexBytes(doc->m_text->data(), size);
    doc->finishIndex();
    return doc;
}

DocumentPtr LogDocument::fromBytes(std::string_view bytes)
{
    auto buffer = std::make_shared<TextBuffer>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer->data());
    return adopt(std::move(buffer), bytes.size(), FileIdentity{});
}

namespace {

// A reusable read buffer that is never filled with zeros first.
struct ReadBuffer {
    std::unique_ptr<char[]> bytes;
    explicit ReadBuffer(std::size_t size) : bytes(new char[std::max<std::size_t>(size, 1)]) {}
    char* data() { return bytes.get(); }
};

} // namespace

DocumentPtr LogDocument::fromFile(FileHandle file, const std::string& path, FileIdentity identity,
                                  std::atomic<std::int64_t>* bytesRead, const PagingSizes& sizes)
{
    struct stat st {};
    const std::size_t hint = ::fstat(file.fd(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    auto doc = std::shared_ptr<LogDocument>(new LogDocument());
    doc->m_file = std::make_shared<FileText>(std::move(file), path, sizes);
    doc->m_identity = identity;
    doc->reserveIndex(hint);
    doc->m_hashes.reserve(TextRoomFor(hint) / doc->m_file->sizes().hashBlock + 16);
    doc->m_hashTail = std::make_shared<HashTail>();
    doc->pushStart(0);
    doc->readFile(bytesRead);
    doc->finishIndex();
    return doc;
}

void LogDocument::readFile(std::atomic<std::int64_t>* bytesRead)
{
    const std::size_t chunk = m_file->sizes().readChunk;
    ReadBuffer buffer(chunk);
    for (;;) {
        const std::int64_t got = readFully(m_file->fd(), buffer.data(), chunk, static_cast<std::int64_t>(m_size));
        if (got < 0)
            throw Failure("Cannot read file " + m_file->path());
        if (got == 0)
            return;
        const auto length = static_cast<std::size_t>(got);
        hashBytes(buffer.data(), length);
        indexBytes(buffer.data(), length);
        if (bytesRead)
            bytesRead->fetch_add(got, std::memory_order_relaxed);
        if (length < chunk)
            return; // the end: what a writer adds meanwhile is read at the next change
    }
}

DocumentPtr LogDocument::grown(std::atomic<std::int64_t>* bytesRead) const
{
    struct stat st {};
    if (!m_file || ::fstat(m_file->fd(), &st) != 0 || st.st_size <= size())
        return shared_from_this();
    auto doc = std::shared_ptr<LogDocument>(new LogDocument(*this));
    doc->m_sharedRows = m_rows;
    doc->m_hashTail = std::make_shared<HashTail>(*m_hashTail);
    doc->readFile(bytesRead);
    doc->finishIndex();
    return doc;
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
    doc->m_sharedRows = m_rows;
    if (m_text) {
        const std::size_t newSize = m_size + more.size();
        if (!doc->m_text->claim(m_size, newSize)) {
            // A log that outgrew its room goes on growing: half as much again, which costs
            // nothing until it is written, spares most copies of the whole text.
            auto bigger = std::make_shared<TextBuffer>(newSize + newSize / 2);
            std::copy(m_text->data(), m_text->data() + m_size, bigger->data());
            bigger->claim(0, newSize);
            doc->m_text = std::move(bigger);
        }
        std::copy(more.begin(), more.end(), doc->m_text->data() + m_size);
        doc->indexBytes(doc->m_text->data() + m_size, more.size());
    } else {
        doc->m_hashTail = std::make_shared<HashTail>(*m_hashTail);
        doc->hashBytes(more.data(), more.size());
        doc->indexBytes(more.data(), more.size());
    }
    doc->finishIndex();
    return doc;
}

LineCount LogDocument::lineCount() const
{
    const LineCount rows = rowCount();
    return rowStart(m_rows - 1) == size() ? rows - 1 : rows;
}

ByteOffset LogDocument::lineIndex(LineNumber line) const
{
    if (line < 0)
        return 0;
    if (line >= rowCount())
        return size();
    return rowStart(static_cast<std::size_t>(line));
}

ByteOffset LogDocument::lineContentEnd(LineNumber line) const
{
    if (line < 0)
        line = 0;
    if (line + 1 >= rowCount())
        return size();
    const ByteOffset start = rowStart(static_cast<std::size_t>(line));
    ByteOffset end = rowStart(static_cast<std::size_t>(line + 1));
    // Step back over the break: LF, CR LF or a lone CR. (A byte at a time: a slice of single
    // bytes never crosses blocks.)
    if (slice(end - 1, end)[0] == '\n') {
        --end;
        if (end > start && slice(end - 1, end)[0] == '\r')
            --end;
    } else {
        --end;
    }
    return end;
}

LineNumber LogDocument::lineFromOffset(ByteOffset offset) const
{
    offset = std::clamp<ByteOffset>(offset, 0, size());
    const ByteOffset* bases = m_bases.buffer->data();
    const std::size_t group = static_cast<std::size_t>(std::upper_bound(bases, bases + m_bases.count, offset) - bases) - 1;
    // The last row of the group that starts at or before offset.
    std::size_t low = group * kGroupRows;
    std::size_t high = std::min(low + kGroupRows, m_rows);
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (rowStart(middle) <= offset)
            low = middle;
        else
            high = middle;
    }
    return static_cast<LineNumber>(low);
}

TextSlice LogDocument::lineText(LineNumber line) const
{
    return slice(lineIndex(line), lineContentEnd(line));
}

TextSlice LogDocument::slice(ByteOffset from, ByteOffset to) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    if (m_text)
        return TextSlice(std::string_view(m_text->data() + from, static_cast<std::size_t>(to - from)), m_text);
    if (from == to)
        return TextSlice();
    const std::size_t blockBytes = m_file->sizes().cacheBlock;
    const auto index = static_cast<std::size_t>(from) / blockBytes;
    const ByteOffset blockStart = static_cast<ByteOffset>(index * blockBytes);
    if (to - blockStart > static_cast<ByteOffset>(blockBytes)) {
        // Across blocks: read straight from the file. The last such stretches are kept, as a
        // long line in sight is asked for again and again while it is painted.
        ByteOffset keptFrom = 0;
        if (std::shared_ptr<const std::string> kept = m_file->span(from, to, keptFrom)) {
            const std::string_view view(kept->data() + (from - keptFrom), static_cast<std::size_t>(to - from));
            return TextSlice(view, std::move(kept));
        }
        std::string bytes(static_cast<std::size_t>(to - from), '\0');
        readInto(from, bytes.size(), bytes.data());
        auto kept = std::make_shared<const std::string>(std::move(bytes));
        m_file->keepSpan(from, kept);
        const std::string_view view(*kept);
        return TextSlice(view, std::move(kept));
    }
    bool fresh = false;
    std::shared_ptr<const std::string> block = m_file->block(index, static_cast<std::size_t>(to - blockStart), fresh);
    if (fresh) {
        // A block read now is checked against what was indexed, whole hash blocks at a time:
        // a file rewritten under the document is noticed and loaded again.
        const std::size_t hashBlock = m_file->sizes().hashBlock;
        const std::size_t firstHash = static_cast<std::size_t>(blockStart) / hashBlock;
        for (std::size_t h = firstHash; h < m_hashes.count; ++h) {
            const std::size_t at = h * hashBlock - static_cast<std::size_t>(blockStart);
            if (at + hashBlock > block->size())
                break;
            if (XXH3_64bits(block->data() + at, hashBlock) != m_hashes[h]) {
                m_file->markStale();
                break;
            }
        }
    }
    const std::string_view view(block->data() + (from - blockStart), static_cast<std::size_t>(to - from));
    return TextSlice(view, std::move(block));
}

TextSlice LogDocument::read(ByteOffset from, ByteOffset to) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    if (m_text)
        return TextSlice(std::string_view(m_text->data() + from, static_cast<std::size_t>(to - from)), m_text);
    // Room that is read into at once is not filled with zeros first.
    const auto length = static_cast<std::size_t>(to - from);
    std::shared_ptr<char[]> bytes(new char[std::max<std::size_t>(length, 1)]);
    readInto(from, length, bytes.get());
    const std::string_view view(bytes.get(), length);
    return TextSlice(view, std::move(bytes));
}

void LogDocument::readInto(ByteOffset from, std::size_t length, char* out) const
{
    if (m_text)
        std::memcpy(out, m_text->data() + from, length);
    else
        m_file->read(from, length, out);
}

std::string LogDocument::copyText() const
{
    std::string bytes(m_size, '\0');
    readInto(0, m_size, bytes.data());
    return bytes;
}

std::string_view LogDocument::passBytes(ByteOffset start, std::size_t length, std::string& buffer) const
{
    if (m_text)
        return {m_text->data() + start, length};
    buffer.resize(length);
    readInto(start, length, buffer.data());
    return buffer;
}

bool LogDocument::forEachChunk(ByteOffset from, ByteOffset to, std::size_t chunk, std::size_t overlap,
                               const std::function<bool(ByteOffset, std::string_view)>& visit) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    chunk = std::max<std::size_t>(chunk, 1);
    std::string buffer;
    for (ByteOffset at = from; at < to;) {
        const ByteOffset start = std::max(from, at - static_cast<ByteOffset>(overlap));
        const ByteOffset end = std::min(to, at + static_cast<ByteOffset>(chunk));
        const auto length = static_cast<std::size_t>(end - start);
        if (!visit(start, passBytes(start, length, buffer)))
            return false;
        at = end;
    }
    return true;
}

bool LogDocument::forEachChunkBackwards(ByteOffset from, ByteOffset to, std::size_t chunk, std::size_t overlap,
                                        const std::function<bool(ByteOffset, std::string_view)>& visit) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    chunk = std::max<std::size_t>(chunk, 1);
    std::string buffer;
    for (ByteOffset at = to; at > from;) {
        const ByteOffset start = std::max(from, at - static_cast<ByteOffset>(chunk));
        const ByteOffset end = std::min(to, at + static_cast<ByteOffset>(overlap));
        const auto length = static_cast<std::size_t>(end - start);
        if (!visit(start, passBytes(start, length, buffer)))
            return false;
        at = start;
    }
    return true;
}

bool LogDocument::forEachLineBlock(LineNumber first, LineNumber end, std::size_t chunk,
                                   const std::function<bool(LineNumber, LineNumber, std::string_view)>& visit) const
{
    const LineCount rows = rowCount();
    first = std::clamp<LineNumber>(first, 0, rows);
    end = std::clamp<LineNumber>(end, first, rows);
    std::string buffer;
    for (LineNumber blockFirst = first; blockFirst < end;) {
        // Whole lines, about `chunk` bytes of them (a longer line makes a block on its own).
        const ByteOffset base = lineIndex(blockFirst);
        LineNumber blockEnd = std::min(lineFromOffset(base + static_cast<ByteOffset>(chunk)), end);
        if (blockEnd <= blockFirst)
            blockEnd = blockFirst + 1;
        const auto length = static_cast<std::size_t>(lineIndex(blockEnd) - base);
        if (!visit(blockFirst, blockEnd, passBytes(base, length, buffer)))
            return false;
        blockFirst = blockEnd;
    }
    return true;
}

bool LogDocument::sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    if (from == to)
        return true;
    if (m_text) {
        constexpr std::size_t kBlock = 1u << 20;
        ReadBuffer buffer(kBlock);
        for (ByteOffset at = from; at < to;) {
            const std::size_t want = std::min<std::size_t>(kBlock, static_cast<std::size_t>(to - at));
            const std::int64_t got = readFully(fd, buffer.data(), want, at);
            if (got < 0)
                throw Failure("Cannot read file " + path);
            if (static_cast<std::size_t>(got) < want)
                return false; // the file ends before the text does
            if (std::memcmp(buffer.data(), m_text->data() + at, want) != 0)
                return false;
            at += static_cast<ByteOffset>(want);
        }
        return true;
    }
    const std::size_t hashBlock = m_file->sizes().hashBlock;
    ReadBuffer buffer(hashBlock);
    const std::size_t last = static_cast<std::size_t>(to - 1) / hashBlock;
    for (std::size_t h = static_cast<std::size_t>(from) / hashBlock; h <= last; ++h) {
        const bool whole = h < m_hashes.count;
        const std::size_t want = whole ? hashBlock : m_hashTail->bytes;
        if (want == 0)
            break;
        const std::int64_t got = readFully(fd, buffer.data(), want, static_cast<std::int64_t>(h * hashBlock));
        if (got < 0)
            throw Failure("Cannot read file " + path);
        if (static_cast<std::size_t>(got) < want)
            return false;
        const std::uint64_t expected = whole ? m_hashes[h] : XXH3_64bits_digest(m_hashTail->state);
        if (XXH3_64bits(buffer.data(), want) != expected)
            return false;
    }
    return true;
}

std::size_t LogDocument::checkGranule() const
{
    return m_file ? m_file->sizes().hashBlock : 1;
}

bool LogDocument::stale() const
{
    return m_file && m_file->stale();
}

bool LogDocument::grewFrom(const LogDocument& earlier) const
{
    const bool sameSource = m_text ? m_text == earlier.m_text : (m_file && m_file == earlier.m_file);
    return sameSource && m_size >= earlier.m_size;
}

std::size_t LogDocument::indexMemory() const
{
    return m_deltas.count * sizeof(std::uint16_t) + m_bases.count * sizeof(ByteOffset) +
           m_far.count * sizeof(FarStart) + m_hashes.count * sizeof(std::uint64_t);
}

} // namespace tlg
