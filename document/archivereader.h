#pragma once

// The members of an archive (tar, tar compressed by any of the usual programs, zip), read with
// libarchive from an open file, one after another; and the member chosen to be shown for each
// archive opened. (Whether a file is an archive: sniffing.h and decompression.h.)

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct archive;

namespace tlg {

struct ArchiveMember {
    std::string name;
    std::int64_t size = 0;
};

// Reads the archive in the open file `fd` from its start (with pread: the file's position is
// left alone), a member at a time.
class ArchiveReader {
public:
    explicit ArchiveReader(int fd);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Moves to the next regular file of the archive (folders and links are passed over); false
    // at its end, or when it cannot be read (failed() then says so).
    bool next(ArchiveMember& member);
    // Moves to the member of this name; false when there is none.
    bool find(const std::string& name);
    // The current member's next bytes into out: their number, 0 at its end, -1 when its data is
    // damaged or cannot be read.
    std::int64_t read(char* out, std::size_t room);
    // Archive bytes read so far.
    std::int64_t consumed() const { return m_at; }
    // Whether reading the archive failed, and libarchive's reason.
    bool failed() const { return m_failed; }
    bool readError() const { return m_readError; }
    std::string reason() const;

private:
    static long readBlock(struct archive*, void* self, const void** block);
    static std::int64_t skipBytes(struct archive*, void* self, std::int64_t request);

    struct archive* m_archive;
    int m_fd;
    std::int64_t m_at = 0;
    std::unique_ptr<char[]> m_block;
    bool m_failed = false;
    bool m_readError = false;
};

// The regular files of the archive at path, in their order. Throws Failure("Cannot read the
// archive <path>: <reason>") when it cannot be opened or read.
std::vector<ArchiveMember> ListArchive(const std::string& path);

// The member to show of the archive at path, as chosen last (empty when none was: the first
// regular file is shown). Kept for the run, for every load of the archive.
void ChooseArchiveMember(const std::string& path, const std::string& member);
std::string ChosenArchiveMember(const std::string& path);

} // namespace tlg
