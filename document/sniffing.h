#pragma once

// What a file holds, told by its first bytes whatever its name: a compression format, an
// archive, or neither.

#include <cstdint>
#include <string_view>

namespace tlg {

// How a file holds its text. An archive's member (read by libarchive, whatever compresses the
// archive) is always spooled.
enum class Compression : std::uint8_t { None, Gzip, Xz, Bzip2, Zstd, Archive };

// The compression that a file's first bytes (at least 6 of them) show; None for any other file.
Compression CompressionOf(std::string_view head);
// "gzip", "xz", "bzip2", "zstd", "archive"; empty for None.
const char* CompressionName(Compression how);

// Whether the first bytes of a text (at least 512, decompressed when the file is compressed)
// are those of a tar or zip archive.
bool LooksLikeArchive(std::string_view head);

} // namespace tlg
