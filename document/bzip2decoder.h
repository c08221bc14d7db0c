#pragma once

// bzip2, one stream after another.

#include "document/compresseddecoder.h"

#include <bzlib.h>

namespace tlg {

class Bzip2Decoder final : public CompressedDecoder {
public:
    // Decodes the file `fd` from `from`; in a scan it stops where a stream ends.
    Bzip2Decoder(int fd, const RestartPoint& from, bool scan);
    ~Bzip2Decoder() override;

    std::size_t decode(char* out, std::size_t room) override;

private:
    bz_stream m_s{};
};

} // namespace tlg
