#include "document/zstddecoder.h"

namespace tlg {

ZstdDecoder::ZstdDecoder(int fd, const RestartPoint& from, bool scan)
    : CompressedDecoder(fd, from, scan), m_d(ZSTD_createDStream())
{
    ZSTD_initDStream(m_d);
}

ZstdDecoder::~ZstdDecoder()
{
    ZSTD_freeDStream(m_d);
}

std::size_t ZstdDecoder::decode(char* out, std::size_t room)
{
    boundary = false;
    ZSTD_outBuffer output{out, room, 0};
    while (output.pos < output.size && state == State::Going && !boundary) {
        const bool more = input.fill();
        ZSTD_inBuffer in{more ? input.next : nullptr, more ? input.avail : 0, 0};
        const std::size_t before = output.pos;
        const std::size_t result = ZSTD_decompressStream(m_d, &output, &in);
        if (more)
            input.consumedTo(input.next + in.pos);
        if (ZSTD_isError(result)) {
            state = State::Damaged;
        } else if (result == 0) {
            m_open = false;
            if (!input.fill())
                endOfInput(false);
            else
                boundary = scanning;
        } else {
            m_open = true;
            if (!more && output.pos == before)
                endOfInput(true); // cut off within a frame
        }
    }
    text += static_cast<std::int64_t>(output.pos);
    return output.pos;
}

std::size_t ZstdDecoder::memory() const
{
    return kCompressedInput + ZSTD_sizeof_DStream(m_d);
}

} // namespace tlg
