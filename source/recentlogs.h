#pragma once

// The logs opened last, most recent first, for the File menu. They are kept in a small file
// of their own (one path a line, as the path's bytes, which are UTF-8 on a usual system),
// written beside and renamed over, so that a crash never leaves half a list.

#include <cstddef>
#include <string>
#include <vector>

namespace tlg {

class RecentLogs {
public:
    // How many logs the list keeps.
    static constexpr std::size_t kLimit = 10;

    // The list kept in the file at `filePath`; nothing is read until load().
    explicit RecentLogs(std::string filePath);
    // $XDG_CONFIG_HOME/tlgview/recent.
    static std::string defaultFilePath();

    // Reads the file: a missing or unreadable file gives an empty list; blank lines and
    // repeated paths are dropped, and only the first kLimit paths are kept. Never throws.
    void load();
    const std::vector<std::string>& paths() const { return m_paths; }

    // A log was opened: its path goes to the top (leaving its older place), the oldest falls
    // off past kLimit, and the file is written. A blank path, or one holding a line break,
    // is not kept. Throws Failure when the file cannot be written; the list in memory holds
    // the change all the same.
    void add(const std::string& path);
    // Takes a path out (a missing file that was picked) and writes the file; nothing happens
    // for a path not in the list. Throws as add does.
    void remove(const std::string& path);

    // Whether the file a path names is there now.
    static bool present(const std::string& path);

private:
    void save() const;

    std::string m_filePath;
    std::vector<std::string> m_paths;
};

} // namespace tlg
