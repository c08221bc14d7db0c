#pragma once

// The decoder each compression needs, and what a compressed file or an archive holds at its
// start.

#include "document/compresseddecoder.h"
#include "document/sniffing.h"

#include <cstddef>
#include <memory>
#include <string>

namespace tlg {

// The decoder of a gzip, xz (read as one stream), bzip2 or zstd file from `from`. (An archive's
// member and xz by its blocks are decoded by ArchiveDecoder and XzBlockDecoder.)
std::unique_ptr<CompressedDecoder> StreamDecoder(int fd, Compression how, const RestartPoint& from, bool scan);

// The first `length` bytes of the text that the compressed file at `fd` holds (fewer when it is
// shorter or damaged early), or of the archive's member of that name; empty when it cannot be
// read.
std::string DecompressedHead(int fd, Compression how, std::size_t length, const std::string& member = {});

// Whether the file at path is an archive, compressed or not (false when it cannot be read).
bool IsArchiveFile(const std::string& path);

} // namespace tlg
