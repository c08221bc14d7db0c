// The format file: its lines, the tree of groups and profiles, and the label rows.

#include "format/formatfile.h"
#include "fuzzinput.h"

#include <string>
#include <vector>

using namespace tlg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = SplitLines(text);
    for (const std::string& line : lines)
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    // Written back as the program writes it, the file reads as the same lines.
    FUZZ_CHECK(SplitLines(JoinLinesCrLf(lines)) == lines);

    const FormatTree tree = BuildFormatTree(lines);
    int last = -1;
    for (const FormatGroup& group : tree.groups) {
        for (const FormatProfile& profile : group.profiles) {
            FUZZ_CHECK(profile.headerLine > last && profile.headerLine < static_cast<int>(lines.size()));
            last = profile.headerLine;
            const std::string& header = lines[static_cast<std::size_t>(profile.headerLine)];
            FUZZ_CHECK(IsProfileHeader(header));
            const int rows = LabelRowCount(lines, profile.headerLine);
            FUZZ_CHECK(rows >= 0 && rows <= 2);
            for (int row = 1; row <= rows; ++row) {
                const std::string_view labels = LineAt(lines, profile.headerLine + row);
                FUZZ_CHECK(!IsProfileHeader(labels) && !IsGroupHeader(labels));
                const LabelRow cells = LabelsOf(labels);
                const std::string built = BuildLabelRow(cells);
                FUZZ_CHECK(built.size() >= 10);
            }
            // Finding the profile by its name gives a header of that name.
            const int found = FindProfileHeader(lines, profile.name);
            if (found >= 0)
                FUZZ_CHECK(IsHeaderOfProfile(lines[static_cast<std::size_t>(found)], profile.name));
        }
    }
    if (tree.selectedGroup >= 0) {
        const FormatGroup& group = tree.groups.at(static_cast<std::size_t>(tree.selectedGroup));
        FUZZ_CHECK(tree.selectedProfile >= 0 &&
                   tree.selectedProfile < static_cast<int>(group.profiles.size()));
    }
    const int defaultHeader = LastDefaultHeader(lines);
    if (defaultHeader >= 0)
        FUZZ_CHECK(IsHeaderOfProfile(lines[static_cast<std::size_t>(defaultHeader)], "Default"));
    FUZZ_CHECK(LineAt(lines, -1).empty() && LineAt(lines, static_cast<long long>(lines.size())).empty());
    return 0;
}
