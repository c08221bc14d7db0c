#pragma once

// One member of an archive, read through libarchive from the archive's start: an archive's
// text has no restart point but its start, and is spooled.

#include "document/archivereader.h"
#include "document/compresseddecoder.h"

#include <cstdint>
#include <string>

namespace tlg {

class ArchiveDecoder final : public CompressedDecoder {
public:
    // Moves to the member `member` of the archive in `fd` (at `path`). Throws Failure("No file
    // <member> in the archive <path>") when it has none, and Failure("Cannot read the archive
    // <path>: <reason>") when it cannot be read as an archive; a read error is left to the
    // decoding (readFailed()).
    ArchiveDecoder(int fd, const std::string& member, const std::string& path, bool scan);

    std::size_t decode(char* out, std::size_t room) override;
    std::int64_t consumed() const override { return m_reader.consumed(); }
    bool readFailed() const override { return m_reader.readError(); }

private:
    ArchiveReader m_reader;
};

} // namespace tlg
