#include "document/filestorage.h"

#include "document/lineindexer.h"

#include <sys/stat.h>

namespace tlg {

StoragePtr FileStorage::fromFile(FileHandle file, const std::string& path, const PagingSizes& sizes,
                                 LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                                 const std::atomic<bool>* stop)
{
    struct stat st {};
    const std::size_t hint = ::fstat(file.fd(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    auto text = std::make_shared<FileStorage>(std::make_shared<BlockCache>(std::move(file), path, sizes), hint);
    lines.begin(hint);
    text->readOn(lines, bytesRead, stop);
    return text;
}

void FileStorage::readOn(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    lines.indexFile(m_cache->fd(), m_cache->path(), m_cache->sizes().readChunk,
                    [this](const char* bytes, std::size_t length) { m_checks.add(bytes, length); }, bytesRead, stop);
    finishText(lines, true);
}

StoragePtr FileStorage::grown(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                              const std::atomic<bool>* stop) const
{
    struct stat st {};
    if (::fstat(m_cache->fd(), &st) != 0 || st.st_size <= m_fileSize)
        return nullptr;
    auto text = std::make_shared<FileStorage>(*this);
    text->readOn(lines, bytesRead, stop);
    return text;
}

std::int64_t FileStorage::fetch(int fd, ByteOffset start, std::size_t length, char* out) const
{
    return ReadAt(fd, out, length, start.value());
}

} // namespace tlg
