#include "source/recentlogs.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tlg {

RecentLogs::RecentLogs(std::string filePath) : m_filePath(std::move(filePath)) {}

std::string RecentLogs::defaultFilePath()
{
    return UserConfigSettingsFolder() + "recent";
}

void RecentLogs::load()
{
    m_paths.clear();
    std::string text;
    try {
        text = ReadSettingsFile(m_filePath);
    } catch (const Failure&) {
        return; // no list yet, or one that cannot be read: start afresh
    }
    std::size_t start = 0;
    while (start < text.size() && m_paths.size() < kLimit) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string path = text.substr(start, end - start);
        if (!path.empty() && path.back() == '\r')
            path.pop_back();
        if (!path.empty() && std::find(m_paths.begin(), m_paths.end(), path) == m_paths.end())
            m_paths.push_back(std::move(path));
        start = end + 1;
    }
}

void RecentLogs::add(const std::string& path)
{
    if (path.find_first_not_of(" \t") == std::string::npos || path.find_first_of("\r\n") != std::string::npos)
        return;
    std::erase(m_paths, path);
    m_paths.insert(m_paths.begin(), path);
    if (m_paths.size() > kLimit)
        m_paths.resize(kLimit);
    save();
}

void RecentLogs::remove(const std::string& path)
{
    if (std::erase(m_paths, path) == 0)
        return;
    save();
}

bool RecentLogs::present(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

void RecentLogs::save() const
{
    std::string text;
    for (const std::string& path : m_paths)
        text += path + "\r\n";
    // The config folder may not exist yet on a first run; a failure to make it shows as the
    // write's own failure.
    std::error_code ignored;
    std::filesystem::create_directories(FolderOf(m_filePath), ignored);
    WriteFileAtomically(m_filePath, text);
}

} // namespace tlg
