#include "source/filterstore.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <optional>
#include <sstream>

namespace tlg {

namespace {

struct KeptLog {
    std::string path;
    std::string rows; // as written: each row after a tab
};

std::vector<KeptLog> readKept()
{
    std::vector<KeptLog> kept;
    std::string text;
    try {
        text = ReadSettingsFile(SettingsFileToRead(kFilterStoreName));
    } catch (const Failure&) {
        return kept; // none kept yet, or not readable: no filters
    }
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos && tab > 0)
            kept.push_back({line.substr(0, tab), line.substr(tab)});
    }
    return kept;
}

std::string escaped(const std::string& pattern)
{
    std::string out;
    for (const char c : pattern) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    return out;
}

std::optional<std::string> unescaped(std::string_view text)
{
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\\') {
            out += text[at];
            continue;
        }
        if (++at == text.size())
            return std::nullopt;
        switch (text[at]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        default: return std::nullopt;
        }
    }
    return out;
}

std::string written(const FilterRow& row)
{
    std::string out = "\t";
    out += row.regex ? 'r' : 'p';
    out += row.matchCase ? 'c' : 'i';
    out += row.kind == FilterRow::ShowOnly ? 's' : 'h';
    out += row.on ? '1' : '0';
    return out + ':' + escaped(row.pattern);
}

std::optional<FilterRow> read(std::string_view text)
{
    if (text.size() < 5 || text[4] != ':')
        return std::nullopt;
    const std::string_view flags = text.substr(0, 4);
    if (std::string_view("rp").find(flags[0]) == std::string_view::npos ||
        std::string_view("ci").find(flags[1]) == std::string_view::npos ||
        std::string_view("sh").find(flags[2]) == std::string_view::npos ||
        std::string_view("10").find(flags[3]) == std::string_view::npos)
        return std::nullopt;
    std::optional<std::string> pattern = unescaped(text.substr(5));
    if (!pattern)
        return std::nullopt;
    return FilterRow{std::move(*pattern), flags[0] == 'r', flags[1] == 'c',
                     flags[2] == 's' ? FilterRow::ShowOnly : FilterRow::Hide, flags[3] == '1'};
}

} // namespace

std::vector<FilterRow> LoadFilterStack(const std::string& path)
{
    std::vector<FilterRow> rows;
    for (const KeptLog& log : readKept()) {
        if (log.path != path)
            continue;
        rows.clear(); // the last line of a log counts
        std::string_view text = log.rows;
        while (!text.empty()) {
            text.remove_prefix(1); // the tab
            const std::size_t tab = text.find('\t');
            if (std::optional<FilterRow> row = read(text.substr(0, tab)))
                rows.push_back(std::move(*row));
            text = tab == std::string_view::npos ? std::string_view() : text.substr(tab);
        }
    }
    return rows;
}

void SaveFilterStack(const std::string& path, const std::vector<FilterRow>& rows)
{
    if (path.empty() || path.find_first_of("\t\r\n") != std::string::npos)
        return;
    std::vector<KeptLog> kept = readKept();
    std::erase_if(kept, [&path](const KeptLog& log) { return log.path == path; });
    if (!rows.empty()) {
        std::string text;
        for (const FilterRow& row : rows)
            text += written(row);
        kept.push_back({path, text}); // changed last, so kept longest
    }
    const std::size_t drop = kept.size() > kFilteredLogs ? kept.size() - kFilteredLogs : 0;
    std::string text;
    for (std::size_t i = drop; i < kept.size(); ++i)
        text += kept[i].path + kept[i].rows + "\r\n";
    WriteFileAtomically(SettingsFileToWrite(kFilterStoreName), text);
}

} // namespace tlg
