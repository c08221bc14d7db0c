#pragma once

// File and system operations that the subsystems share. Paths are the file system's own
// bytes. Nothing here keeps a file open or takes a lock.

#include "core/errors.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace tlg {

// The folder of the running executable, ending in '/'. The environment variable
// TLGVIEW_HOME overrides it (a '/' is added when missing); tests and installs in a
// read-only folder use that.
std::string ExeFolder();

// This computer's name (gethostname), up to its first NUL byte; empty when it cannot be had.
std::string LocalComputerName();

// The size in bytes of the file or folder at path, as a 64-bit number; -1 when nothing is
// there. A folder gives 0.
std::int64_t FileSizeOf(const std::string& path);

// The last-write time of the file at path in local time, packed as a DOS date-time: date in
// the high 16 bits, time (two-second resolution) in the low 16 bits. -1 when the path is
// missing or names a folder; a path "exists" when its age stamp is not -1.
std::int32_t AgeStamp(const std::string& path);

// Packs a local broken-down time as a DOS date-time. Years before 1980 give 1980-01-01
// 00:00:00 and years after 2107 give 2107-12-31 23:59:58, the ends of the DOS range.
std::int32_t PackDosDateTime(const std::tm& local);

// True when another program holds the file: it cannot be opened for reading (missing,
// permission denied, a folder), or some process holds a write lock on it, an fcntl record
// lock or an flock exclusive lock. The probe takes no lock and never reads or changes the
// content.
bool IsFileLocked(const std::string& path);

// True when some process holds a lock on the open file fd: with writeOnly a write lock
// (fcntl write lock, flock exclusive lock), otherwise any lock, read or write. Takes no lock.
bool LockHeldOnFile(int fd, bool writeOnly);

// The path of the settings file `name` in `folder` (which ends in '/'): the file of exactly
// that name when it exists, else an existing file whose name equals it without regard to
// the letter case of a to z, else folder + name.
std::string FindSettingsFile(const std::string& folder, std::string_view name);

// The folder part of a path with its final '/' (empty when it has none), and the name after it.
std::string FolderOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

// An open file descriptor, closed when the handle goes.
class FileHandle {
public:
    explicit FileHandle(int fd = -1) : m_fd(fd) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileHandle& operator=(FileHandle&&) = delete;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fd() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Opens the file for reading only, non-blocking so that a FIFO never hangs; an invalid handle
// when it cannot be opened.
FileHandle OpenForReading(const std::string& path);

// Reads fd from where it stands to its end into `out` (replacing it), starting with room for
// sizeHint bytes so that a file of that size is read without growing. A file that grows while
// it is read is read to its new end; spare room left by growth is given back. False on a read
// error.
bool ReadToEnd(int fd, std::size_t sizeHint, std::string& out);

// The whole content of the file at path. Throws Failure("Cannot open file " + path) when
// it cannot be opened or read.
std::string ReadWholeFile(const std::string& path);

// Settings files (the format file, the file list, the master computer's name, the association
// store) are small; none real comes near this. A bigger one is refused unread.
inline constexpr std::size_t kSettingsFileLimit = 4 * 1024 * 1024;

// A settings file that is refused unread: not a regular file, or larger than
// kSettingsFileLimit. Its text names the file and says why.
class SettingsFileRefused : public Failure {
public:
    using Failure::Failure;
};

// The content of the settings file at path. Only a regular file (a link to one counts) of at
// most kSettingsFileLimit bytes is read, and never more than that, so a link to /dev/zero, a
// FIFO or a huge file costs nothing. Throws SettingsFileRefused ("Settings file <path> is not
// read: ...") for such a file, and Failure("Cannot open file " + path) when it cannot be
// opened or read.
std::string ReadSettingsFile(const std::string& path);

// Replaces the file at path with bytes so that a crash or a full disk never leaves it
// truncated: the bytes go to a temporary file in the same folder, which is flushed and
// renamed over the old file, and the folder is flushed too. A symbolic link at path is
// written through (its target is replaced). A new file gets mode 0666 less the umask; an
// existing file keeps its mode. On failure the old file stays as it was and
// Failure("Cannot create file " + path) is thrown.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

} // namespace tlg
