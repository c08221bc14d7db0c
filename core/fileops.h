#pragma once

// File and system operations that the subsystems share. Paths are the file system's own
// bytes. Nothing here keeps a file open or takes a lock.

#include "core/errors.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace tlg {

// The program's folder, ending in '/': the folder of the running executable, or the folder
// that the environment variable TLGVIEW_HOME names (a '/' is added when missing), which tests
// use. The file list's %Path% stands for it. Settings files go to SettingsFolder().
std::string ExeFolder();

// The folder of the running executable itself (/proc/self/exe), ending in '/'; "./" when it
// cannot be had. TLGVIEW_HOME does not change it.
std::string ExecutableFolder();

// The folder that an installed program keeps its own read-only data in: <prefix>/share/tlgview/
// for an executable in <prefix>/bin/ (any folder name in place of bin), when that folder
// exists; empty otherwise, as in a build tree or a portable install.
std::string DataFolderBeside(const std::string& exeFolder);
std::string InstalledDataFolder(); // DataFolderBeside(ExecutableFolder())

// What the settings folder is chosen from.
struct SettingsFolderPlaces {
    std::string home;         // TLGVIEW_HOME's value, empty when it is unset
    std::string exeFolder;    // the executable's own folder, ending in '/'
    bool installed = false;   // its data is installed beside it: a program folder shared by
                              // every program of the system, never a settings folder
    std::string configFolder; // $XDG_CONFIG_HOME/tlgview/
};

// The settings folder, ending in '/': places.home when it is given; else the executable's
// folder when it is no installed program folder and canWrite says the user can write there (a
// portable install, the program and its settings in one folder); else places.configFolder.
std::string ChooseSettingsFolder(const SettingsFolderPlaces& places,
                                 const std::function<bool(const std::string&)>& canWrite);

// True when this process can create files in the folder.
bool CanWriteFolder(const std::string& folder);

// $XDG_CONFIG_HOME/tlgview/ ($XDG_CONFIG_HOME when it is an absolute path, else
// $HOME/.config, else the account's home folder + .config).
std::string UserConfigSettingsFolder();

// $XDG_CACHE_HOME/tlgview/ (else $HOME/.cache/tlgview/), created (mode 0700, with its
// parents) when missing: spools and kept indexes of compressed logs and pipes.
std::string CacheFolder();

// The settings folder of this run, chosen by ChooseSettingsFolder from the environment and
// CanWriteFolder. The config folder is created (mode 0700, with its parents) when it is
// chosen and missing; when that fails, writing the files there fails with their own message.
std::string SettingsFolder();

// The settings file `name` to read: the file in settingsFolder (any letter case) when it is
// there, else the one in programFolder when that is another folder and has it (settings left
// in a read-only program folder still count), else settingsFolder + name.
std::string SettingsFileToRead(const std::string& settingsFolder,
                               const std::string& programFolder, std::string_view name);
// The same for this run: SettingsFolder() and ExeFolder().
std::string SettingsFileToRead(std::string_view name);

// The settings file `name` to write: FindSettingsFile(SettingsFolder(), name). A file that
// was read from the program folder is written here, and read from here from then on.
std::string SettingsFileToWrite(std::string_view name);

// The copy of the program's own file `name` to show: the one in settingsFolder when it is
// there (a downloaded or a user's copy), else the installed one in dataFolder when there is
// one, else settingsFolder + name, where the program writes its built-in copy.
std::string OwnFileToShow(const std::string& settingsFolder, const std::string& dataFolder,
                          std::string_view name);

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

// Reads up to `length` bytes of `fd` at `offset`, as many as the file gives (fewer at its
// end), going on after a signal; -1 on a read error.
std::int64_t ReadAt(int fd, void* out, std::size_t length, std::int64_t offset);

// Writes all of `bytes` to fd, going on after a signal and a short write; false when the
// write fails or writes nothing.
bool WriteAll(int fd, std::string_view bytes);

// The calling thread yields the processors to the others of the program (Linux gives each
// thread a nice value of its own; 19 is the lowest priority): for passes nothing waits on.
void LowerThisThread(int nice = 19);

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
// The same for bytes that `fill` writes to the temporary file's descriptor, a step at a time,
// returning false when a write failed: a large file is written without being held whole. An
// exception thrown by fill leaves the old file as it was and goes on to the caller.
void WriteFileAtomically(const std::string& path, const std::function<bool(int fd)>& fill);

} // namespace tlg
