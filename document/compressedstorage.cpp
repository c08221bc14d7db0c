#include "document/compressedstorage.h"

#include "core/errors.h"
#include "document/compressedindexcache.h"
#include "document/lineindexer.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace tlg {

namespace {

// The kept form: the restart points, then a mark of the layout of what follows, the line index
// and the check values. An index kept in an earlier layout does not bear the mark there, and is
// made again.
constexpr std::string_view kIndexForm = "lines:3\n";

// The first lines are told as soon as they are indexed, then every quarter of a second.
constexpr auto kPartialEvery = std::chrono::milliseconds(250);

} // namespace

CompressedStorage::CompressedStorage(std::shared_ptr<BlockCache> cache, std::size_t textBytes,
                                     std::shared_ptr<CompressedText> text)
    : PagedStorage(std::move(cache), textBytes), m_text(std::move(text))
{
}

StoragePtr CompressedStorage::fromFile(FileHandle file, const std::string& path, const Kind& kind,
                                       const PagingSizes& sizes, LineIndexer& lines, const PartialText& partial,
                                       std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    struct stat st {};
    // Text usually takes several times the room of its compressed bytes; the index grows when
    // it needs more.
    const std::size_t hint = ::fstat(file.fd(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) * 8 : 0;
    // A read across cache blocks comes after the block that holds its end (where a line ends is
    // found first) and starts at the hash block that holds its first byte: a decoder keeps a few
    // cache blocks of text behind it, so that such a read decodes nothing again.
    const std::size_t keptBehind = 4 * sizes.cacheBlock;
    auto textOf = [&](FileHandle handle) {
        return std::make_shared<CompressedText>(std::move(handle), path, kind.how, sizes.restartEvery, keptBehind,
                                                kind.member, kind.shown);
    };
    auto cache = std::make_shared<BlockCache>(FileHandle(), path, sizes);
    std::shared_ptr<CompressedText> text = textOf(std::move(file));
    bool keyed = false;
    const KeptIndexKey key = KeptIndexKeyOf(text->fd(), keyed);
    // (A kept index is of the decompressed bytes: a transcoded text is never kept.)
    keyed = keyed && text->transcoding() == Transcoding::None;
    if (keyed) {
        const std::string kept = LoadKeptIndex(key);
        auto storage = std::make_shared<CompressedStorage>(cache, 0, text);
        std::string_view form(kept);
        if (!kept.empty() && text->readPoints(form) && text->fileSize() == key.size && storage->readKept(form, lines)) {
            if (bytesRead)
                bytesRead->fetch_add(key.size, std::memory_order_relaxed);
            return storage;
        }
        // (A kept index that does not fit is made again below.)
        lines = LineIndexer();
        text = textOf(FileHandle(::fcntl(text->fd(), F_DUPFD_CLOEXEC, 0)));
    }
    auto storage = std::make_shared<CompressedStorage>(cache, hint, text);
    lines.begin(hint);
    storage->scan(lines, partial, sizes.partialEvery, bytesRead, stop);
    storage->finishText(lines, true);
    storage->m_fileSize = text->fileSize();
    if (keyed && text->fileSize() == key.size && !text->spooled() && !text->damaged()) {
        std::string form;
        // (Room for it all at once: a form grown by doubling would take twice its size.)
        form.reserve(text->memory() + lines.memory() + storage->m_checks.memory() + 4096);
        text->writePoints(form);
        form.append(kIndexForm);
        lines.write(form);
        storage->m_checks.write(form);
        KeepIndex(key, form);
    }
    return storage;
}

bool CompressedStorage::readKept(std::string_view form, LineIndexer& lines)
{
    if (!form.starts_with(kIndexForm))
        return false;
    form.remove_prefix(kIndexForm.size());
    if (!lines.read(form) || !m_checks.read(form, lines.size()) || !form.empty())
        return false;
    m_size = m_stable = lines.size();
    m_fileSize = m_text->fileSize();
    m_keptIndex = true;
    return true;
}

void CompressedStorage::scan(LineIndexer& lines, const PartialText& partial, std::size_t partialEvery,
                             std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    bool told = false;
    auto lastTold = std::chrono::steady_clock::now();
    std::size_t sinceTold = 0; // bytes indexed since
    auto index = [&](const char* bytes, std::size_t length) {
        m_checks.add(bytes, length);
        lines.add(bytes, length);
    };
    // A text of the lines so far, sharing this one's index, check values, cache and pass.
    auto tell = [&] {
        auto text = std::make_shared<CompressedStorage>(*this);
        text->m_checks = m_checks.snapshot();
        text->m_size = text->m_stable = lines.size();
        text->m_fileSize = 0;
        text->m_partial = true;
        partial(lines.snapshot(), text);
    };
    m_text->scan(
        [&](const char* bytes, std::size_t length) {
            while (partial && length > 0) {
                // Told at a line break at or before the point due (or the first after it), so
                // that every line told is whole.
                std::size_t due = length;
                bool now = !told || std::chrono::steady_clock::now() - lastTold >= kPartialEvery;
                if (partialEvery > 0 && sinceTold + length >= partialEvery) {
                    now = true;
                    due = std::max<std::size_t>(partialEvery - std::min(sinceTold, partialEvery), 1);
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
                tell();
                told = true;
                lastTold = std::chrono::steady_clock::now();
                sinceTold = 0;
            }
            index(bytes, length);
            sinceTold += length;
        },
        bytesRead, stop);
}

bool CompressedStorage::sameAsFile(int fd, const std::string&, ByteOffset, ByteOffset) const
{
    return m_text->sameFile(fd);
}

StoragePtr CompressedStorage::grown(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                                    const std::atomic<bool>* stop) const
{
    struct stat st {};
    if (!m_partial && (::fstat(m_text->fd(), &st) != 0 || st.st_size <= m_fileSize))
        return nullptr;
    const int fd = ::fcntl(m_text->fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        throw Failure("Cannot read file " + m_text->path());
    const Compression how = m_text->compression();
    if (m_partial || m_text->spooled() || how == Compression::Xz || how == Compression::Archive) {
        lines = LineIndexer();
        return fromFile(FileHandle(fd), m_text->path(), {how, m_text->member(), m_text->transcoding()},
                        m_cache->sizes(), lines, {}, bytesRead, stop);
    }
    // The text is decoded again from its last restart point on: what lies before it stays.
    const ByteOffset resumeAt = m_text->points().back().text;
    const auto hashBlock = static_cast<ByteOffset>(m_cache->sizes().hashBlock);
    const ByteOffset blockStart = resumeAt / hashBlock * hashBlock;
    const std::string before(read(blockStart, resumeAt).view()); // to rebuild that block's check value
    const bool endsWithCr = resumeAt > 0 && slice(resumeAt - 1, resumeAt)[0] == '\r';
    auto fresh = std::make_shared<CompressedText>(FileHandle(fd), m_text->path(), how, m_text->restartEvery(),
                                                  m_text->keptBehind(), m_text->member());
    auto text = std::make_shared<CompressedStorage>(*this);
    text->m_keptIndex = false;
    text->m_text = fresh;
    lines.resumeAt(resumeAt, endsWithCr);
    text->m_checks.truncate(resumeAt);
    text->m_checks.add(before.data(), before.size());
    fresh->resume(*m_text,
                  [&](const char* bytes, std::size_t length) {
                      text->m_checks.add(bytes, length);
                      lines.add(bytes, length);
                  },
                  bytesRead, stop);
    text->finishText(lines, true);
    text->m_fileSize = fresh->fileSize();
    return text;
}

std::int64_t CompressedStorage::fetch(int, ByteOffset start, std::size_t length, char* out) const
{
    return m_text->read(start.value(), length, out);
}

} // namespace tlg
