#include "document/sniffing.h"

namespace tlg {

Compression CompressionOf(std::string_view head)
{
    if (head.starts_with("\x1f\x8b\x08"))
        return Compression::Gzip;
    if (head.starts_with(std::string_view("\xfd" "7zXZ\0", 6)))
        return Compression::Xz;
    if (head.size() >= 4 && head.starts_with("BZh") && head[3] >= '1' && head[3] <= '9')
        return Compression::Bzip2;
    if (head.starts_with("\x28\xb5\x2f\xfd"))
        return Compression::Zstd;
    return Compression::None;
}

const char* CompressionName(Compression how)
{
    switch (how) {
    case Compression::Gzip:
        return "gzip";
    case Compression::Xz:
        return "xz";
    case Compression::Bzip2:
        return "bzip2";
    case Compression::Zstd:
        return "zstd";
    case Compression::Archive:
        return "archive";
    case Compression::None:
        break;
    }
    return "";
}

bool LooksLikeArchive(std::string_view head)
{
    if (head.starts_with("PK\x03\x04"))
        return true;
    // A tar header: "ustar" at 257 (POSIX and GNU alike).
    return head.size() >= 262 && head.substr(257, 5) == "ustar";
}

} // namespace tlg
