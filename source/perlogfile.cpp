#include "source/perlogfile.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <sstream>
#include <vector>

namespace tlg {

namespace {

struct KeptLog {
    std::string path;
    std::string text;
};

std::vector<KeptLog> readKept(const char* fileName)
{
    std::vector<KeptLog> kept;
    std::string text;
    try {
        text = ReadSettingsFile(SettingsFileToRead(fileName));
    } catch (const Failure&) {
        return kept; // none kept yet, or not readable: nothing kept
    }
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos && tab > 0)
            kept.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return kept;
}

} // namespace

std::optional<std::string> ReadPerLogText(const char* fileName, const std::string& path)
{
    std::optional<std::string> found;
    for (KeptLog& log : readKept(fileName)) {
        if (log.path == path)
            found = std::move(log.text);
    }
    return found;
}

void WritePerLogText(const char* fileName, std::size_t limit, const std::string& path, const std::string& text)
{
    if (path.empty() || path.find_first_of("\t\r\n") != std::string::npos)
        return;
    std::vector<KeptLog> kept = readKept(fileName);
    std::erase_if(kept, [&path](const KeptLog& log) { return log.path == path; });
    if (!text.empty())
        kept.push_back({path, text}); // changed last, so kept longest
    const std::size_t drop = kept.size() > limit ? kept.size() - limit : 0;
    std::string written;
    for (std::size_t i = drop; i < kept.size(); ++i)
        written += kept[i].path + '\t' + kept[i].text + "\r\n";
    WriteFileAtomically(SettingsFileToWrite(fileName), written);
}

} // namespace tlg
