#include "document/gzipdecoder.h"

#include <algorithm>

namespace tlg {

GzipDecoder::GzipDecoder(int fd, const RestartPoint& from, bool scan)
    : CompressedDecoder(fd, from, scan), m_memberStart(from.unitStart), m_memberAt(from.file)
{
    if (from.unitStart) {
        inflateInit2(&m_z, 31);
        return;
    }
    inflateInit2(&m_z, -15);
    m_raw = true;
    if (from.bits > 0) {
        unsigned char before = 0;
        if (ReadAt(fd, &before, 1, from.file - 1) != 1) {
            input.failed = true;
            state = State::Damaged;
            return;
        }
        inflatePrime(&m_z, from.bits, before >> (8 - from.bits));
    }
    inflateSetDictionary(&m_z, from.window.data(), static_cast<uInt>(from.window.size()));
    if (scan) // the next points' windows reach back into this one
        keepWindow(reinterpret_cast<const char*>(from.window.data()), from.window.size());
}

GzipDecoder::~GzipDecoder()
{
    inflateEnd(&m_z);
}

std::size_t GzipDecoder::decode(char* out, std::size_t room)
{
    boundary = false;
    m_z.next_out = reinterpret_cast<Bytef*>(out);
    m_z.avail_out = static_cast<uInt>(room);
    while (m_z.avail_out > 0 && state == State::Going && !boundary) {
        if (!input.fill()) {
            endOfInput(true);
            break;
        }
        m_z.next_in = const_cast<Bytef*>(input.next);
        m_z.avail_in = static_cast<uInt>(input.avail);
        const uInt before = m_z.avail_out;
        const int result = inflate(&m_z, scanning ? Z_BLOCK : Z_NO_FLUSH);
        input.consumedTo(m_z.next_in);
        if (m_z.avail_out != before)
            m_memberStart = false;
        if (result == Z_STREAM_END)
            nextMember();
        else if (result != Z_OK && result != Z_BUF_ERROR)
            state = State::Damaged;
        else if (scanning && (m_z.data_type & 128) && !(m_z.data_type & 64))
            boundary = true; // between two blocks of a member, the last one not yet begun
    }
    const std::size_t given = room - m_z.avail_out;
    if (scanning)
        keepWindow(out, given);
    text += static_cast<std::int64_t>(given);
    return given;
}

RestartPoint GzipDecoder::point() const
{
    // A member whose first text is yet to come starts again from its header.
    RestartPoint here{text, m_memberStart ? m_memberAt : input.position(), 0, m_memberStart, {}};
    if (!m_memberStart) {
        here.bits = m_z.data_type & 7;
        const std::size_t have = std::min<std::size_t>(kRestartWindow, static_cast<std::size_t>(m_kept));
        here.window.resize(have);
        // The ring holds the last `have` bytes ending at m_ringAt.
        for (std::size_t i = 0; i < have; ++i)
            here.window[i] = m_ring[(m_ringAt + kRestartWindow - have + i) % kRestartWindow];
    }
    return here;
}

void GzipDecoder::nextMember()
{
    // A raw run stops before the member's trailer (CRC and size); a gzip one after it.
    if (m_raw)
        input.skip(8);
    if (!input.startsWith("\x1f\x8b")) {
        state = input.failed ? State::Damaged : State::End; // what follows the last member is not text
        return;
    }
    inflateReset2(&m_z, 31);
    m_raw = false;
    m_memberStart = true;
    m_memberAt = input.position();
    boundary = scanning;
}

void GzipDecoder::keepWindow(const char* out, std::size_t given)
{
    const std::size_t take = std::min(given, kRestartWindow);
    const char* from = out + given - take;
    for (std::size_t i = 0; i < take; ++i) {
        m_ring[m_ringAt] = static_cast<unsigned char>(from[i]);
        m_ringAt = (m_ringAt + 1) % kRestartWindow;
    }
    m_kept += static_cast<std::int64_t>(given);
}

} // namespace tlg
