#include "document/compresseddecoder.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tlg {

bool CompressedInput::fill()
{
    if (avail > 0)
        return true;
    const std::int64_t got = ReadAt(fd, buffer.get(), kCompressedInput, end);
    if (got <= 0) {
        failed = failed || got < 0;
        return false;
    }
    next = buffer.get();
    avail = static_cast<std::size_t>(got);
    end += got;
    return true;
}

void CompressedInput::skip(std::size_t bytes)
{
    if (avail >= bytes) {
        next += bytes;
        avail -= bytes;
    } else {
        seek(position() + static_cast<std::int64_t>(bytes));
    }
}

bool CompressedInput::startsWith(std::string_view magic)
{
    if (avail >= magic.size())
        return std::memcmp(next, magic.data(), magic.size()) == 0;
    std::string head(magic.size(), '\0');
    const std::int64_t got = ReadAt(fd, head.data(), head.size(), position());
    failed = failed || got < 0;
    return got == static_cast<std::int64_t>(magic.size()) && head == magic;
}

void CompressedDecoder::keepBehind(std::size_t room)
{
    m_behind.reset(room > 0 ? new char[room] : nullptr);
    m_behindRoom = room;
    m_behindAt = m_behindKept = 0;
}

void CompressedDecoder::keep(const char* bytes, std::size_t length)
{
    if (m_behindRoom == 0)
        return;
    if (length >= m_behindRoom) {
        std::memcpy(m_behind.get(), bytes + length - m_behindRoom, m_behindRoom);
        m_behindAt = 0;
        m_behindKept = m_behindRoom;
        return;
    }
    const std::size_t first = std::min(length, m_behindRoom - m_behindAt);
    std::memcpy(m_behind.get() + m_behindAt, bytes, first);
    std::memcpy(m_behind.get(), bytes + first, length - first);
    m_behindAt = (m_behindAt + length) % m_behindRoom;
    m_behindKept = std::min(m_behindRoom, m_behindKept + length);
}

void CompressedDecoder::copyKept(std::int64_t from, char* out, std::size_t length) const
{
    // The byte `back` bytes before `text` is the one `back` places before m_behindAt.
    const auto back = static_cast<std::size_t>(text - from);
    const std::size_t at = (m_behindAt + m_behindRoom - back) % m_behindRoom;
    const std::size_t first = std::min(length, m_behindRoom - at);
    std::memcpy(out, m_behind.get() + at, first);
    std::memcpy(out + first, m_behind.get(), length - first);
}

} // namespace tlg
