#include "source/linemarks.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace tlg {

namespace {

struct KeptLog {
    std::string path;
    std::string lines; // as written: numbers from 1 apart by spaces
};

std::vector<KeptLog> readKept()
{
    std::vector<KeptLog> kept;
    std::string text;
    try {
        text = ReadSettingsFile(SettingsFileToRead(kLineMarksName));
    } catch (const Failure&) {
        return kept; // none kept yet, or not readable: no marks
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

std::set<std::int64_t> LoadLineMarks(const std::string& path)
{
    std::set<std::int64_t> lines;
    for (const KeptLog& log : readKept()) {
        if (log.path != path)
            continue;
        const char* at = log.lines.data();
        const char* end = at + log.lines.size();
        while (at < end) {
            std::int64_t number = 0;
            const auto [next, error] = std::from_chars(at, end, number);
            if (error == std::errc() && number >= 1)
                lines.insert(number - 1);
            at = next == at ? at + 1 : next;
        }
    }
    return lines;
}

void SaveLineMarks(const std::string& path, const std::set<std::int64_t>& lines)
{
    if (path.empty() || path.find_first_of("\t\r\n") != std::string::npos)
        return;
    std::vector<KeptLog> kept = readKept();
    std::erase_if(kept, [&path](const KeptLog& log) { return log.path == path; });
    if (!lines.empty()) {
        std::string numbers;
        for (const std::int64_t line : lines)
            numbers += (numbers.empty() ? "" : " ") + std::to_string(line + 1);
        kept.push_back({path, numbers}); // changed last, so kept longest
    }
    const std::size_t drop = kept.size() > kMarkedLogs ? kept.size() - kMarkedLogs : 0;
    std::string text;
    for (std::size_t i = drop; i < kept.size(); ++i)
        text += kept[i].path + '\t' + kept[i].lines + "\r\n";
    WriteFileAtomically(SettingsFileToWrite(kLineMarksName), text);
}

} // namespace tlg
