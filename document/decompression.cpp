#include "document/decompression.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "document/archivedecoder.h"
#include "document/bzip2decoder.h"
#include "document/gzipdecoder.h"
#include "document/xzdecoder.h"
#include "document/zstddecoder.h"

#include <sys/stat.h>
#include <unistd.h>

namespace tlg {

std::unique_ptr<CompressedDecoder> StreamDecoder(int fd, Compression how, const RestartPoint& from, bool scan)
{
    switch (how) {
    case Compression::Gzip:
        return std::make_unique<GzipDecoder>(fd, from, scan);
    case Compression::Zstd:
        return std::make_unique<ZstdDecoder>(fd, from, scan);
    case Compression::Bzip2:
        return std::make_unique<Bzip2Decoder>(fd, from, scan);
    case Compression::Xz:
    case Compression::Archive: // (made by name: ArchiveDecoder)
    case Compression::None:
        break;
    }
    return std::make_unique<XzDecoder>(fd, from, scan);
}

std::string DecompressedHead(int fd, Compression how, std::size_t length, const std::string& member)
{
    std::string head(length, '\0');
    std::unique_ptr<CompressedDecoder> decoder;
    try {
        decoder = how == Compression::Archive ? std::make_unique<ArchiveDecoder>(fd, member, std::string(), false)
                                              : StreamDecoder(fd, how, RestartPoint{}, false);
    } catch (const Failure&) {
        return {}; // (the load that follows says why)
    }
    std::size_t got = 0;
    while (got < length && decoder->state == CompressedDecoder::State::Going)
        got += decoder->decode(head.data() + got, length - got);
    head.resize(got);
    return head;
}

bool IsArchiveFile(const std::string& path)
{
    const FileHandle file = OpenForReading(path);
    struct stat st {};
    if (!file.valid() || ::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    constexpr std::size_t kHead = 512;
    std::string head(kHead, '\0');
    const ssize_t got = ::pread(file.fd(), head.data(), head.size(), 0);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    const Compression how = CompressionOf(head);
    return LooksLikeArchive(how == Compression::None ? head : DecompressedHead(file.fd(), how, kHead));
}

} // namespace tlg
