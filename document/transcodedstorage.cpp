#include "document/transcodedstorage.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "document/lineindexer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

namespace tlg {

TranscodedStorage::TranscodedStorage(std::shared_ptr<BlockCache> cache, std::size_t textBytes, Transcoding how)
    : PagedStorage(std::move(cache), textBytes), m_how(how)
{
    m_map.reserve(TextRoomFor(textBytes) / m_cache->sizes().hashBlock + 16);
}

StoragePtr TranscodedStorage::fromFile(FileHandle file, const std::string& path, const PagingSizes& sizes,
                                       Transcoding how, LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                                       const std::atomic<bool>* stop)
{
    struct stat st {};
    const std::size_t hint = ::fstat(file.fd(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    // 16-bit text takes up to half as much room again as UTF-8.
    const std::size_t shownHint = how == Transcoding::Utf16Le || how == Transcoding::Utf16Be ? hint + hint / 2 : hint;
    auto text = std::make_shared<TranscodedStorage>(std::make_shared<BlockCache>(std::move(file), path, sizes),
                                                    shownHint, how);
    lines.begin(shownHint);
    text->decodeFile({how == Transcoding::DropNulsAfterMark ? 2 : 0, 0}, 0, 0, lines, bytesRead, stop);
    text->m_map.finish();
    text->finishText(lines, false);
    return text;
}

StoragePtr TranscodedStorage::appended(LineIndexer&, std::string_view) const
{
    throw std::logic_error("A transcoded document grows from its file");
}

StoragePtr TranscodedStorage::grown(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                                    const std::atomic<bool>* stop) const
{
    struct stat st {};
    if (::fstat(m_cache->fd(), &st) != 0 || st.st_size <= m_fileSize)
        return nullptr;
    auto text = std::make_shared<TranscodedStorage>(*this);
    if (m_stable == m_size) {
        text->decodeFile({m_resume, 0}, m_size, m_size, lines, bytesRead, stop);
    } else {
        // The pending end goes; its hash block is decoded again from its start to rebuild the
        // check value, and what follows is decoded with the file's new bytes.
        const bool endsWithCr = m_stable > 0 && slice(m_stable - 1, m_stable)[0] == '\r';
        lines.truncate(m_stable, endsWithCr);
        text->m_checks.truncate(m_stable);
        // Map entries the text grown from sees are never written again: this one takes its own.
        const std::size_t hashBlock = m_cache->sizes().hashBlock;
        const std::size_t points = (static_cast<std::size_t>(m_stable) + hashBlock - 1) / hashBlock;
        if (points < text->m_map.count)
            text->m_map.makeOwn(points);
        const std::size_t block = static_cast<std::size_t>(m_stable) / hashBlock;
        const auto blockStart = static_cast<ByteOffset>(block * hashBlock);
        const SourcePoint point =
            blockStart < m_stable ? SourcePoint::unpack(m_map[block]) : SourcePoint{m_resume, 0};
        text->decodeFile(point, blockStart, m_stable, lines, bytesRead, stop);
    }
    text->m_map.finish();
    text->finishText(lines, false);
    return text;
}

std::size_t TranscodedStorage::indexMemory() const
{
    return PagedStorage::indexMemory() + m_map.count * sizeof(std::uint64_t);
}

std::int64_t TranscodedStorage::fetch(int fd, ByteOffset start, std::size_t length, char* out) const
{
    const std::size_t hashBlock = m_cache->sizes().hashBlock;
    const SourcePoint point = SourcePoint::unpack(m_map[static_cast<std::size_t>(start) / hashBlock]);
    return decode(fd, point, length, out);
}

std::int64_t TranscodedStorage::decode(int fd, SourcePoint point, std::size_t length, char* out) const
{
    constexpr std::size_t kPiece = 64u << 10;
    const bool sixteen = m_how == Transcoding::Utf16Le || m_how == Transcoding::Utf16Be;
    const std::int64_t fileEnd = m_fileSize;
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

namespace {

// A reusable read buffer that is never filled with zeros first.
struct ReadBuffer {
    std::unique_ptr<char[]> bytes;
    explicit ReadBuffer(std::size_t size) : bytes(new char[std::max<std::size_t>(size, 1)]) {}
    char* data() { return bytes.get(); }
};

} // namespace

void TranscodedStorage::decodeFile(SourcePoint point, ByteOffset shownAt, ByteOffset indexFrom, LineIndexer& lines,
                                   std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    const int fd = m_cache->fd();
    const std::string& path = m_cache->path();
    const std::size_t chunk = m_cache->sizes().readChunk;
    const std::size_t hashBlock = m_cache->sizes().hashBlock;
    bool markUnknown = false;
    if ((m_how == Transcoding::Utf16Le || m_how == Transcoding::Utf16Be) && point.file == 0) {
        // 16-bit text from its start: its mark is left out, and a file of one byte does not
        // tell yet whether it has one.
        char head[2];
        const std::int64_t got = ReadAt(fd, head, 2, 0);
        if (got < 0)
            throw Failure("Cannot read file " + path);
        markUnknown = got < 2;
        if (got == 2 && std::string_view(head, 2) == (m_how == Transcoding::Utf16Be ? "\xFE\xFF" : "\xFF\xFE"))
            point.file = 2;
    }
    TextDecoder decoder(m_how, point.file, (shownAt - static_cast<ByteOffset>(point.skip)).value());
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
            m_checks.add(bytes, hashed);
            bytes += hashed;
            length -= hashed;
            cursor += static_cast<ByteOffset>(hashed);
        }
        m_checks.add(bytes, length);
        lines.add(bytes, length);
        cursor += static_cast<ByteOffset>(length);
    };
    ReadBuffer in(chunk);
    ReadBuffer shown(TextDecoder::room(chunk));
    std::int64_t at = point.file;
    for (;;) {
        ThrowIfStopped(stop);
        const std::int64_t got = ReadAt(fd, in.data(), chunk, at);
        if (got < 0)
            throw Failure("Cannot read file " + path);
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

} // namespace tlg
