#include "document/archivereader.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {

namespace {

constexpr std::size_t kBlock = 256u << 10;

std::mutex g_chosenMutex;
std::map<std::string, std::string> g_chosen; // guarded by g_chosenMutex

} // namespace

ArchiveReader::ArchiveReader(int fd) : m_archive(archive_read_new()), m_fd(fd), m_block(new char[kBlock])
{
    archive_read_support_filter_all(m_archive);
    archive_read_support_format_tar(m_archive);
    archive_read_support_format_gnutar(m_archive);
    archive_read_support_format_zip(m_archive);
    archive_read_set_callback_data(m_archive, this);
    archive_read_set_read_callback(m_archive, &ArchiveReader::readBlock);
    archive_read_set_skip_callback(m_archive, &ArchiveReader::skipBytes);
    m_failed = archive_read_open1(m_archive) != ARCHIVE_OK;
}

ArchiveReader::~ArchiveReader()
{
    archive_read_free(m_archive);
}

long ArchiveReader::readBlock(struct archive* archive, void* self, const void** block)
{
    auto* reader = static_cast<ArchiveReader*>(self);
    for (;;) {
        const ssize_t n = ::pread(reader->m_fd, reader->m_block.get(), kBlock, static_cast<off_t>(reader->m_at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reader->m_readError = true;
            archive_set_error(archive, errno, "%s", std::strerror(errno));
            return -1;
        }
        reader->m_at += n;
        *block = reader->m_block.get();
        return static_cast<long>(n);
    }
}

std::int64_t ArchiveReader::skipBytes(struct archive*, void* self, std::int64_t request)
{
    auto* reader = static_cast<ArchiveReader*>(self);
    struct stat st {};
    if (::fstat(reader->m_fd, &st) != 0)
        return 0;
    const std::int64_t skipped = std::max<std::int64_t>(0, std::min<std::int64_t>(request, st.st_size - reader->m_at));
    reader->m_at += skipped;
    return skipped;
}

bool ArchiveReader::next(ArchiveMember& member)
{
    while (!m_failed) {
        archive_entry* entry = nullptr;
        const int result = archive_read_next_header(m_archive, &entry);
        if (result == ARCHIVE_EOF)
            return false;
        if (result < ARCHIVE_WARN) {
            m_failed = true;
            return false;
        }
        if (archive_entry_filetype(entry) != AE_IFREG)
            continue;
        const char* name = archive_entry_pathname(entry);
        member.name = name ? name : "";
        member.size = archive_entry_size(entry);
        return true;
    }
    return false;
}

bool ArchiveReader::find(const std::string& name)
{
    ArchiveMember member;
    while (next(member)) {
        if (member.name == name)
            return true;
    }
    return false;
}

std::int64_t ArchiveReader::read(char* out, std::size_t room)
{
    const la_ssize_t n = archive_read_data(m_archive, out, room);
    if (n < 0)
        m_failed = true;
    return n < 0 ? -1 : static_cast<std::int64_t>(n);
}

std::string ArchiveReader::reason() const
{
    const char* text = archive_error_string(m_archive);
    return text ? text : "it is not an archive that can be read";
}

std::vector<ArchiveMember> ListArchive(const std::string& path)
{
    const FileHandle file = OpenForReading(path);
    if (!file.valid())
        throw Failure("Cannot open file " + path + ": " + std::strerror(errno));
    ArchiveReader reader(file.fd());
    std::vector<ArchiveMember> members;
    ArchiveMember member;
    while (reader.next(member))
        members.push_back(member);
    if (reader.failed())
        throw Failure("Cannot read the archive " + path + ": " + reader.reason());
    return members;
}

void ChooseArchiveMember(const std::string& path, const std::string& member)
{
    const std::lock_guard lock(g_chosenMutex);
    g_chosen[path] = member;
}

std::string ChosenArchiveMember(const std::string& path)
{
    const std::lock_guard lock(g_chosenMutex);
    const auto it = g_chosen.find(path);
    return it == g_chosen.end() ? std::string() : it->second;
}

} // namespace tlg
