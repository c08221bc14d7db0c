#include "source/filterstore.h"

#include "source/perlogfile.h"

#include <optional>

namespace tlg {

namespace {

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
    std::string out;
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
    const std::string kept = ReadPerLogText(kFilterStoreName, path).value_or(std::string());
    std::string_view text = kept;
    while (!text.empty()) {
        const std::size_t tab = text.find('\t');
        if (std::optional<FilterRow> row = read(text.substr(0, tab)))
            rows.push_back(std::move(*row));
        text = tab == std::string_view::npos ? std::string_view() : text.substr(tab + 1);
    }
    return rows;
}

void SaveFilterStack(const std::string& path, const std::vector<FilterRow>& rows)
{
    std::string text;
    for (const FilterRow& row : rows)
        text += (text.empty() ? "" : "\t") + written(row);
    WritePerLogText(kFilterStoreName, kFilteredLogs, path, text);
}

} // namespace tlg
