#include "core/fileops.h"

#include "core/errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#endif
#include <vector>

namespace tlg {

namespace {


bool readLink(const std::string& path, std::string& out)
{
    std::vector<char> buf(256);
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0) {
            return false;
        }
        if (static_cast<std::size_t>(n) < buf.size()) {
            out.assign(buf.data(), static_cast<std::size_t>(n));
            return true;
        }
        if (buf.size() >= (1u << 20)) {
            return false;
        }
        buf.resize(buf.size() * 2);
    }
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x + 0x20);
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y + 0x20);
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

bool isExistingNonFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// umask() can only be read by setting it, which races with other threads creating files;
// the kernel also reports it in /proc/self/status, so that is tried first.
mode_t currentUmask()
{
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            unsigned int mask = 0;
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                std::fclose(f);
                return static_cast<mode_t>(mask & 0777);
            }
        }
        std::fclose(f);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}


// The file a write to path really replaces: path itself, or the end of its chain of
// symbolic links, which may not exist yet when the link dangles.
bool resolveWriteTarget(const std::string& path, std::string& target)
{
    target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return true;
    }
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
        return true;
    }
    // A dangling link: follow it by hand, each relative link read from its own folder.
    for (int depth = 0; depth < 40; ++depth) {
        std::string link;
        if (!readLink(target, link) || link.empty()) {
            return false;
        }
        target = link[0] == '/' ? link : FolderOf(target) + link;
        if (::lstat(target.c_str(), &st) != 0) {
            return errno == ENOENT;
        }
        if (!S_ISLNK(st.st_mode)) {
            return true;
        }
    }
    return false;
}

// One parsed line of /proc/locks, e.g. "3: FLOCK  ADVISORY  WRITE 1234 08:01:123456 0 EOF".
struct FlockEntry {
    bool write = false;
    unsigned long major = 0;
    unsigned long minor = 0;
    unsigned long long inode = 0;
};

bool parseHex(std::string_view s, unsigned long& out)
{
    if (s.empty() || s.size() > 16) {
        return false;
    }
    unsigned long v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return false;
        }
        v = v * 16 + static_cast<unsigned long>(d);
    }
    out = v;
    return true;
}

bool parseDecimal(std::string_view s, unsigned long long& out)
{
    if (s.empty() || s.size() > 19) {
        return false;
    }
    unsigned long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + static_cast<unsigned long long>(c - '0');
    }
    out = v;
    return true;
}

bool parseFlockLine(std::string_view line, FlockEntry& entry)
{
    std::string_view tokens[6];
    std::size_t count = 0;
    std::size_t i = 0;
    while (count < 6) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n')) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        const std::size_t begin = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\n') {
            ++i;
        }
        tokens[count++] = line.substr(begin, i - begin);
    }
    // A waiter shows "->" in the second column; it holds nothing yet.
    if (count < 6 || tokens[1] != "FLOCK") {
        return false;
    }
    if (tokens[3] == "WRITE") {
        entry.write = true;
    } else if (tokens[3] == "READ") {
        entry.write = false;
    } else {
        return false;
    }
    const std::string_view id = tokens[5];
    const std::size_t c1 = id.find(':');
    const std::size_t c2 = c1 == std::string_view::npos ? c1 : id.find(':', c1 + 1);
    if (c2 == std::string_view::npos) {
        return false;
    }
    return parseHex(id.substr(0, c1), entry.major) &&
           parseHex(id.substr(c1 + 1, c2 - c1 - 1), entry.minor) &&
           parseDecimal(id.substr(c2 + 1), entry.inode);
}

// flock() locks are invisible to fcntl(F_GETLK) on Linux; the kernel lists them in
// /proc/locks only.
bool flockHeld(const struct stat& st, bool writeOnly)
{
    FILE* f = std::fopen("/proc/locks", "re");
    if (f == nullptr) {
        return false;
    }
    const unsigned long major = ::major(st.st_dev);
    const unsigned long minor = ::minor(st.st_dev);
    const auto inode = static_cast<unsigned long long>(st.st_ino);
    bool held = false;
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t len;
    while (!held && (len = ::getline(&line, &capacity, f)) >= 0) {
        FlockEntry e;
        if (parseFlockLine(std::string_view(line, static_cast<std::size_t>(len)), e) &&
            e.major == major && e.minor == minor && e.inode == inode &&
            (e.write || !writeOnly)) {
            held = true;
        }
    }
    std::free(line);
    std::fclose(f);
    return held;
}

