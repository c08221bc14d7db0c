#pragma once

// xz read a block at a time, from any block's start to the end of the blocks: the restart
// points of an xz file of several blocks (as `xz -T2` writes) are its block starts, read from
// the index at its end.

#include "document/compresseddecoder.h"

#include <lzma.h>

#include <cstdint>
#include <vector>

namespace tlg {

class XzBlockDecoder final : public CompressedDecoder {
public:
    // Decodes the file `fd` from the block that starts at `from`; `check` is the stream's check
    // kind and `blocksEnd` where its blocks end (both from XzBlockStarts).
    XzBlockDecoder(int fd, const RestartPoint& from, bool scan, int check, std::int64_t blocksEnd);
    ~XzBlockDecoder() override;

    std::size_t decode(char* out, std::size_t room) override;

private:
    void startBlock();

    lzma_stream m_s = LZMA_STREAM_INIT;
    lzma_block m_block{};
    lzma_filter m_filters[LZMA_FILTERS_MAX + 1] = {{LZMA_VLI_UNKNOWN, nullptr}};
    lzma_check m_check;
    std::int64_t m_blocksEnd;
};

// The block starts of an xz file of one stream, read from its index, with the stream's check
// kind and where its blocks end; empty when the file is not one whole stream (several, padded,
// cut off or damaged) or holds one block only.
std::vector<RestartPoint> XzBlockStarts(int fd, std::int64_t size, int& check, std::int64_t& blocksEnd);

} // namespace tlg
