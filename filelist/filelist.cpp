#include "filelist/filelist.h"

#include "core/fields.h"

namespace tlg {

namespace {

// Replaces every occurrence of `placeholder` (an upper-case ASCII word) found in any letter
// case.
std::string replaceAnyCase(std::string_view text, std::string_view placeholder,
                           std::string_view value)
{
    const std::string upper = upperAscii(text);
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = upper.find(placeholder, from)) != std::string::npos;) {
        out.append(text.substr(from, at - from));
        out.append(value);
        from = at + placeholder.size();
    }
    out.append(text.substr(from));
    return out;
}

} // namespace

std::vector<FileListLine> SplitFileList(std::string_view text)
{
    std::vector<FileListLine> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        std::size_t end = i + 1;
        if (text[i] == '\r' && end < text.size() && text[end] == '\n')
            ++end;
        lines.push_back({std::string(text.substr(start, i - start)), start, end});
        start = end;
        i = end - 1;
    }
    if (start < text.size())
        lines.push_back({std::string(text.substr(start)), start, text.size()});
    return lines;
}

std::string ReplacePlaceholders(std::string_view line, std::string_view computerName,
                                std::string_view exeFolder)
{
    return replaceAnyCase(replaceAnyCase(line, "%COMPUTERNAME%", computerName), "%PATH%",
                          exeFolder);
}

FileListEntry EntryOf(const FileListLine& line, std::size_t index, std::string_view computerName,
                      std::string_view exeFolder)
{
    const std::string replaced = ReplacePlaceholders(line.text, computerName, exeFolder);
    return {upperAscii(ExtractField(replaced, 1, ';')), ExtractField(replaced, 2, ';'), index};
}

std::string RemoveLine(std::string_view text, const FileListLine& line)
{
    std::string out(text.substr(0, line.start));
    out.append(text.substr(line.end));
    return out;
}

Refusal CheckNewEntry(std::string_view text, std::string_view description, std::string_view path)
{
    Refusal refusal;
    const std::string wantedPath = upperAscii(path);
    const std::string wantedDescription = upperAscii(description);
    for (const FileListLine& line : SplitFileList(text)) {
        const std::string f1 = ExtractField(line.text, 1, ';');
        const std::string f2 = ExtractField(line.text, 2, ';');
        const std::string named = "\r\n(" + f1 + ", " + f2 + ")";
        if (upperAscii(f2) == wantedPath)
            return {Refusal::SamePath, "File alerady in File List" + named};
        if (upperAscii(f1) == wantedDescription)
            refusal = {Refusal::SameDescription, "File Description alerady in File List" + named};
    }
    return refusal;
}

bool IsStorablePath(std::string_view path)
{
    return path.find_first_of(";\r\n") == std::string_view::npos;
}

std::string AppendEntry(std::string_view text, std::string_view description, std::string_view path)
{
    std::string out;
    const std::vector<FileListLine> lines = SplitFileList(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += lines[i].text;
        if (i + 1 < lines.size())
            out += "\r\n";
    }
    const bool endedWithBreak = !text.empty() && (text.back() == '\n' || text.back() == '\r');
    if (!lines.empty())
        out += "\r\n"; // ends the last line, whether it had a break or not
    out.append(description);
    out += ';';
    out.append(path);
    if (endedWithBreak || lines.empty())
        out += "\r\n";
    return out;
}

} // namespace tlg
