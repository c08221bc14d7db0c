#pragma once

// zstd, one frame after another (skippable frames give nothing).

#include "document/compresseddecoder.h"

#include <zstd.h>

namespace tlg {

class ZstdDecoder final : public CompressedDecoder {
public:
    // Decodes the file `fd` from `from`; in a scan it stops where a frame ends.
    ZstdDecoder(int fd, const RestartPoint& from, bool scan);
    ~ZstdDecoder() override;

    std::size_t decode(char* out, std::size_t room) override;
    std::size_t memory() const override;

private:
    ZSTD_DStream* m_d;
    bool m_open = false; // a frame is begun and not ended
};

} // namespace tlg