bool recordLockHeld(int fd, bool writeOnly)
{
    // Asking whether a read lock could be had finds only write locks; asking for a write
    // lock finds any lock. F_OFD_GETLK also sees the locks of this very process, which the
    // classic F_GETLK would not report.
    struct flock fl {};
    fl.l_type = writeOnly ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    fl.l_pid = 0;
    if (::fcntl(fd, F_OFD_GETLK, &fl) == 0) {
        return fl.l_type != F_UNLCK;
    }
    if (errno != EINVAL) {
        return false;
    }
    // Kernels before 3.15 know only the per-process locks.
    struct flock old {};
    old.l_type = writeOnly ? F_RDLCK : F_WRLCK;
    old.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &old) == 0) {
        return old.l_type != F_UNLCK;
    }
    return false;
}

// Creates the folder and its missing parents, mode 0700 as the base directory rules ask for
// a user's folders. False when it is no folder afterwards.
bool makeFolders(const std::string& folder)
{
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
    }
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string ExeFolder()
{
    if (const char* home = std::getenv("TLGVIEW_HOME"); home != nullptr && *home != '\0') {
        std::string folder(home);
        if (folder.back() != '/') {
            folder.push_back('/');
        }
        return folder;
    }
    return ExecutableFolder();
}

std::string ExecutableFolder()
{
    std::string exe;
    if (!readLink("/proc/self/exe", exe) || FolderOf(exe).empty()) {
        return "./";
    }
    return FolderOf(exe);
}

std::string DataFolderBeside(const std::string& exeFolder)
{
    // "/usr/bin/" gives "/usr/"; a relative or root folder has no prefix to look in.
    if (exeFolder.size() < 2 || exeFolder.front() != '/') {
        return {};
    }
    const std::string prefix = FolderOf(exeFolder.substr(0, exeFolder.size() - 1));
    const std::string data = prefix + "share/tlgview/";
    struct stat st {};
    return ::stat(data.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? data : std::string();
}

std::string InstalledDataFolder()
{
    return DataFolderBeside(ExecutableFolder());
}

std::string ChooseSettingsFolder(const SettingsFolderPlaces& places,
                                 const std::function<bool(const std::string&)>& canWrite)
{
    if (!places.home.empty()) {
        return places.home.back() == '/' ? places.home : places.home + '/';
    }
    // Root can write /usr/bin too; an installed program's folder is never a settings
    // folder, or its files would outlive the package there.
    if (!places.installed && canWrite(places.exeFolder)) {
        return places.exeFolder;
    }
    return places.configFolder;
}

bool CanWriteFolder(const std::string& folder)
{
    struct stat st {};
    // With the effective ids, as creating a file checks them; a read-only mount fails too.
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

namespace {

// $<variable> when it is an absolute path, else the account's home folder + `fallback`; ends
// in '/'.
std::string XdgFolder(const char* variable, const char* fallback)
{
    std::string folder;
    if (const char* xdg = std::getenv(variable); xdg != nullptr && xdg[0] == '/') {
        folder = xdg;
    } else {
        std::string home;
        if (const char* homeVariable = std::getenv("HOME"); homeVariable != nullptr && homeVariable[0] == '/') {
            home = homeVariable;
        } else {
            struct passwd entry {};
            struct passwd* found = nullptr;
            char buffer[4096];
            if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 &&
                found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
                home = found->pw_dir;
            }
        }
        if (home.empty() || home.back() != '/') {
            home.push_back('/');
        }
        folder = home + fallback;
    }
    if (folder.back() != '/') {
        folder.push_back('/');
    }
    return folder;
}

} // namespace

std::string UserConfigSettingsFolder()
{
    return XdgFolder("XDG_CONFIG_HOME", ".config") + "tlgview/";
}

std::string CacheFolder()
{
    const std::string folder = XdgFolder("XDG_CACHE_HOME", ".cache") + "tlgview/";
    makeFolders(folder);
    return folder;
}

std::string SettingsFolder()
{
    SettingsFolderPlaces places;
    if (const char* home = std::getenv("TLGVIEW_HOME"); home != nullptr) {
        places.home = home;
    }
    places.exeFolder = ExecutableFolder();
    places.installed = !DataFolderBeside(places.exeFolder).empty();
    places.configFolder = UserConfigSettingsFolder();
    const std::string folder = ChooseSettingsFolder(places, CanWriteFolder);
    if (folder == places.configFolder) {
        makeFolders(folder);
    }
    return folder;
}

std::string SettingsFileToRead(const std::string& settingsFolder,
                               const std::string& programFolder, std::string_view name)
{
    const std::string own = FindSettingsFile(settingsFolder, name);
    if (isExistingNonFolder(own) || programFolder == settingsFolder) {
        return own;
    }
    const std::string beside = FindSettingsFile(programFolder, name);
    return isExistingNonFolder(beside) ? beside : own;
}

std::string SettingsFileToRead(std::string_view name)
{
    return SettingsFileToRead(SettingsFolder(), ExeFolder(), name);
}

std::string SettingsFileToWrite(std::string_view name)
{
    return FindSettingsFile(SettingsFolder(), name);
}

std::string OwnFileToShow(const std::string& settingsFolder, const std::string& dataFolder,
                          std::string_view name)
{
    const std::string own = settingsFolder + std::string(name);
    if (isExistingNonFolder(own) || dataFolder.empty()) {
        return own;
    }
    const std::string installed = dataFolder + std::string(name);
    return isExistingNonFolder(installed) ? installed : own;
}

std::string LocalComputerName()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf) != 0) {
        return {};
    }
    return std::string(buf, ::strnlen(buf, sizeof buf));
}

