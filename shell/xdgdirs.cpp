#include "shell/xdgdirs.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {

namespace {

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The variable's value when it is an absolute path, else empty.
std::string absoluteVariable(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || value[0] != '/')
        return std::string();
    return value;
}

// The absolute paths of a colon-separated list; the fallback when none is given.
std::vector<std::string> folderList(const char* name, std::vector<std::string> fallback)
{
    const char* value = std::getenv(name);
    std::vector<std::string> folders;
    std::string text = value ? value : "";
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(':', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        if (!item.empty() && item[0] == '/')
            folders.push_back(withSlash(item));
        start = end + 1;
    }
    return folders.empty() ? fallback : folders;
}

} // namespace

std::string HomeFolder()
{
    std::string home = absoluteVariable("HOME");
    if (home.empty()) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
            found->pw_dir && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    return withSlash(home.empty() ? "/" : home);
}

std::string UserDataFolder()
{
    const std::string folder = absoluteVariable("XDG_DATA_HOME");
    return folder.empty() ? HomeFolder() + ".local/share/" : withSlash(folder);
}

std::string UserConfigFolder()
{
    const std::string folder = absoluteVariable("XDG_CONFIG_HOME");
    return folder.empty() ? HomeFolder() + ".config/" : withSlash(folder);
}

std::vector<std::string> SystemDataFolders()
{
    return folderList("XDG_DATA_DIRS", {"/usr/local/share/", "/usr/share/"});
}

std::vector<std::string> SystemConfigFolders()
{
    return folderList("XDG_CONFIG_DIRS", {"/etc/xdg/"});
}

std::vector<std::string> CurrentDesktops()
{
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    std::vector<std::string> names;
    std::string name;
    for (const char* c = value ? value : "";; ++c) {
        if (*c == ':' || *c == '\0') {
            if (!name.empty())
                names.push_back(name);
            name.clear();
            if (*c == '\0')
                break;
        } else {
            name += (*c >= 'A' && *c <= 'Z') ? static_cast<char>(*c - 'A' + 'a') : *c;
        }
    }
    return names;
}

bool MakeFolders(const std::string& folder)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash)))
        return false;
    // Another process may have made it meanwhile; that is as good.
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace tlg
