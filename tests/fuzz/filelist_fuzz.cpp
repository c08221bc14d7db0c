// The file list: its lines, the placeholders, the checks before adding, and adding and removing
// a line, which keep every other byte.

#include "core/fields.h"
#include "filelist/filelist.h"
#include "fuzzinput.h"

#include <string>
#include <vector>

using namespace tlg;

namespace {

std::string naiveReplace(std::string_view text, std::string_view upperWord, std::string_view value)
{
    const std::string upper = upperAscii(text);
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (upper.compare(i, upperWord.size(), upperWord) == 0) {
            out.append(value);
            i += upperWord.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::string_view computer = input.piece();
    const std::string_view folder = input.piece();
    const std::string_view description = input.piece();
    const std::string_view path = input.piece();
    const std::string_view text = input.rest();

    const std::vector<FileListLine> lines = SplitFileList(text);
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const FileListLine& line = lines[i];
        FUZZ_CHECK(line.start == at && line.end > line.start && line.end <= text.size());
        FUZZ_CHECK(text.substr(line.start, line.text.size()) == line.text);
        FUZZ_CHECK(line.text.find_first_of("\r\n") == std::string::npos);
        at = line.end;

        const std::string replaced = ReplacePlaceholders(line.text, computer, folder);
        FUZZ_CHECK(replaced == naiveReplace(naiveReplace(line.text, "%COMPUTERNAME%", computer), "%PATH%", folder));
        const FileListEntry entry = EntryOf(line, i, computer, folder);
        FUZZ_CHECK(entry.line == i && entry.description == upperAscii(ExtractField(replaced, 1, ';')));

        const std::string without = RemoveLine(text, line);
        FUZZ_CHECK(without.size() == text.size() - (line.end - line.start));
        FUZZ_CHECK(std::string_view(without).substr(0, line.start) == text.substr(0, line.start));
    }
    FUZZ_CHECK(at == text.size());

    const Refusal refusal = CheckNewEntry(text, description, path);
    FUZZ_CHECK((refusal.kind == Refusal::None) == refusal.message.empty());
    // An entry the list can hold comes back as its last line, after the lines as they were.
    if (IsStorablePath(path) && description.find_first_of(";\r\n") == std::string_view::npos) {
        const std::vector<FileListLine> added = SplitFileList(AppendEntry(text, description, path));
        FUZZ_CHECK(added.size() == lines.size() + 1);
        for (std::size_t i = 0; i < lines.size(); ++i)
            FUZZ_CHECK(added[i].text == lines[i].text);
        FUZZ_CHECK(ExtractField(added.back().text, 2, ';') == trimBlanks(path) ||
                   path.find_first_not_of(' ') == std::string_view::npos || description.find_first_not_of(' ') == std::string_view::npos);
    }
    return 0;
}
