#pragma once

// xz as one stream decoder from the file's start: streams one after another. (An xz file of
// several blocks is read by its blocks: XzBlockDecoder.)

#include "document/compresseddecoder.h"

#include <lzma.h>

namespace tlg {

class XzDecoder final : public CompressedDecoder {
public:
    XzDecoder(int fd, const RestartPoint& from, bool scan);
    ~XzDecoder() override;

    std::size_t decode(char* out, std::size_t room) override;

private:
    lzma_stream m_s = LZMA_STREAM_INIT;
};

} // namespace tlg
