#include "document/logdocument.h"

#include "core/errors.h"
#include "core/piecerelay.h"
#include "document/compressedindexcache.h"
#include "document/compressedtext.h"
#include "document/tabstops.h"

#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <fcntl.h>
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

// Entries a document claims from a shared index buffer at a time.
constexpr std::size_t kClaimStep = 4096;

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

// The open file a paged document reads its bytes from, shared by the documents grown from one
// another, with a small cache of the blocks of shown bytes read last and of the stretches across
// blocks read last (each at most kSpanLimit bytes).
//
// Documents of one file share their shown bytes up to the stable end of each (a transcoded text
// may end with bytes that a growth changes), so a kept block or stretch serves a document when
// the bytes asked for lie within both stable ends, or when it was read for the same file size.
class FileText {
public:
    // The longest stretch across blocks kept, and what the kept stretches take at most.
    static constexpr std::size_t kSpanLimit = 4u << 20;
    static constexpr std::size_t kSpanBytes = 16u << 20;
    static constexpr std::size_t kSpans = 64;

    FileText(FileHandle file, std::string path, const PagingSizes& sizes, Transcoding how)
        : m_file(std::move(file)), m_path(std::move(path)), m_sizes(sizes), m_how(how)
    {
        m_sizes.hashBlock = std::max<std::size_t>(m_sizes.hashBlock, 1);
        // A cached block holds whole hash blocks, so that it can be checked when read.
        m_sizes.cacheBlock = std::max<std::size_t>(m_sizes.cacheBlock / m_sizes.hashBlock, 1) * m_sizes.hashBlock;
        m_sizes.cacheBlocks = std::max<std::size_t>(m_sizes.cacheBlocks, 1);
        m_sizes.readChunk = std::max<std::size_t>(m_sizes.readChunk, 1);
    }

    int fd() const { return m_file.fd(); }
    const std::string& path() const { return m_path; }
    // The text of a compressed file, read through it rather than from fd(). A grown text takes
    // the place of the one it grew from (which reads the same over the earlier text); the
    // earlier stays alive with the file, for those holding it.
    std::shared_ptr<CompressedText> compressed() const
    {
        const std::lock_guard lock(m_compressedMutex);
        return m_compressed;
    }
    CompressedText* compressedText() const
    {
        const std::lock_guard lock(m_compressedMutex);
        return m_compressed.get();
    }
    void setCompressed(std::shared_ptr<CompressedText> text)
    {
        const std::lock_guard lock(m_compressedMutex);
        if (m_compressed)
            m_earlierTexts.push_back(std::move(m_compressed));
        m_compressed = std::move(text);
    }
    const PagingSizes& sizes() const { return m_sizes; }
    Transcoding how() const { return m_how; }
    bool transcoded() const { return m_how != Transcoding::None; }

    // Decodes `length` shown bytes from `point` into out, reading `fd` no further than
    // fileEnd (where the text ends: what is pending there is finished). Returns the bytes
    // decoded, fewer when the file is shorter, or -1 on a read error.
    std::int64_t decode(int fd, SourcePoint point, std::int64_t fileEnd, std::size_t length, char* out) const
    {
        constexpr std::size_t kPiece = 64u << 10;
        const bool sixteen = m_how == Transcoding::Utf16Le || m_how == Transcoding::Utf16Be;
        TextDecoder decoder(m_how, point.file, 0);
        const std::size_t want = point.skip + length;
        std::unique_ptr<char[]> in(new char[kPiece]);
        std::unique_ptr<char[]> shown(new char[TextDecoder::room(kPiece)]);
        std::size_t produced = 0; // the skipped bytes included
        auto take = [&](std::size_t n) {
            // Shown bytes [produced, produced + n) are in `shown`.
            const std::size_t from = std::max(produced, static_cast<std::size_t>(point.skip));
            const std::size_t to = std::min(produced + n, want);
            if (to > from)
                std::memcpy(out + (from - point.skip), shown.get() + (from - produced), to - from);
            produced += n;
        };
        std::int64_t at = point.file;
        while (produced < want) {
            if (at >= fileEnd) {
                take(decoder.finish(shown.get()));
                break;
            }
            // Each 16-bit unit gives at least one shown byte; a NUL gives none.
            const std::size_t left = want - produced;
            std::size_t ask = std::min<std::size_t>(kPiece, static_cast<std::size_t>(fileEnd - at));
            ask = std::min(ask, sixteen ? 2 * left + 4 : left + 1);
            const std::int64_t got = ReadAt(fd, in.get(), ask, at);
            if (got < 0)
                return -1;
            if (got == 0)
                break; // the file is shorter now
            take(decoder.decode(in.get(), static_cast<std::size_t>(got), shown.get()));
            at += got;
        }
        return static_cast<std::int64_t>(std::min(produced, want) - std::min<std::size_t>(produced, point.skip));
    }

