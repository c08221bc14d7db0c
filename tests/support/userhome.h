#pragma once

// A home of its own for a test: HOME and every XDG_* variable point into a fresh temporary
// folder (XDG_CURRENT_DESKTOP and the desktop session variables are cleared), so that nothing
// reads or writes the real user's files. Everything is restored when it goes.

#include "support/tempdir.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h> // environ
#include <utility>
#include <vector>

namespace tlg::testing {

class UserHome
{
public:
    UserHome()
    {
        // Every XDG_* variable, whatever its name, and those by which tools guess the desktop.
        std::vector<std::string> names = {"HOME",
                                          "DESKTOP_SESSION",
                                          "KDE_FULL_SESSION",
                                          "KDE_SESSION_VERSION",
                                          "GNOME_DESKTOP_SESSION_ID",
                                          "MATE_DESKTOP_SESSION_ID",
                                          "XDG_CURRENT_DESKTOP"};
        for (char** entry = environ; *entry; ++entry) {
            if (std::strncmp(*entry, "XDG_", 4) == 0)
                names.emplace_back(*entry, std::strcspn(*entry, "="));
        }
        for (const std::string& name : names) {
            const char* value = std::getenv(name.c_str());
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name.c_str());
        }
        set("HOME", "home");
        set("XDG_DATA_HOME", "home/.local/share");
        set("XDG_CONFIG_HOME", "home/.config");
        set("XDG_CACHE_HOME", "home/.cache");
        set("XDG_STATE_HOME", "home/.local/state");
        set("XDG_RUNTIME_DIR", "runtime");
        set("XDG_DATA_DIRS", "system/share");
        set("XDG_CONFIG_DIRS", "system/xdg");
    }
    ~UserHome()
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    UserHome(const UserHome&) = delete;
    UserHome& operator=(const UserHome&) = delete;

    // The temporary folder that holds everything, ending in '/'.
    std::string root() const { return m_dir.folder(); }
    // $XDG_DATA_HOME/ and $XDG_CONFIG_HOME/.
    std::string data() const { return root() + "home/.local/share/"; }
    std::string config() const { return root() + "home/.config/"; }
    // The system data folder ($XDG_DATA_DIRS) and config folder ($XDG_CONFIG_DIRS).
    std::string systemData() const { return root() + "system/share/"; }
    std::string systemConfig() const { return root() + "system/xdg/"; }

    // Writes a file under root(), making its folders.
    std::string write(const std::string& relative, const std::string& bytes,
                      mode_t mode = 0644) const
    {
        makeFolders(relative.substr(0, relative.rfind('/') + 1));
        const std::string path = m_dir.write(relative, bytes);
        ::chmod(path.c_str(), mode);
        return path;
    }

    // An installed desktop entry `id` in the system data folder that runs `exec`.
    void installEntry(const std::string& id, const std::string& exec) const
    {
        write("system/share/applications/" + id, "[Desktop Entry]\nType=Application\nName=" + id +
                                                     "\nExec=" + exec +
                                                     "\nMimeType=text/x-log;text/plain;\n");
    }

private:
    void set(const char* name, const std::string& relative)
    {
        makeFolders(relative);
        ::setenv(name, (root() + relative).c_str(), 1);
    }

    void makeFolders(const std::string& relative) const
    {
        std::string path = root();
        for (std::size_t at = 0; at < relative.size();) {
            const std::size_t slash = std::min(relative.find('/', at), relative.size());
            path += relative.substr(at, slash - at) + "/";
            ::mkdir(path.c_str(), 0700);
            at = slash + 1;
        }
    }

    TempDir m_dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace tlg::testing
