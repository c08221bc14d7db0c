#include "document/textload.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "document/archivereader.h"
#include "document/decompression.h"
#include "document/sniffing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {

namespace {

// Opens the file and checks that it may be read as a log: a regular file that no other
// program holds a write lock on.
FileHandle openLog(const std::string& path, struct stat& st)
{
    FileHandle file = OpenForReading(path);
    if (!file.valid() || ::fstat(file.fd(), &st) != 0)
        throw Failure("Cannot open file " + path + ": " + std::strerror(errno)); // the system's reason
    if (S_ISDIR(st.st_mode))
        throw Failure("Cannot open file " + path + ": it is a folder");
    if (!S_ISREG(st.st_mode))
        throw Failure("Cannot open file " + path + ": it is not a regular file");
    if (LockHeldOnFile(file.fd(), /*writeOnly=*/true))
        throw Failure("File is locked by another program: " + path);
    return file;
}

// Reads from the file's position to its end into `out` from `used` on, growing it by copying
// when a writer appended past its room. Reads in large steps so that progress can be told.
void readToEnd(int fd, const std::string& path, std::shared_ptr<TextBuffer>& out, std::size_t& used,
               std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    constexpr std::size_t kStep = 16u << 20;
    for (;;) {
        ThrowIfStopped(stop);
        if (used == out->capacity()) {
            auto bigger = std::make_shared<TextBuffer>(TextRoomFor(used));
            std::memcpy(bigger->data(), out->data(), used);
            out = std::move(bigger);
        }
        const std::size_t want = std::min(kStep, out->capacity() - used);
        const ssize_t n = ::read(fd, out->data() + used, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Failure("Cannot read file " + path);
        }
        if (n == 0)
            return;
        used += static_cast<std::size_t>(n);
        if (bytesRead)
            bytesRead->fetch_add(n, std::memory_order_relaxed);
    }
}

// The document of the open file: the text it holds when its first bytes show a compression,
// else its bytes as `how` makes them shown.
// What the open file holds: its own bytes (None), a compressed text, or an archive (Archive,
// with the member to show).
Compression kindOf(int fd, const std::string& path, std::string& member)
{
    constexpr std::size_t kHead = 512; // a tar header
    std::string head(kHead, '\0');
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    const Compression compression = CompressionOf(head);
    if (!LooksLikeArchive(compression == Compression::None ? head : DecompressedHead(fd, compression, kHead)))
        return compression;
    member = ChosenArchiveMember(path);
    if (member.empty()) {
        // Opened otherwise than by a choice of member: its first file.
        ArchiveReader reader(fd);
        ArchiveMember first;
        if (!reader.next(first))
            throw Failure(reader.failed() ? "Cannot read the archive " + path + ": " + reader.reason()
                                          : "No file in the archive " + path);
        member = first.name;
    }
    return Compression::Archive;
}

DocumentPtr documentOf(FileHandle file, const std::string& path, FileIdentity identity, Transcoding how,
                       std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop,
                       const PartialDocuments& partial = {})
{
    std::string member;
    const Compression compression = kindOf(file.fd(), path, member);
    if (compression != Compression::None)
        return LogDocument::fromCompressed(std::move(file), path, identity, compression, bytesRead, PagingSizes{}, stop,
                                           member, how, partial);
    return LogDocument::fromFile(std::move(file), path, identity, bytesRead, PagingSizes{}, how, stop);
}

} // namespace

std::string TextHeadOf(const std::string& path, std::size_t length)
{
    const FileHandle file = OpenForReading(path);
    if (!file.valid())
        return {};
    std::string member;
    Compression compression = Compression::None;
    try {
        compression = kindOf(file.fd(), path, member);
    } catch (const Failure&) {
        return {}; // (the load says why)
    }
    if (compression != Compression::None)
        return DecompressedHead(file.fd(), compression, length, member);
    std::string head(length, '\0');
    const ssize_t got = ::pread(file.fd(), head.data(), head.size(), 0);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

DocumentPtr LoadPlainText(const std::string& path, std::atomic<std::int64_t>* bytesRead,
                          const std::atomic<bool>* stop, const PartialDocuments& partial)
{
    return LoadText(path, Transcoding::None, bytesRead, stop, partial);
}

DocumentPtr LoadText(const std::string& path, Transcoding how, std::atomic<std::int64_t>* bytesRead,
                     const std::atomic<bool>* stop, const PartialDocuments& partial)
{
    struct stat st {};
    FileHandle file = openLog(path, st);
    return documentOf(std::move(file), path, {st.st_dev, st.st_ino, true}, how, bytesRead, stop, partial);
}

DocumentPtr LoadPlainTextAfter(const std::string& path, const DocumentPtr& previous,
                               std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    return LoadTextAfter(path, Transcoding::None, previous, bytesRead, stop);
}

DocumentPtr LoadTextAfter(const std::string& path, Transcoding how, const DocumentPtr& previous,
                          std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    struct stat st {};
    FileHandle file = openLog(path, st);
    const FileIdentity identity{st.st_dev, st.st_ino, true};
    const ByteOffset known = previous ? previous->size() : 0;
    constexpr ByteOffset kCheck = 4096;
    const bool unchanged =
        previous && previous->transcoding() == how && previous->identity() == identity && known > 0 &&
        st.st_size >= previous->fileBytes() && !previous->stale() &&
        previous->sameAsFile(file.fd(), path, 0, std::min(kCheck, known)) &&
        previous->sameAsFile(file.fd(), path, known - std::min(kCheck, known), known);
    if (!unchanged)
        return documentOf(std::move(file), path, identity, how, bytesRead, stop);
    // A text read from the file reads what was written since from the file it already has
    // open (the same one: same device and inode).
    if (previous->paged())
        return previous->grown(bytesRead, stop);
    // Only what was written since.
    if (::lseek(file.fd(), static_cast<off_t>(known), SEEK_SET) < 0)
        throw Failure("Cannot read file " + path);
    auto more = std::make_shared<TextBuffer>(static_cast<std::size_t>(st.st_size - known) + 65536);
    std::size_t used = 0;
    readToEnd(file.fd(), path, more, used, bytesRead, stop);
    if (used == 0)
        return previous;
    return previous->appended(std::string_view(more->data(), used));
}

DocumentPtr LoadUtf16Text(const std::string& path, bool bigEndian)
{
    return LoadText(path, bigEndian ? Transcoding::Utf16Be : Transcoding::Utf16Le);
}

} // namespace tlg
