#include "document/pagedstorage.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "document/lineindexer.h"

#include <algorithm>
#include <cstring>

namespace tlg {

void PagedStorage::finishText(LineIndexer& lines, bool whole)
{
    lines.finish();
    m_checks.finish();
    m_size = lines.size();
    if (whole) {
        m_stable = m_size;
        m_fileSize = m_size.value();
    }
}

StoragePtr PagedStorage::appended(LineIndexer& lines, std::string_view more) const
{
    std::shared_ptr<PagedStorage> text = copy();
    text->m_checks.add(more.data(), more.size());
    lines.add(more.data(), more.size());
    text->finishText(lines, true);
    return text;
}

void PagedStorage::verify(ByteOffset start, std::string_view bytes) const
{
    if (!m_checks.matches(start, bytes, m_size))
        m_cache->markStale();
}

const char* PagedStorage::readChecked(ByteOffset start, ByteOffset end,
                                      const std::function<char*(std::size_t)>& allocate) const
{
    const auto hashBlock = static_cast<ByteOffset>(m_cache->sizes().hashBlock);
    const ByteOffset first = start / hashBlock * hashBlock;
    const ByteOffset last = std::min(m_size, (end + hashBlock - 1) / hashBlock * hashBlock);
    const auto length = static_cast<std::size_t>(last - first);
    char* out = allocate(length);
    const std::int64_t got = length == 0 ? 0 : fetch(m_cache->fd(), first, length, out);
    const std::size_t have = got < 0 ? 0 : static_cast<std::size_t>(got);
    if (have < length) {
        // What the file no longer holds reads as spaces: a view is never torn down by a file
        // cut short under it; the watcher loads the file again.
        std::memset(out + have, ' ', length - have);
        m_cache->markStale();
    }
    verify(first, std::string_view(out, length));
    return out + (start - first);
}

std::shared_ptr<const std::string> PagedStorage::cachedBlock(std::size_t index, ByteOffset to) const
{
    if (std::shared_ptr<const std::string> kept = m_cache->block(index, to, m_stable, m_fileSize))
        return kept;
    const std::size_t blockBytes = m_cache->sizes().cacheBlock;
    const auto start = static_cast<ByteOffset>(index * blockBytes);
    const auto length = static_cast<std::size_t>(std::min(m_size, start + static_cast<ByteOffset>(blockBytes)) - start);
    auto bytes = std::make_shared<std::string>(length, '\0');
    const std::int64_t got = length == 0 ? 0 : fetch(m_cache->fd(), start, length, bytes->data());
    std::size_t have = got < 0 ? 0 : static_cast<std::size_t>(got);
    const auto need = static_cast<std::size_t>(to - start);
    if (have < need) {
        std::memset(bytes->data() + have, ' ', need - have);
        have = need;
        m_cache->markStale();
    }
    bytes->resize(have);
    // A block read now is checked against what was indexed: a file rewritten under the
    // document is noticed and loaded again.
    verify(start, *bytes);
    m_cache->keepBlock(index, bytes, m_stable, m_fileSize);
    return bytes;
}

TextSlice PagedStorage::slice(ByteOffset from, ByteOffset to) const
{
    if (from == to)
        return TextSlice();
    const std::size_t blockBytes = m_cache->sizes().cacheBlock;
    const auto index = static_cast<std::size_t>(from) / blockBytes;
    const ByteOffset blockStart = static_cast<ByteOffset>(index * blockBytes);
    const auto length = static_cast<std::size_t>(to - from);
    if (to - blockStart > static_cast<ByteOffset>(blockBytes)) {
        // Across blocks: read straight from the file. The last such stretches are kept (when
        // not too long), as a long line in sight is asked for again and again while painted.
        ByteOffset keptFrom = 0;
        if (std::shared_ptr<const std::string> kept = m_cache->span(from, to, m_stable, m_fileSize, keptFrom)) {
            const std::string_view view(kept->data() + (from - keptFrom), length);
            return TextSlice(view, std::move(kept));
        }
        auto bytes = std::make_shared<std::string>();
        const char* at = readChecked(from, to, [&bytes](std::size_t room) {
            bytes->resize(room);
            return bytes->data();
        });
        const auto hashBlock = static_cast<ByteOffset>(m_cache->sizes().hashBlock);
        m_cache->keepSpan(from / hashBlock * hashBlock, bytes, m_stable, m_fileSize);
        return TextSlice(std::string_view(at, length), std::move(bytes));
    }
    std::shared_ptr<const std::string> block = cachedBlock(index, to);
    const std::string_view view(block->data() + (from - blockStart), length);
    return TextSlice(view, std::move(block));
}

TextSlice PagedStorage::read(ByteOffset from, ByteOffset to) const
{
    // Room that is read into at once is not filled with zeros first.
    std::shared_ptr<char[]> bytes;
    const char* at = readChecked(from, to, [&bytes](std::size_t room) {
        bytes.reset(new char[std::max<std::size_t>(room, 1)]);
        return bytes.get();
    });
    const std::string_view view(at, static_cast<std::size_t>(to - from));
    return TextSlice(view, std::move(bytes));
}

std::string_view PagedStorage::passBytes(ByteOffset start, std::size_t length, std::string& buffer) const
{
    const char* at = readChecked(start, start + static_cast<ByteOffset>(length), [&buffer](std::size_t room) {
        buffer.resize(room);
        return buffer.data();
    });
    return {at, length};
}

bool PagedStorage::sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const
{
    const std::size_t hashBlock = m_cache->sizes().hashBlock;
    std::unique_ptr<char[]> buffer(new char[hashBlock]);
    const std::size_t last = static_cast<std::size_t>(to - 1) / hashBlock;
    for (std::size_t h = static_cast<std::size_t>(from) / hashBlock; h <= last; ++h) {
        // Each hash block read again (decoded again for a transcoded text) from the file.
        const std::size_t want = m_checks.blockLength(h, m_size);
        if (want == 0)
            break;
        const std::int64_t got = fetch(fd, static_cast<ByteOffset>(h * hashBlock), want, buffer.get());
        if (got < 0)
            throw Failure("Cannot read file " + path);
        if (static_cast<std::size_t>(got) < want)
            return false;
        if (!m_checks.matchesBlock(h, std::string_view(buffer.get(), want)))
            return false;
    }
    return true;
}

} // namespace tlg