    // A kept block `index` that holds [its start, to) for a document with this stable end and
    // file size; null when there is none.
    std::shared_ptr<const std::string> block(std::size_t index, ByteOffset to, ByteOffset stable, std::int64_t fileSize)
    {
        const auto start = static_cast<ByteOffset>(index * m_sizes.cacheBlock);
        const std::lock_guard lock(m_mutex);
        for (Kept& entry : m_entries) {
            if (entry.from == start && serves(entry, to, stable, fileSize)) {
                entry.used = ++m_clock;
                return entry.bytes;
            }
        }
        return nullptr;
    }
    void keepBlock(std::size_t index, std::shared_ptr<const std::string> bytes, ByteOffset stable, std::int64_t fileSize)
    {
        const auto start = static_cast<ByteOffset>(index * m_sizes.cacheBlock);
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_entries, [start](const Kept& entry) { return entry.from == start; });
        if (m_entries.size() >= m_sizes.cacheBlocks)
            m_entries.erase(oldest(m_entries.begin(), m_entries.end()));
        m_entries.push_back({start, std::move(bytes), std::min(stable, start), fileSize, ++m_clock});
        fixStable(m_entries.back(), stable);
    }

    // A kept stretch across blocks that holds [from, to), and where it starts; null when none.
    std::shared_ptr<const std::string> span(ByteOffset from, ByteOffset to, ByteOffset stable, std::int64_t fileSize,
                                            ByteOffset& start)
    {
        const std::lock_guard lock(m_mutex);
        for (Kept& kept : m_spans) {
            if (kept.from <= from && serves(kept, to, stable, fileSize)) {
                kept.used = ++m_clock;
                start = kept.from;
                return kept.bytes;
            }
        }
        return nullptr;
    }
    // Keeps a stretch just read, when it is no longer than kSpanLimit; the oldest go while the
    // stretches take more than kSpanBytes.
    void keepSpan(ByteOffset from, std::shared_ptr<const std::string> bytes, ByteOffset stable, std::int64_t fileSize)
    {
        if (bytes->size() > kSpanLimit)
            return;
        const std::lock_guard lock(m_mutex);
        m_spans.push_back({from, std::move(bytes), 0, fileSize, ++m_clock});
        fixStable(m_spans.back(), stable);
        auto total = [this] {
            std::size_t sum = 0;
            for (const Kept& kept : m_spans)
                sum += kept.bytes->size();
            return sum;
        };
        while (m_spans.size() > kSpans || total() > kSpanBytes)
            m_spans.erase(oldest(m_spans.begin(), m_spans.end() - 1));
    }

    // The bytes the blocks and the stretches kept hold.
    std::size_t keptBytes()
    {
        const std::lock_guard lock(m_mutex);
        std::size_t sum = 0;
        for (const Kept& kept : m_entries)
            sum += kept.bytes->size();
        for (const Kept& kept : m_spans)
            sum += kept.bytes->size();
        return sum;
    }

    void markStale() { m_stale.store(true, std::memory_order_relaxed); }
    bool stale() const { return m_stale.load(std::memory_order_relaxed); }

private:
    struct Kept {
        ByteOffset from;
        std::shared_ptr<const std::string> bytes;
        ByteOffset stableTo; // the bytes before this are those of every document of the file
        std::int64_t fileSize;
        std::uint64_t used;
    };
    static void fixStable(Kept& kept, ByteOffset stable)
    {
        kept.stableTo = std::min(stable, kept.from + static_cast<ByteOffset>(kept.bytes->size()));
    }
    static bool serves(const Kept& kept, ByteOffset to, ByteOffset stable, std::int64_t fileSize)
    {
        if (to > kept.from + static_cast<ByteOffset>(kept.bytes->size()))
            return false;
        return kept.fileSize == fileSize || to <= std::min(kept.stableTo, stable);
    }
    static std::vector<Kept>::iterator oldest(std::vector<Kept>::iterator begin, std::vector<Kept>::iterator end)
    {
        return std::min_element(begin, end, [](const Kept& a, const Kept& b) { return a.used < b.used; });
    }

    FileHandle m_file;
    std::string m_path;
    PagingSizes m_sizes;
    Transcoding m_how;
    mutable std::mutex m_compressedMutex;
    std::shared_ptr<CompressedText> m_compressed;              // guarded by m_compressedMutex
    std::vector<std::shared_ptr<CompressedText>> m_earlierTexts; // guarded by m_compressedMutex
    std::mutex m_mutex;
    std::vector<Kept> m_entries; // guarded by m_mutex
    std::vector<Kept> m_spans;   // guarded by m_mutex, the newest last
    std::uint64_t m_clock = 0;   // guarded by m_mutex
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
    m_index.reserve(size);
}

void LogDocument::pushStart(ByteOffset start)
{
    m_index.push(start);
    ++m_rows;
}

void LogDocument::dropLastStart()
{
    m_index.dropLast();
    --m_rows;
}

ByteOffset LogDocument::rowStart(std::size_t row) const
{
    return m_index.start(row);
}

void LogDocument::measureLine(std::size_t end, bool done)
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

void LogDocument::finishIndex()
{
    measureLine(m_size, false);
    m_index.finish();
    m_hashes.finish();
    m_map.finish();
    if (m_hashTail)
        m_tailDigest = XXH3_64bits_digest(m_hashTail->state);
    if (!m_file || !m_file->transcoded()) {
        m_fileSize = static_cast<std::int64_t>(m_size);
        m_stable = static_cast<ByteOffset>(m_size);
    }
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

// The chunks still to read from which a file is read on a thread of its own, beside its
// indexing.
constexpr std::int64_t kReadAlongside = 8;

// A reusable read buffer that is never filled with zeros first.
struct ReadBuffer {
    std::unique_ptr<char[]> bytes;
    explicit ReadBuffer(std::size_t size) : bytes(new char[std::max<std::size_t>(size, 1)]) {}
    char* data() { return bytes.get(); }
};

} // namespace

