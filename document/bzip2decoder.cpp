#include "document/bzip2decoder.h"

namespace tlg {

Bzip2Decoder::Bzip2Decoder(int fd, const RestartPoint& from, bool scan) : CompressedDecoder(fd, from, scan)
{
    BZ2_bzDecompressInit(&m_s, 0, 0);
}

Bzip2Decoder::~Bzip2Decoder()
{
    BZ2_bzDecompressEnd(&m_s);
}

std::size_t Bzip2Decoder::decode(char* out, std::size_t room)
{
    boundary = false;
    m_s.next_out = out;
    m_s.avail_out = static_cast<unsigned>(room);
    while (m_s.avail_out > 0 && state == State::Going && !boundary) {
        if (!input.fill()) {
            endOfInput(true);
            break;
        }
        m_s.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(input.next));
        m_s.avail_in = static_cast<unsigned>(input.avail);
        const int result = BZ2_bzDecompress(&m_s);
        input.consumedTo(reinterpret_cast<const unsigned char*>(m_s.next_in));
        if (result == BZ_STREAM_END) {
            if (!input.startsWith("BZh")) {
                state = input.failed ? State::Damaged : State::End;
            } else {
                // The next stream goes on into the room left.
                const unsigned left = m_s.avail_out;
                BZ2_bzDecompressEnd(&m_s);
                m_s = bz_stream{};
                BZ2_bzDecompressInit(&m_s, 0, 0);
                m_s.next_out = out + (room - left);
                m_s.avail_out = left;
                boundary = scanning;
            }
        } else if (result != BZ_OK) {
            state = State::Damaged;
        }
    }
    const std::size_t given = room - m_s.avail_out;
    text += static_cast<std::int64_t>(given);
    return given;
}

} // namespace tlg