std::int64_t FileSizeOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return -1;
    }
    if (S_ISDIR(st.st_mode)) {
        return 0;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::int32_t AgeStamp(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return -1;
    }
    std::tm local{};
    const std::time_t mtime = st.st_mtime;
    if (::localtime_r(&mtime, &local) == nullptr) {
        return -1;
    }
    return PackDosDateTime(local);
}

std::int32_t PackDosDateTime(const std::tm& local)
{
    const long year = static_cast<long>(local.tm_year) + 1900;
    std::uint32_t date;
    std::uint32_t time;
    if (year < 1980) {
        date = (0u << 9) | (1u << 5) | 1u;
        time = 0;
    } else if (year > 2107) {
        date = (127u << 9) | (12u << 5) | 31u;
        time = (23u << 11) | (59u << 5) | 29u;
    } else {
        // Masks keep an out-of-range field of a hand-made tm from spilling into its
        // neighbours.
        const auto field = [](int v, std::uint32_t mask) {
            return static_cast<std::uint32_t>(v) & mask;
        };
        date = (static_cast<std::uint32_t>(year - 1980) << 9) |
               (field(local.tm_mon + 1, 0x0F) << 5) | field(local.tm_mday, 0x1F);
        time = (field(local.tm_hour, 0x1F) << 11) | (field(local.tm_min, 0x3F) << 5) |
               field(local.tm_sec / 2, 0x1F);
    }
    // Years from 2044 on set the top bit; the conversion wraps to a negative number.
    return static_cast<std::int32_t>((date << 16) | time);
}

bool IsFileLocked(const std::string& path)
{
    // Non-blocking so that a FIFO without a writer cannot hang the probe.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return true;
    }
    struct stat st {};
    bool locked = ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode);
    if (!locked) {
        locked = LockHeldOnFile(fd, true);
    }
    ::close(fd);
    return locked;
}

