#include "document/xzdecoder.h"

#include <cstdint>

namespace tlg {

XzDecoder::XzDecoder(int fd, const RestartPoint& from, bool scan) : CompressedDecoder(fd, from, scan)
{
    if (lzma_stream_decoder(&m_s, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
        state = State::Damaged;
}

XzDecoder::~XzDecoder()
{
    lzma_end(&m_s);
}

std::size_t XzDecoder::decode(char* out, std::size_t room)
{
    m_s.next_out = reinterpret_cast<std::uint8_t*>(out);
    m_s.avail_out = room;
    while (m_s.avail_out > 0 && state == State::Going) {
        const bool more = input.fill();
        if (!more && input.failed) {
            state = State::Damaged;
            break;
        }
        m_s.next_in = more ? input.next : nullptr;
        m_s.avail_in = more ? input.avail : 0;
        const lzma_ret result = lzma_code(&m_s, more ? LZMA_RUN : LZMA_FINISH);
        if (more)
            input.consumedTo(m_s.next_in);
        if (result == LZMA_STREAM_END)
            state = State::End;
        else if (result != LZMA_OK)
            state = State::Damaged; // (LZMA_BUF_ERROR at the end: cut off)
    }
    const std::size_t given = room - m_s.avail_out;
    text += static_cast<std::int64_t>(given);
    return given;
}

} // namespace tlg
