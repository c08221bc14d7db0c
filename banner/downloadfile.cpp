#include "banner/downloadfile.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {

DownloadFile::DownloadFile(std::string path) : m_path(std::move(path))
{
    std::string base = BaseNameOf(m_path);
    if (base.empty() || base == "." || base == "..") {
        throw Failure("Cannot create file " + m_path);
    }
    if (base.size() > 200) {
        base.resize(200); // the temporary name stays within NAME_MAX
    }
    m_tempPath = FolderOf(m_path) + "." + base + ".XXXXXX";
    m_fd = ::mkostemp(m_tempPath.data(), O_CLOEXEC);
    if (m_fd < 0) {
        throw Failure("Cannot create file " + m_path);
    }
}

DownloadFile::~DownloadFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_tempPath.c_str());
    }
}

void DownloadFile::append(std::string_view bytes)
{
    if (!WriteAll(m_fd, bytes))
        throw Failure("Cannot create file " + m_path);
}

void DownloadFile::commit()
{
    // A link in the file's place is replaced by the file, and its target left alone.
    struct stat old {};
    const mode_t mode = ::lstat(m_path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(m_fd, mode) == 0;
    ok = ::fsync(m_fd) == 0 && ok;
    ok = ::close(m_fd) == 0 && ok;
    m_fd = -1;
    if (!ok || ::rename(m_tempPath.c_str(), m_path.c_str()) != 0) {
        ::unlink(m_tempPath.c_str());
        throw Failure("Cannot create file " + m_path);
    }
}

} // namespace tlg
