#include "source/linemarks.h"

#include "source/perlogfile.h"

#include <charconv>

namespace tlg {

std::set<std::int64_t> LoadLineMarks(const std::string& path)
{
    std::set<std::int64_t> lines;
    const std::string kept = ReadPerLogText(kLineMarksName, path).value_or(std::string());
    const char* at = kept.data();
    const char* end = at + kept.size();
    while (at < end) {
        std::int64_t number = 0;
        const auto [next, error] = std::from_chars(at, end, number);
        if (error == std::errc() && number >= 1)
            lines.insert(number - 1);
        at = next == at ? at + 1 : next;
    }
    return lines;
}

void SaveLineMarks(const std::string& path, const std::set<std::int64_t>& lines)
{
    std::string numbers;
    for (const std::int64_t line : lines)
        numbers += (numbers.empty() ? "" : " ") + std::to_string(line + 1);
    WritePerLogText(kLineMarksName, kMarkedLogs, path, numbers);
}

} // namespace tlg
