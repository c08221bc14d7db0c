#include "document/memorystorage.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "document/lineindexer.h"

#include <algorithm>
#include <cstring>

namespace tlg {

StoragePtr MemoryStorage::adopt(std::shared_ptr<TextBuffer> buffer, std::size_t size, LineIndexer& lines)
{
    auto text = std::make_shared<MemoryStorage>();
    buffer->claim(0, size);
    text->m_text = std::move(buffer);
    lines.begin(size);
    lines.add(text->m_text->data(), size);
    lines.finish();
    text->m_size = text->m_stable = static_cast<ByteOffset>(size);
    text->m_fileSize = static_cast<std::int64_t>(size);
    return text;
}

TextSlice MemoryStorage::slice(ByteOffset from, ByteOffset to) const
{
    return TextSlice(std::string_view(m_text->data() + from, static_cast<std::size_t>(to - from)), m_text);
}

std::string_view MemoryStorage::passBytes(ByteOffset start, std::size_t length, std::string&) const
{
    return {m_text->data() + start, length};
}

bool MemoryStorage::sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const
{
    constexpr std::size_t kBlock = 1u << 20;
    std::unique_ptr<char[]> buffer(new char[kBlock]);
    for (ByteOffset at = from; at < to;) {
        const std::size_t want = std::min<std::size_t>(kBlock, static_cast<std::size_t>(to - at));
        const std::int64_t got = ReadAt(fd, buffer.get(), want, at.value());
        if (got < 0)
            throw Failure("Cannot read file " + path);
        if (static_cast<std::size_t>(got) < want)
            return false; // the file ends before the text does
        if (std::memcmp(buffer.get(), m_text->data() + at, want) != 0)
            return false;
        at += static_cast<ByteOffset>(want);
    }
    return true;
}

StoragePtr MemoryStorage::appended(LineIndexer& lines, std::string_view more) const
{
    auto text = std::make_shared<MemoryStorage>(*this);
    const auto size = static_cast<std::size_t>(m_size);
    const std::size_t newSize = size + more.size();
    if (!text->m_text->claim(size, newSize)) {
        // A log that outgrew its room goes on growing: half as much again, which costs
        // nothing until it is written, spares most copies of the whole text.
        auto bigger = std::make_shared<TextBuffer>(newSize + newSize / 2);
        std::copy(m_text->data(), m_text->data() + size, bigger->data());
        bigger->claim(0, newSize);
        text->m_text = std::move(bigger);
    }
    std::copy(more.begin(), more.end(), text->m_text->data() + size);
    lines.add(text->m_text->data() + size, more.size());
    lines.finish();
    text->m_size = text->m_stable = static_cast<ByteOffset>(newSize);
    text->m_fileSize = static_cast<std::int64_t>(newSize);
    return text;
}

} // namespace tlg
