#include "document/xzblockdecoder.h"

namespace tlg {

XzBlockDecoder::XzBlockDecoder(int fd, const RestartPoint& from, bool scan, int check, std::int64_t blocksEnd)
    : CompressedDecoder(fd, from, scan), m_check(static_cast<lzma_check>(check)), m_blocksEnd(blocksEnd)
{
    startBlock();
}

XzBlockDecoder::~XzBlockDecoder()
{
    lzma_end(&m_s);
    lzma_filters_free(m_filters, nullptr);
}

std::size_t XzBlockDecoder::decode(char* out, std::size_t room)
{
    boundary = false;
    m_s.next_out = reinterpret_cast<std::uint8_t*>(out);
    m_s.avail_out = room;
    while (m_s.avail_out > 0 && state == State::Going && !boundary) {
        if (!input.fill()) {
            endOfInput(true);
            break;
        }
        m_s.next_in = input.next;
        m_s.avail_in = input.avail;
        const lzma_ret result = lzma_code(&m_s, LZMA_RUN);
        input.consumedTo(m_s.next_in);
        if (result == LZMA_STREAM_END) {
            if (input.position() >= m_blocksEnd) {
                state = State::End;
            } else {
                boundary = scanning;
                const std::size_t left = m_s.avail_out;
                startBlock();
                m_s.next_out = reinterpret_cast<std::uint8_t*>(out) + (room - left);
                m_s.avail_out = left;
            }
        } else if (result != LZMA_OK) {
            state = State::Damaged;
        }
    }
    const std::size_t given = room - m_s.avail_out;
    text += static_cast<std::int64_t>(given);
    return given;
}

void XzBlockDecoder::startBlock()
{
    lzma_end(&m_s);
    m_s = LZMA_STREAM_INIT;
    lzma_filters_free(m_filters, nullptr);
    std::uint8_t header[LZMA_BLOCK_HEADER_SIZE_MAX];
    const std::int64_t at = input.position();
    if (ReadAt(input.fd, header, 1, at) != 1) {
        input.failed = true;
        state = State::Damaged;
        return;
    }
    m_block = lzma_block{};
    m_block.version = 1;
    m_block.check = m_check;
    m_block.filters = m_filters;
    m_block.header_size = lzma_block_header_size_decode(header[0]);
    if (header[0] == 0 ||
        ReadAt(input.fd, header, m_block.header_size, at) != static_cast<std::int64_t>(m_block.header_size) ||
        lzma_block_header_decode(&m_block, nullptr, header) != LZMA_OK ||
        lzma_block_decoder(&m_s, &m_block) != LZMA_OK) {
        state = State::Damaged;
        return;
    }
    input.skip(m_block.header_size);
}

std::vector<RestartPoint> XzBlockStarts(int fd, std::int64_t size, int& check, std::int64_t& blocksEnd)
{
    std::vector<RestartPoint> starts;
    if (size < 2 * LZMA_STREAM_HEADER_SIZE)
        return starts;
    std::uint8_t head[LZMA_STREAM_HEADER_SIZE];
    std::uint8_t foot[LZMA_STREAM_HEADER_SIZE];
    lzma_stream_flags headFlags{};
    lzma_stream_flags footFlags{};
    if (ReadAt(fd, head, sizeof head, 0) != sizeof head ||
        ReadAt(fd, foot, sizeof foot, size - LZMA_STREAM_HEADER_SIZE) != sizeof foot ||
        lzma_stream_header_decode(&headFlags, head) != LZMA_OK ||
        lzma_stream_footer_decode(&footFlags, foot) != LZMA_OK ||
        lzma_stream_flags_compare(&headFlags, &footFlags) != LZMA_OK)
        return starts;
    const auto indexSize = static_cast<std::int64_t>(footFlags.backward_size);
    const std::int64_t indexAt = size - LZMA_STREAM_HEADER_SIZE - indexSize;
    if (indexAt < LZMA_STREAM_HEADER_SIZE || indexSize > (64 << 20))
        return starts;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(indexSize));
    if (ReadAt(fd, bytes.data(), bytes.size(), indexAt) != indexSize)
        return starts;
    lzma_index* index = nullptr;
    std::uint64_t memLimit = UINT64_MAX;
    std::size_t pos = 0;
    if (lzma_index_buffer_decode(&index, &memLimit, nullptr, bytes.data(), &pos, bytes.size()) != LZMA_OK)
        return starts;
    if (lzma_index_stream_size(index) == static_cast<lzma_vli>(size) && lzma_index_block_count(index) > 1) {
        lzma_index_iter it;
        lzma_index_iter_init(&it, index);
        while (!lzma_index_iter_next(&it, LZMA_INDEX_ITER_BLOCK))
            starts.push_back({static_cast<std::int64_t>(it.block.uncompressed_file_offset),
                              static_cast<std::int64_t>(it.block.compressed_file_offset), 0, true, {}});
        check = static_cast<int>(footFlags.check);
        blocksEnd = indexAt;
    }
    lzma_index_end(index, nullptr);
    return starts;
}

} // namespace tlg