DocumentPtr LogDocument::fromFile(FileHandle file, const std::string& path, FileIdentity identity,
                                  std::atomic<std::int64_t>* bytesRead, const PagingSizes& sizes, Transcoding how,
                                  const std::atomic<bool>* stop)
{
    struct stat st {};
    const std::size_t hint = ::fstat(file.fd(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    auto doc = std::shared_ptr<LogDocument>(new LogDocument());
    doc->m_file = std::make_shared<FileText>(std::move(file), path, sizes, how);
    doc->m_identity = identity;
    // 16-bit text takes up to half as much room again as UTF-8.
    const std::size_t shownHint = how == Transcoding::Utf16Le || how == Transcoding::Utf16Be ? hint + hint / 2 : hint;
    const std::size_t hashBlock = doc->m_file->sizes().hashBlock;
    doc->reserveIndex(shownHint);
    doc->m_hashes.reserve(TextRoomFor(shownHint) / hashBlock + 16);
    doc->m_hashTail = std::make_shared<HashTail>();
    doc->pushStart(0);
    if (how == Transcoding::None) {
        doc->readFile(bytesRead, stop);
    } else {
        doc->m_map.reserve(TextRoomFor(shownHint) / hashBlock + 16);
        doc->decodeFile({how == Transcoding::DropNulsAfterMark ? 2 : 0, 0}, 0, 0, bytesRead, stop);
    }
    doc->finishIndex();
    return doc;
}

DocumentPtr LogDocument::fromCompressed(FileHandle file, const std::string& path, FileIdentity identity,
                                        Compression how, std::atomic<std::int64_t>* bytesRead,
                                        const PagingSizes& sizes, const std::atomic<bool>* stop,
                                        const std::string& member, Transcoding shown,
                                        const PartialDocuments& partial)
{
    struct stat st {};
    // Text usually takes several times the room of its compressed bytes; the index grows when
    // it needs more.
    const std::size_t hint = ::fstat(file.fd(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) * 8 : 0;
    // A read across cache blocks comes after the block that holds its end (where a line ends is
    // found first) and starts at the hash block that holds its first byte: a decoder keeps a few
    // cache blocks of text behind it, so that such a read decodes nothing again.
    const std::size_t keptBehind = 4 * sizes.cacheBlock;
    auto text = std::make_shared<CompressedText>(std::move(file), path, how, sizes.restartEvery, keptBehind, member,
                                                 shown);
    auto doc = std::shared_ptr<LogDocument>(new LogDocument());
    doc->m_file = std::make_shared<FileText>(FileHandle(), path, sizes, Transcoding::None);
    doc->m_file->setCompressed(text);
    doc->m_identity = identity;
    bool keyed = false;
    const KeptIndexKey key = KeptIndexKeyOf(text->fd(), keyed);
    // (A kept index is of the decompressed bytes: a transcoded text is never kept.)
    keyed = keyed && text->transcoding() == Transcoding::None;
    if (keyed) {
        const std::string kept = LoadKeptIndex(key);
        std::string_view form(kept);
        if (!kept.empty() && text->readPoints(form) && text->fileSize() == key.size && doc->readIndex(form) &&
            form.empty()) {
            doc->m_fileSize = text->fileSize();
            doc->m_keptIndex = true;
            if (bytesRead)
                bytesRead->fetch_add(key.size, std::memory_order_relaxed);
            return doc;
        }
        // (A kept index that does not fit is made again below.)
        doc = std::shared_ptr<LogDocument>(new LogDocument());
        text = std::make_shared<CompressedText>(FileHandle(::fcntl(text->fd(), F_DUPFD_CLOEXEC, 0)), path, how,
                                                sizes.restartEvery, keptBehind, member, shown);
        doc->m_file = std::make_shared<FileText>(FileHandle(), path, sizes, Transcoding::None);
        doc->m_file->setCompressed(text);
        doc->m_identity = identity;
    }
    const std::size_t hashBlock = doc->m_file->sizes().hashBlock;
    doc->reserveIndex(hint);
    doc->m_hashes.reserve(TextRoomFor(hint) / hashBlock + 16);
    doc->m_hashTail = std::make_shared<HashTail>();
    doc->pushStart(0);
    // The first lines are told as soon as they are indexed, then every quarter of a second.
    constexpr auto kPartialEvery = std::chrono::milliseconds(250);
    bool told = false;
    auto lastTold = std::chrono::steady_clock::now();
    std::size_t sinceTold = 0; // bytes indexed since
    auto index = [&doc](const char* bytes, std::size_t length) {
        doc->hashBytes(bytes, length);
        doc->indexBytes(bytes, length);
    };
    text->scan(
        [&](const char* bytes, std::size_t length) {
            while (partial && length > 0) {
                // Told at a line break at or before the point due (or the first after it), so
                // that every line told is whole.
                std::size_t due = length;
                bool now = !told || std::chrono::steady_clock::now() - lastTold >= kPartialEvery;
                if (sizes.partialEvery > 0 && sinceTold + length >= sizes.partialEvery) {
                    now = true;
                    due = std::max<std::size_t>(sizes.partialEvery - std::min(sinceTold, sizes.partialEvery), 1);
                }
                const char* lf = now ? static_cast<const char*>(::memrchr(bytes, '\n', due)) : nullptr;
                if (now && !lf)
                    lf = static_cast<const char*>(std::memchr(bytes + due, '\n', length - due));
                if (!lf)
                    break;
                const auto cut = static_cast<std::size_t>(lf + 1 - bytes);
                index(bytes, cut);
                bytes += cut;
                length -= cut;
                partial(doc->partialCopy());
                told = true;
                lastTold = std::chrono::steady_clock::now();
                sinceTold = 0;
            }
            index(bytes, length);
            sinceTold += length;
        },
        bytesRead, stop);
    doc->finishIndex();
    doc->m_fileSize = text->fileSize();
    if (keyed && text->fileSize() == key.size && !text->spooled() && !text->damaged()) {
        std::string form;
        // (Room for it all at once: a form grown by doubling would take twice its size.)
        form.reserve(text->memory() + doc->indexMemory() + 4096);
        text->writePoints(form);
        doc->writeIndex(form);
        KeepIndex(key, form);
    }
    return doc;
}

DocumentPtr LogDocument::partialCopy()
{
    auto copy = std::shared_ptr<LogDocument>(new LogDocument(*this));
    // The copy reads only the index rows it sees and never claims more: this document goes on
    // filling the room after them (the index copies a chunk before rewriting what a copy sees).
    copy->measureLine(m_size, false);
    copy->m_hashTail = std::make_shared<HashTail>(*m_hashTail);
    copy->m_tailDigest = XXH3_64bits_digest(m_hashTail->state);
    copy->m_stable = static_cast<ByteOffset>(m_size);
    copy->m_fileSize = 0;
    copy->m_partial = true;
    return copy;
}

// The kept form holds the index in this machine's byte order (a kept index never leaves the
// machine). It begins with a mark of its layout: an index kept in an earlier layout (line starts
// as 16-bit distances in groups of 32) does not begin so, and is made again.
namespace {

constexpr std::string_view kIndexForm = "lines:2\n";

template <typename T>
void putArray(std::string& out, const T* values, std::size_t n)
{
    PutVarint(out, n);
    out.append(reinterpret_cast<const char*>(values), n * sizeof(T));
}

// The bytes of an array of `T` taken from the front of `in` (they may lie at any alignment).
template <typename T>
bool takeArray(std::string_view& in, std::string_view& bytes, std::size_t& n)
{
    std::uint64_t count = 0;
    if (!TakeVarint(in, count) || count > in.size() / sizeof(T))
        return false;
    n = static_cast<std::size_t>(count);
    bytes = in.substr(0, n * sizeof(T));
    in.remove_prefix(n * sizeof(T));
    return true;
}

} // namespace

template <typename T>
void LogDocument::Claimed<T>::assign(std::string_view bytes, std::size_t n)
{
    buffer = std::make_shared<GrowOnlyBuffer<T>>(std::max<std::size_t>(n, 16));
    std::memcpy(static_cast<void*>(buffer->data()), bytes.data(), n * sizeof(T));
    buffer->claim(0, n);
    count = claimed = n;
}

DocumentPtr LogDocument::grownCompressed(const std::shared_ptr<CompressedText>& text, FileHandle file,
                                         std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop) const
{
    // The text is decoded again from its last restart point on: what lies before it stays.
    const ByteOffset resumeAt = text->points().back().text;
    const auto hashBlock = static_cast<ByteOffset>(m_file->sizes().hashBlock);
    const ByteOffset blockStart = resumeAt / hashBlock * hashBlock;
    const std::string before(read(blockStart, resumeAt).view()); // to rebuild that block's check value
    const bool endsWithCr = resumeAt > 0 && slice(resumeAt - 1, resumeAt)[0] == '\r';
    auto fresh = std::make_shared<CompressedText>(std::move(file), text->path(), text->compression(),
                                                  text->restartEvery(), text->keptBehind(), text->member());
    auto doc = std::shared_ptr<LogDocument>(new LogDocument(*this));
    doc->m_keptIndex = false;
    doc->dropTail(resumeAt, endsWithCr);
    if (endsWithCr && doc->rowStart(doc->m_rows - 1) != resumeAt)
        doc->pushStart(resumeAt); // a CR whose LF lies after the point: the LF joins it again
    doc->m_lineStart = doc->m_segmentStart = static_cast<std::size_t>(doc->rowStart(doc->m_rows - 1));
    doc->m_lineColumns = 0;
    doc->hashBytes(before.data(), before.size());
    fresh->resume(*text,
                  [&doc](const char* bytes, std::size_t length) {
                      doc->hashBytes(bytes, length);
                      doc->indexBytes(bytes, length);
                  },
                  bytesRead, stop);
    doc->finishIndex();
    doc->m_fileSize = fresh->fileSize();
    m_file->setCompressed(std::move(fresh));
    return doc;
}

void LogDocument::writeIndex(std::string& out) const
{
    out.append(kIndexForm);
    PutVarint(out, m_file->sizes().hashBlock);
    PutFixed(out, m_size);
    PutVarint(out, m_rows);
    m_index.write(out);
    putArray(out, m_hashes.buffer->data(), m_hashes.count);
    for (std::int64_t value : {static_cast<std::int64_t>(m_tailDigest), m_longestLine, m_widestColumns, m_longestDone,
                               m_widestDone, m_lineColumns, static_cast<std::int64_t>(m_lineStart),
                               static_cast<std::int64_t>(m_segmentStart)})
        PutFixed(out, static_cast<std::uint64_t>(value));
    PutVarint(out, (m_holdsNul ? 1 : 0) | (m_lastWasCr ? 2 : 0));
}

bool LogDocument::readIndex(std::string_view& in)
{
    std::uint64_t hashBlock = 0, size = 0, rows = 0;
    if (!in.starts_with(kIndexForm))
        return false;
    in.remove_prefix(kIndexForm.size());
    if (!TakeVarint(in, hashBlock) || hashBlock != m_file->sizes().hashBlock || !TakeFixed(in, size) ||
        size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) || !TakeVarint(in, rows) ||
        rows == 0)
        return false;
    m_index = LineIndex();
    if (!m_index.read(in, static_cast<std::int64_t>(size)) || m_index.rows() != rows || m_index.start(0) != 0)
        return false;
    std::string_view hashes;
    std::size_t hashCount = 0;
    if (!takeArray<std::uint64_t>(in, hashes, hashCount) || hashCount != size / hashBlock)
        return false;
    std::uint64_t values[8] = {};
    std::uint64_t flags = 0;
    for (std::uint64_t& value : values)
        if (!TakeFixed(in, value))
            return false;
    if (!TakeVarint(in, flags))
        return false;
    m_hashes.assign(hashes, hashCount);
    m_rows = static_cast<std::size_t>(rows);
    m_size = static_cast<std::size_t>(size);
    m_hashTail = std::make_shared<HashTail>();
    m_longestLine = static_cast<std::int64_t>(values[1]);
    m_widestColumns = static_cast<std::int64_t>(values[2]);
    m_longestDone = static_cast<std::int64_t>(values[3]);
    m_widestDone = static_cast<std::int64_t>(values[4]);
    m_lineColumns = static_cast<std::int64_t>(values[5]);
    m_lineStart = static_cast<std::size_t>(values[6]);
    m_segmentStart = static_cast<std::size_t>(values[7]);
    m_holdsNul = (flags & 1) != 0;
    m_lastWasCr = (flags & 2) != 0;
    finishIndex();
    m_tailDigest = values[0];
    return true;
}

void LogDocument::readFile(std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    const std::size_t chunk = m_file->sizes().readChunk;
    struct stat st {};
    if (::fstat(m_file->fd(), &st) == 0 && st.st_size - static_cast<std::int64_t>(m_size) >= kReadAlongside * static_cast<std::int64_t>(chunk)) {
        readFileAlongside(bytesRead, stop);
        return;
    }
    ReadBuffer buffer(chunk);
    for (;;) {
        ThrowIfStopped(stop);
        const std::int64_t got = ReadAt(m_file->fd(), buffer.data(), chunk, static_cast<std::int64_t>(m_size));
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

void LogDocument::readFileAlongside(std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    // A thread of its own reads the file and hashes it, a few chunks ahead, while this one
    // indexes what it read: the two take about as long.
    const std::size_t chunk = m_file->sizes().readChunk;
    const int fd = m_file->fd();
    PieceRelay relay(chunk, 3, [&, at = static_cast<std::int64_t>(m_size)](PieceRelay::Piece& piece) mutable {
        const std::int64_t got = ReadAt(fd, piece.bytes.get(), chunk, at);
        if (got < 0)
            throw Failure("Cannot read file " + m_file->path());
        piece.length = static_cast<std::size_t>(got);
        hashBytes(piece.bytes.get(), piece.length);
        at += got;
        // The end: what a writer adds meanwhile is read at the next change.
        return piece.length < chunk || (stop && stop->load(std::memory_order_relaxed));
    });
    while (PieceRelay::Piece* piece = relay.take(stop)) {
        indexBytes(piece->bytes.get(), piece->length);
        if (bytesRead)
            bytesRead->fetch_add(static_cast<std::int64_t>(piece->length), std::memory_order_relaxed);
        relay.giveBack(piece);
    }
}

void LogDocument::decodeFile(SourcePoint point, ByteOffset shownAt, ByteOffset indexFrom,
                             std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    const Transcoding how = m_file->how();
    const int fd = m_file->fd();
    const std::size_t chunk = m_file->sizes().readChunk;
    const std::size_t hashBlock = m_file->sizes().hashBlock;
    bool markUnknown = false;
    if ((how == Transcoding::Utf16Le || how == Transcoding::Utf16Be) && point.file == 0) {
        // 16-bit text from its start: its mark is left out, and a file of one byte does not
        // tell yet whether it has one.
        char head[2];
        const std::int64_t got = ReadAt(fd, head, 2, 0);
        if (got < 0)
            throw Failure("Cannot read file " + m_file->path());
        markUnknown = got < 2;
        if (got == 2 && std::string_view(head, 2) == (how == Transcoding::Utf16Be ? "\xFE\xFF" : "\xFF\xFE"))
            point.file = 2;
    }
    TextDecoder decoder(how, point.file, (shownAt - static_cast<ByteOffset>(point.skip)).value());
    decoder.markEvery(hashBlock, static_cast<std::int64_t>(m_map.count * hashBlock));
    std::size_t skip = point.skip;
    ByteOffset cursor = shownAt; // the shown offset of the next byte consumed
    auto consume = [&](const char* bytes, std::size_t length) {
        for (const SourcePoint& at : decoder.points())
            m_map.push(at.packed());
        decoder.points().clear();
        const std::size_t skipped = std::min(skip, length);
        bytes += skipped;
        length -= skipped;
        skip -= skipped;
        if (cursor < indexFrom) {
            // Bytes indexed already, hashed again to rebuild a check value.
            const std::size_t hashed = std::min(length, static_cast<std::size_t>(indexFrom - cursor));
            hashBytes(bytes, hashed);
            bytes += hashed;
            length -= hashed;
            cursor += static_cast<ByteOffset>(hashed);
        }
        hashBytes(bytes, length);
        indexBytes(bytes, length);
        cursor += static_cast<ByteOffset>(length);
    };
    ReadBuffer in(chunk);
    ReadBuffer shown(TextDecoder::room(chunk));
    std::int64_t at = point.file;
    for (;;) {
        ThrowIfStopped(stop);
        const std::int64_t got = ReadAt(fd, in.data(), chunk, at);
        if (got < 0)
            throw Failure("Cannot read file " + m_file->path());
        if (got > 0) {
            // (A stretch without NULs is indexed where it was read, not copied.)
            if (decoder.passThrough(in.data(), static_cast<std::size_t>(got)))
                consume(in.data(), static_cast<std::size_t>(got));
            else
                consume(shown.data(), decoder.decode(in.data(), static_cast<std::size_t>(got), shown.data()));
            at += got;
            if (bytesRead)
                bytesRead->fetch_add(got, std::memory_order_relaxed);
        }
        if (static_cast<std::size_t>(got) < chunk)
            break; // the end: what a writer adds meanwhile is read at the next change
    }
    // What the end leaves pending is shown now and decoded again when the file grows.
    m_stable = markUnknown ? 0 : decoder.shown();
    m_resume = markUnknown ? 0 : decoder.pendingFile();
    consume(shown.data(), decoder.finish(shown.data()));
    m_fileSize = at;
    struct stat st {};
    if (at == point.file && ::fstat(fd, &st) == 0)
        m_fileSize = std::min<std::int64_t>(at, st.st_size); // a file too short to reach the mark's end
}

void LogDocument::dropTail(ByteOffset stable, bool endsWithCr)
{
    while (m_rows > 1 && rowStart(m_rows - 1) > stable)
        dropLastStart(); // (a pending end holds no line break: kept for safety)
    m_size = static_cast<std::size_t>(stable);
    m_lastWasCr = endsWithCr;
    const std::size_t hashBlock = m_file->sizes().hashBlock;
    // Check values and map entries the document grown from sees are never written again: the
    // document takes its own.
    const std::size_t hashes = static_cast<std::size_t>(stable) / hashBlock;
    if (hashes < m_hashes.count)
        m_hashes.makeOwn(hashes);
    const std::size_t points = (static_cast<std::size_t>(stable) + hashBlock - 1) / hashBlock;
    if (points < m_map.count)
        m_map.makeOwn(points);
    m_hashTail = std::make_shared<HashTail>();
}

DocumentPtr LogDocument::grown(std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop) const
{
    struct stat st {};
    if (const std::shared_ptr<CompressedText> text = m_file ? m_file->compressed() : nullptr) {
        if (!m_partial && (::fstat(text->fd(), &st) != 0 || st.st_size <= m_fileSize))
            return shared_from_this();
        const int fd = ::fcntl(text->fd(), F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            throw Failure("Cannot read file " + text->path());
        // A spooled text, and xz (whose index at its end changed), are read again whole; so is
        // the text of a partial document, whose pass did not end.
        const Compression how = text->compression();
        if (m_partial || text->spooled() || how == Compression::Xz || how == Compression::Archive)
            return fromCompressed(FileHandle(fd), text->path(), m_identity, how, bytesRead, m_file->sizes(), stop,
                                  text->member(), text->transcoding());
        return grownCompressed(text, FileHandle(fd), bytesRead, stop);
    }
    if (!m_file || ::fstat(m_file->fd(), &st) != 0 || st.st_size <= m_fileSize)
        return shared_from_this();
    auto doc = std::shared_ptr<LogDocument>(new LogDocument(*this));
    if (!m_file->transcoded()) {
        doc->m_hashTail = std::make_shared<HashTail>(*m_hashTail);
        doc->readFile(bytesRead, stop);
    } else if (m_stable == size()) {
        doc->m_hashTail = std::make_shared<HashTail>(*m_hashTail);
        doc->decodeFile({m_resume, 0}, size(), size(), bytesRead, stop);
    } else {
        // The pending end goes; its hash block is decoded again from its start to rebuild the
        // check value, and what follows is decoded with the file's new bytes.
        const bool endsWithCr = m_stable > 0 && slice(m_stable - 1, m_stable)[0] == '\r';
        doc->dropTail(m_stable, endsWithCr);
        const auto hashBlock = static_cast<ByteOffset>(m_file->sizes().hashBlock);
        const ByteOffset blockStart = m_stable / hashBlock * hashBlock;
        const SourcePoint point = blockStart < m_stable
                                      ? SourcePoint::unpack(m_map[static_cast<std::size_t>(blockStart / hashBlock)])
                                      : SourcePoint{m_resume, 0};
        doc->decodeFile(point, blockStart, m_stable, bytesRead, stop);
    }
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
    if (m_file && m_file->transcoded())
        throw std::logic_error("A transcoded document grows from its file");
    auto doc = std::shared_ptr<LogDocument>(new LogDocument(*this));
    if (more.empty())
        return doc;
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
    if (line >= EndLine(rowCount()))
        return size();
    return rowStart(static_cast<std::size_t>(line));
}

void LogDocument::lineStarts(LineNumber first, LineNumber end, ByteOffset* out) const
{
    const LineNumber rows = EndLine(rowCount());
    const LineNumber from = std::clamp(first, LineNumber(0), rows);
    const LineNumber to = std::clamp(end, from, rows);
    for (; first < from; ++first)
        *out++ = lineIndex(first);
    m_index.starts(static_cast<std::size_t>(from.value()), static_cast<std::size_t>((to - from).value()), out);
    out += (to - from).value();
    for (first = std::max(first, to); first < end; ++first)
        *out++ = lineIndex(first);
}

ByteOffset LogDocument::lineContentEnd(LineNumber line) const
{
    if (line < 0)
        line = 0;
    if (line + 1 >= EndLine(rowCount()))
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
    return static_cast<LineNumber>(m_index.rowAt(std::clamp<ByteOffset>(offset, 0, size())));
}

std::int64_t LogDocument::fetch(int fd, ByteOffset start, std::size_t length, char* out) const
{
    if (length == 0)
        return 0; // (the end of a transcoded text that fills its last hash block has no map entry)
    if (const std::shared_ptr<CompressedText> text = m_file->compressed())
        return text->read(start.value(), length, out);
    if (!m_file->transcoded())
        return ReadAt(fd, out, length, start.value());
    const std::size_t hashBlock = m_file->sizes().hashBlock;
    const SourcePoint point = SourcePoint::unpack(m_map[static_cast<std::size_t>(start) / hashBlock]);
    return m_file->decode(fd, point, m_fileSize, length, out);
}

void LogDocument::verify(ByteOffset start, std::string_view bytes) const
{
    const std::size_t hashBlock = m_file->sizes().hashBlock;
    std::size_t h = static_cast<std::size_t>(start) / hashBlock;
    for (std::size_t at = 0; at < bytes.size(); at += hashBlock, ++h) {
        const std::size_t length = std::min(hashBlock, bytes.size() - at);
        bool same = true;
        if (h < m_hashes.count) {
            if (length == hashBlock)
                same = XXH3_64bits(bytes.data() + at, hashBlock) == m_hashes[h];
        } else if (start + static_cast<ByteOffset>(at + length) == size()) {
            same = XXH3_64bits(bytes.data() + at, length) == m_tailDigest; // the bytes after the last whole block
        }
        if (!same) {
            m_file->markStale();
            return;
        }
    }
}

const char* LogDocument::readChecked(ByteOffset start, ByteOffset end,
                                     const std::function<char*(std::size_t)>& allocate) const
{
    const auto hashBlock = static_cast<ByteOffset>(m_file->sizes().hashBlock);
    const ByteOffset first = start / hashBlock * hashBlock;
    const ByteOffset last = std::min(size(), (end + hashBlock - 1) / hashBlock * hashBlock);
    const auto length = static_cast<std::size_t>(last - first);
    char* out = allocate(length);
    const std::int64_t got = fetch(m_file->fd(), first, length, out);
    const std::size_t have = got < 0 ? 0 : static_cast<std::size_t>(got);
    if (have < length) {
        // What the file no longer holds reads as spaces: a view is never torn down by a file
        // cut short under it; the watcher loads the file again.
        std::memset(out + have, ' ', length - have);
        m_file->markStale();
    }
    verify(first, std::string_view(out, length));
    return out + (start - first);
}

std::shared_ptr<const std::string> LogDocument::cachedBlock(std::size_t index, ByteOffset to) const
{
    if (std::shared_ptr<const std::string> kept = m_file->block(index, to, m_stable, m_fileSize))
        return kept;
    const std::size_t blockBytes = m_file->sizes().cacheBlock;
    const auto start = static_cast<ByteOffset>(index * blockBytes);
    const auto length = static_cast<std::size_t>(std::min(size(), start + static_cast<ByteOffset>(blockBytes)) - start);
    auto bytes = std::make_shared<std::string>(length, '\0');
    const std::int64_t got = fetch(m_file->fd(), start, length, bytes->data());
    std::size_t have = got < 0 ? 0 : static_cast<std::size_t>(got);
    const auto need = static_cast<std::size_t>(to - start);
    if (have < need) {
        std::memset(bytes->data() + have, ' ', need - have);
        have = need;
        m_file->markStale();
    }
    bytes->resize(have);
    // A block read now is checked against what was indexed: a file rewritten under the
    // document is noticed and loaded again.
    verify(start, *bytes);
    m_file->keepBlock(index, bytes, m_stable, m_fileSize);
    return bytes;
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
    const auto length = static_cast<std::size_t>(to - from);
    if (to - blockStart > static_cast<ByteOffset>(blockBytes)) {
        // Across blocks: read straight from the file. The last such stretches are kept (when
        // not too long), as a long line in sight is asked for again and again while painted.
        ByteOffset keptFrom = 0;
        if (std::shared_ptr<const std::string> kept = m_file->span(from, to, m_stable, m_fileSize, keptFrom)) {
            const std::string_view view(kept->data() + (from - keptFrom), length);
            return TextSlice(view, std::move(kept));
        }
        auto bytes = std::make_shared<std::string>();
        const char* at = readChecked(from, to, [&bytes](std::size_t room) {
            bytes->resize(room);
            return bytes->data();
        });
        const auto hashBlock = static_cast<ByteOffset>(m_file->sizes().hashBlock);
        m_file->keepSpan(from / hashBlock * hashBlock, bytes, m_stable, m_fileSize);
        return TextSlice(std::string_view(at, length), std::move(bytes));
    }
    std::shared_ptr<const std::string> block = cachedBlock(index, to);
    const std::string_view view(block->data() + (from - blockStart), length);
    return TextSlice(view, std::move(block));
}

TextSlice LogDocument::read(ByteOffset from, ByteOffset to) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    if (m_text)
        return TextSlice(std::string_view(m_text->data() + from, static_cast<std::size_t>(to - from)), m_text);
    // Room that is read into at once is not filled with zeros first.
    std::shared_ptr<char[]> bytes;
    const char* at = readChecked(from, to, [&bytes](std::size_t room) {
        bytes.reset(new char[std::max<std::size_t>(room, 1)]);
        return bytes.get();
    });
    const std::string_view view(at, static_cast<std::size_t>(to - from));
    return TextSlice(view, std::move(bytes));
}

std::string_view LogDocument::passBytes(ByteOffset start, std::size_t length, std::string& buffer) const
{
    if (m_text)
        return {m_text->data() + start, length};
    const char* at = readChecked(start, start + static_cast<ByteOffset>(length), [&buffer](std::size_t room) {
        buffer.resize(room);
        return buffer.data();
    });
    return {at, length};
}

bool LogDocument::sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    if (from == to)
        return true;
    if (const std::shared_ptr<CompressedText> text = m_file ? m_file->compressed() : nullptr) {
        // The text cannot be compared with compressed bytes: the file is the same when the
        // compressed bytes it was read from are (a decompression error later marks it stale).
        return text->sameFile(fd);
    }
    if (m_text) {
        constexpr std::size_t kBlock = 1u << 20;
        ReadBuffer buffer(kBlock);
        for (ByteOffset at = from; at < to;) {
            const std::size_t want = std::min<std::size_t>(kBlock, static_cast<std::size_t>(to - at));
            const std::int64_t got = ReadAt(fd, buffer.data(), want, at.value());
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
        // Each hash block read again (decoded again for a transcoded text) from the file.
        const bool whole = h < m_hashes.count;
        const std::size_t want = whole ? hashBlock : m_size - h * hashBlock;
        if (want == 0)
            break;
        const std::int64_t got = fetch(fd, static_cast<ByteOffset>(h * hashBlock), want, buffer.data());
        if (got < 0)
            throw Failure("Cannot read file " + path);
        if (static_cast<std::size_t>(got) < want)
            return false;
        const std::uint64_t expected = whole ? m_hashes[h] : m_tailDigest;
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

bool LogDocument::grewFrom(const LineSource& earlierSource) const
{
    const auto* earlierDocument = dynamic_cast<const LogDocument*>(&earlierSource);
    if (!earlierDocument)
        return false;
    const LogDocument& earlier = *earlierDocument;
    const bool sameSource = m_text ? m_text == earlier.m_text : (m_file && m_file == earlier.m_file);
    // A pending end of the earlier text (decoded again with what followed) may read otherwise.
    return sameSource && m_size >= earlier.m_size && earlier.m_stable == earlier.size() &&
           m_fileSize >= earlier.m_fileSize;
}

Transcoding LogDocument::transcoding() const
{
    if (const CompressedText* text = compressed())
        return text->transcoding();
    return m_file ? m_file->how() : Transcoding::None;
}

const CompressedText* LogDocument::compressed() const
{
    return m_file ? m_file->compressedText() : nullptr;
}

std::size_t LogDocument::cacheMemory() const
{
    return m_file ? m_file->keptBytes() : 0;
}

std::size_t LogDocument::indexMemory() const
{
    return m_index.memory() + (m_hashes.count + m_map.count) * sizeof(std::uint64_t) +
           (compressed() ? compressed()->memory() : 0);
}

} // namespace tlg