bool LockHeldOnFile(int fd, bool writeOnly)
{
    if (recordLockHeld(fd, writeOnly)) {
        return true;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    return flockHeld(st, writeOnly);
}

std::string FindSettingsFile(const std::string& folder, std::string_view name)
{
    const std::string exact = folder + std::string(name);
    if (isExistingNonFolder(exact)) {
        return exact;
    }
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return exact;
    }
    // readdir's order is arbitrary; taking the smallest match keeps the choice stable.
    std::string best;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName(entry->d_name);
        if (!equalsIgnoringAsciiCase(entryName, name) || (found && entryName >= best)) {
            continue;
        }
        if (isExistingNonFolder(folder + std::string(entryName))) {
            best.assign(entryName);
            found = true;
        }
    }
    ::closedir(dir);
    return found ? folder + best : exact;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string BaseNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileHandle::~FileHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileHandle OpenForReading(const std::string& path)
{
    return FileHandle(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
}

bool ReadToEnd(int fd, std::size_t sizeHint, std::string& out)
{
    out.resize(sizeHint);
    std::size_t used = 0;
    for (;;) {
        if (used == out.size())
            out.resize(out.size() + std::max<std::size_t>(out.size() / 2, 65536));
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    out.resize(used);
    if (out.capacity() - used > used / 8)
        out.shrink_to_fit();
    return true;
}

std::string ReadWholeFile(const std::string& path)
{
    const FileHandle file = OpenForReading(path);
    struct stat st {};
    std::string content;
    if (!file.valid() || ::fstat(file.fd(), &st) != 0 ||
        !ReadToEnd(file.fd(), S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0, content))
        throw Failure("Cannot open file " + path);
    return content;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    WriteFileAtomically(path, [bytes](int fd) { return WriteAll(fd, bytes); });
}

void WriteFileAtomically(const std::string& path, const std::function<bool(int fd)>& fill)
{
    const auto fail = [&path]() { return Failure("Cannot create file " + path); };

    std::string target;
    if (!resolveWriteTarget(path, target)) {
        throw fail();
    }
    std::string base = BaseNameOf(target);
    if (base.empty() || base == "." || base == "..") {
        throw fail();
    }

    // A folder at the target is left to rename(), which refuses to replace it.
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~currentUmask());

    // Keep the temporary name within NAME_MAX even for the longest target names.
    if (base.size() > 200) {
        base.resize(200);
    }
    std::string temp = FolderOf(target) + "." + base + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        throw fail();
    }

    bool ok = false;
    try {
        ok = fill(fd);
    } catch (...) {
        // Stopped, or the bytes could not be had: the old file stays as it was.
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    if (ok && exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Only root or the owner can do this; when it fails the file simply gets our owner.
        (void)::fchown(fd, old.st_uid, old.st_gid);
    }
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        throw fail();
    }

    // The rename itself is durable only once the folder is flushed. The file is already
    // replaced whole by now, so a folder that cannot be flushed is no failure to report.
    const std::string folder = FolderOf(target).empty() ? "." : FolderOf(target);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
}

std::string ReadSettingsFile(const std::string& path)
{
    const std::string refused = "Settings file " + path + " is not read: ";
    const FileHandle file = OpenForReading(path);
    struct stat st {};
    if (!file.valid() || ::fstat(file.fd(), &st) != 0)
        throw Failure("Cannot open file " + path);
    if (!S_ISREG(st.st_mode))
        throw SettingsFileRefused(refused + "it is not a regular file");
    const std::string tooLarge = refused + "it is larger than " +
                                 std::to_string(kSettingsFileLimit / (1024 * 1024)) +
                                 " MiB, far more than any settings file holds";
    if (st.st_size > static_cast<off_t>(kSettingsFileLimit))
        throw SettingsFileRefused(tooLarge);
    // One byte past the limit tells a file that grew meanwhile from one that fits.
    std::string content(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == content.size()) {
            if (content.size() > kSettingsFileLimit)
                throw SettingsFileRefused(tooLarge);
            content.resize(std::min(content.size() * 2 + 4096, kSettingsFileLimit + 1));
        }
        const ssize_t n = ::read(file.fd(), content.data() + used, content.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Failure("Cannot open file " + path);
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    content.resize(used);
    return content;
}

std::int64_t ReadAt(int fd, void* out, std::size_t length, std::int64_t offset)
{
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, static_cast<char*>(out) + got, length - got,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(got)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(got);
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

void LowerThisThread(int nice)
{
#if defined(__linux__)
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), nice);
#else
    (void)nice;
#endif
}

} // namespace tlg
