#include "document/logdocument.h"

#include "document/compressedstorage.h"
#include "document/filestorage.h"
#include "document/memorystorage.h"
#include "document/transcodedstorage.h"

#include <algorithm>

namespace tlg {

DocumentPtr LogDocument::made(LineIndexer lines, StoragePtr text, FileIdentity identity)
{
    auto doc = std::shared_ptr<LogDocument>(new LogDocument());
    doc->m_lines = std::move(lines);
    doc->m_text = std::move(text);
    doc->m_identity = identity;
    return doc;
}

DocumentPtr LogDocument::adopt(std::shared_ptr<TextBuffer> buffer, std::size_t size, FileIdentity identity)
{
    LineIndexer lines;
    StoragePtr text = MemoryStorage::adopt(std::move(buffer), size, lines);
    return made(std::move(lines), std::move(text), identity);
}

DocumentPtr LogDocument::fromBytes(std::string_view bytes)
{
    auto buffer = std::make_shared<TextBuffer>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer->data());
    return adopt(std::move(buffer), bytes.size(), FileIdentity{});
}

DocumentPtr LogDocument::fromFile(FileHandle file, const std::string& path, FileIdentity identity,
                                  std::atomic<std::int64_t>* bytesRead, const PagingSizes& sizes, Transcoding how,
                                  const std::atomic<bool>* stop)
{
    LineIndexer lines;
    StoragePtr text = how == Transcoding::None
                          ? FileStorage::fromFile(std::move(file), path, sizes, lines, bytesRead, stop)
                          : TranscodedStorage::fromFile(std::move(file), path, sizes, how, lines, bytesRead, stop);
    return made(std::move(lines), std::move(text), identity);
}

DocumentPtr LogDocument::fromCompressed(FileHandle file, const std::string& path, FileIdentity identity,
                                        Compression how, std::atomic<std::int64_t>* bytesRead,
                                        const PagingSizes& sizes, const std::atomic<bool>* stop,
                                        const std::string& member, Transcoding shown,
                                        const PartialDocuments& partial)
{
    PartialText partialText;
    if (partial) {
        partialText = [&partial, identity](const LineIndexer& lines, const StoragePtr& text) {
            partial(made(lines, text, identity));
        };
    }
    LineIndexer lines;
    StoragePtr text = CompressedStorage::fromFile(std::move(file), path, {how, member, shown}, sizes, lines,
                                                  partialText, bytesRead, stop);
    return made(std::move(lines), std::move(text), identity);
}

DocumentPtr LogDocument::empty()
{
    static const DocumentPtr emptyDocument = fromBytes(std::string_view());
    return emptyDocument;
}

DocumentPtr LogDocument::appended(std::string_view more) const
{
    LineIndexer lines = m_lines;
    StoragePtr text = more.empty() ? m_text : m_text->appended(lines, more);
    return made(std::move(lines), std::move(text), m_identity);
}

DocumentPtr LogDocument::grown(std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop) const
{
    LineIndexer lines = m_lines;
    StoragePtr text = m_text->grown(lines, bytesRead, stop);
    if (!text)
        return shared_from_this();
    return made(std::move(lines), std::move(text), m_identity);
}

LineCount LogDocument::lineCount() const
{
    return m_lines.lineCount();
}

ByteOffset LogDocument::lineIndex(LineNumber line) const
{
    return m_lines.lineIndex(line);
}

void LogDocument::lineStarts(LineNumber first, LineNumber end, ByteOffset* out) const
{
    m_lines.lineStarts(first, end, out);
}

ByteOffset LogDocument::lineContentEnd(LineNumber line) const
{
    if (line < 0)
        line = 0;
    if (line + 1 >= EndLine(rowCount()))
        return size();
    const ByteOffset start = m_lines.rowStart(static_cast<std::size_t>(line));
    ByteOffset end = m_lines.rowStart(static_cast<std::size_t>(line + 1));
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
    return m_lines.lineFromOffset(offset);
}

TextSlice LogDocument::slice(ByteOffset from, ByteOffset to) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    return m_text->slice(from, to);
}

TextSlice LogDocument::read(ByteOffset from, ByteOffset to) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    return m_text->read(from, to);
}

std::string_view LogDocument::passBytes(ByteOffset start, std::size_t length, std::string& buffer) const
{
    return m_text->passBytes(start, length, buffer);
}

bool LogDocument::sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    if (from == to)
        return true;
    return m_text->sameAsFile(fd, path, from, to);
}

std::size_t LogDocument::checkGranule() const
{
    return m_text->checkGranule();
}

bool LogDocument::stale() const
{
    return m_text->stale();
}

bool LogDocument::grewFrom(const LineSource& earlierSource) const
{
    const auto* earlier = dynamic_cast<const LogDocument*>(&earlierSource);
    return earlier && m_text->grewFrom(*earlier->m_text);
}

Transcoding LogDocument::transcoding() const
{
    return m_text->transcoding();
}

std::size_t LogDocument::cacheMemory() const
{
    return m_text->cacheMemory();
}

std::size_t LogDocument::indexMemory() const
{
    return m_lines.memory() + m_text->indexMemory();
}

} // namespace tlg
