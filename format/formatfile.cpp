#include "format/formatfile.h"

#include "core/fields.h"

namespace tlg {

std::string DefaultFormatText()
{
    // "¤" is the byte 0xA4; every label row carries ten of them.
    static constexpr const char* kLines[] = {
        "[Standard]",
        "[[Default]]",
        "Fatal\xA4Internal\xA4" "error\xA4" "Failed\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "Found S\xA4Start\xA4***\xA4" "Found G\xA4txt\xA4\xA4\xA4\xA4\xA4\xA4",
        "Warning\xA4" "allready\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "==\xA4highlight\xA4LoadSuccess\xA4" "FOUND OU\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "[Windows]",
        "[[BootLog]]",
        "Fatal\xA4Internal\xA4" "error\xA4" "Failed\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "New\xA4Start\xA4info\xA4loading\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "Warning\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "==\xA4highlight\xA4LoadSuccess\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "[[DetLog]]",
        "Fatal\xA4Internal\xA4" "error\xA4" "Failed\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "New\xA4Start\xA4info\xA4loading\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "Warning\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "==\xA4highlight\xA4LoadSuccess\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "[Mcafee]",
        "[[Virusscan]]",
        "Fatal\xA4" "Error\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "Attempting\xA4Started\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "Warning\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "were updated\xA4successfully\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "[[Netshield]]",
        "Fatal\xA4Internal\xA4" "error\xA4" "Failed\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "New\xA4Start\xA4info\xA4loading\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "Warning\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "==\xA4highlight\xA4LoadSuccess\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "[MSI]",
        "[[InstallLog]]",
        "Fatal\xA4Internal\xA4" "error\xA4" "Failed\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "Command line\xA4started\xA4loading\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "Warning\xA4user_exit\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
        "==\xA4highlight\xA4LoadSuccess\xA4\xA4\xA4\xA4\xA4\xA4\xA4\xA4",
    };
    std::string text;
    for (const char* line : kLines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string JoinLinesCrLf(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

bool IsGroupHeader(std::string_view line)
{
    return line.find('[') != std::string_view::npos && line.find(']') != std::string_view::npos &&
           line.find("[[") == std::string_view::npos;
}

bool IsProfileHeader(std::string_view line)
{
    return line.find("[[") != std::string_view::npos && line.find("]]") != std::string_view::npos;
}

std::string GroupName(std::string_view line)
{
    return TextBetween(line, '[', ']');
}

std::string ProfileName(std::string_view line)
{
    return RemoveChar(RemoveChar(TextBetween(line, '[', ']'), '['), ']');
}

bool IsHeaderOfProfile(std::string_view line, std::string_view name)
{
    const std::string_view trimmed = trimBlanks(line);
    return trimmed.size() == name.size() + 4 && trimmed.substr(0, 2) == "[[" &&
           trimmed.substr(2, name.size()) == name && trimmed.substr(name.size() + 2) == "]]";
}

LabelRow LabelsOf(std::string_view row)
{
    LabelRow labels;
    for (std::size_t i = 0; i < labels.size(); ++i)
        labels[i] = ExtractField(row, static_cast<int>(i) + 1, kFormatSeparator);
    return labels;
}

std::string BuildLabelRow(const LabelRow& cells)
{
    std::string row;
    for (std::size_t i = 0; i < 10; ++i) {
        row += cells[i];
        row += kFormatSeparator;
    }
    return row;
}

FormatTree BuildFormatTree(const std::vector<std::string>& lines)
{
    FormatTree tree;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (IsGroupHeader(line))
            tree.groups.push_back({GroupName(line), true, {}});
        if (!IsProfileHeader(line))
            continue;
        if (tree.groups.empty())
            tree.groups.push_back({std::string(), false, {}});
        FormatGroup& group = tree.groups.back();
        group.profiles.push_back({ProfileName(line), static_cast<int>(i)});
        if (upperAscii(group.profiles.back().name) == "DEFAULT") {
            tree.selectedGroup = static_cast<int>(tree.groups.size()) - 1;
            tree.selectedProfile = static_cast<int>(group.profiles.size()) - 1;
        }
    }
    return tree;
}

int FindProfileHeader(const std::vector<std::string>& lines, std::string_view name)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsHeaderOfProfile(lines[i], name))
            return static_cast<int>(i);
    }
    return -1;
}

int LastDefaultHeader(const std::vector<std::string>& lines)
{
    int last = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsHeaderOfProfile(lines[i], "Default"))
            last = static_cast<int>(i);
    }
    return last;
}

int LabelRowCount(const std::vector<std::string>& lines, int headerLine)
{
    int rows = 0;
    for (long long i = headerLine + 1LL; rows < 2 && i >= 1 && i < static_cast<long long>(lines.size()); ++i) {
        const std::string& line = lines[static_cast<std::size_t>(i)];
        if (IsGroupHeader(line) || IsProfileHeader(line))
            break;
        ++rows;
    }
    return rows;
}

std::string_view LineAt(const std::vector<std::string>& lines, long long index)
{
    if (index < 0 || index >= static_cast<long long>(lines.size()))
        return {};
    return lines[static_cast<std::size_t>(index)];
}

} // namespace tlg
