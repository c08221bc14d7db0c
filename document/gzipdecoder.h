#pragma once

// gzip, one member after another. From a point inside a member it inflates raw deflate data
// primed with the bits and window kept (as zlib's zran example does).

#include "document/compresseddecoder.h"

#include <zlib.h>

#include <cstdint>
#include <memory>

namespace tlg {

class GzipDecoder final : public CompressedDecoder {
public:
    // Decodes the file `fd` from `from`; in a scan it stops at every block boundary and keeps
    // the window a restart point there needs.
    GzipDecoder(int fd, const RestartPoint& from, bool scan);
    ~GzipDecoder() override;

    std::size_t decode(char* out, std::size_t room) override;
    RestartPoint point() const override;
    std::size_t memory() const override { return kCompressedInput + 3 * kRestartWindow; }

private:
    void nextMember();
    void keepWindow(const char* out, std::size_t given);

    z_stream m_z{};
    bool m_raw = false;
    bool m_memberStart;         // no text has come of the member begun at m_memberAt yet
    std::int64_t m_memberAt;
    std::unique_ptr<unsigned char[]> m_ring{new unsigned char[kRestartWindow]};
    std::size_t m_ringAt = 0;
    std::int64_t m_kept = 0;
};

} // namespace tlg
