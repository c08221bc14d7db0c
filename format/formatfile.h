#pragma once

// The format file: named groups, and under each group named profiles whose first two rows hold
// the error labels and the info labels that colour a log. Lines are Windows-1252 bytes.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tlg {

// The file name the program writes; an existing file of that name in any letter case is read.
inline constexpr const char* kFormatFileName = "TlgFormat.ini";

// The 34 built-in default lines, each followed by CR LF, as written at the first start.
std::string DefaultFormatText();

// The lines of a text: CR LF, a lone LF and a lone CR each end a line; a final line break does
// not start another line.
std::vector<std::string> SplitLines(std::string_view text);

// The lines each followed by CR LF, as the program writes them.
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

// A group header contains "[" and "]" but not "[["; a profile header contains "[[" and "]]".
// Both are tested anywhere in the line, case-sensitively.
bool IsGroupHeader(std::string_view line);
bool IsProfileHeader(std::string_view line);
// The text between the first "[" and the first "]", untrimmed; empty when the "]" comes first.
std::string GroupName(std::string_view line);
// The text between the first "[" and the first "]", with every "[" and "]" removed.
std::string ProfileName(std::string_view line);
// The line, trimmed of blanks and control characters, is "[[" + name + "]]", case included.
bool IsHeaderOfProfile(std::string_view line, std::string_view name);

// The eleven fields of a label row (labels 1 to 10 and the eleventh field), split on the byte
// 0xA4 and trimmed; a row with fewer separators repeats the whole row for the missing labels.
using LabelRow = std::array<std::string, 11>;
LabelRow LabelsOf(std::string_view row);
// A label row as the program writes it: each of the first ten cells followed by 0xA4.
std::string BuildLabelRow(const LabelRow& cells);

struct FormatProfile {
    std::string name;
    int headerLine = 0;  // index into the file's lines
};

struct FormatGroup {
    std::string name;
    // False for the profiles that stand before the first group header: they have no group
    // and show at the top level.
    bool hasHeader = true;
    std::vector<FormatProfile> profiles;
};

// The tree of groups and profiles in file order. `selectedGroup`/`selectedProfile` name the
// last profile whose name, upper-cased in ASCII, is "DEFAULT" (-1 when none): it is selected and
// its group expanded.
struct FormatTree {
    std::vector<FormatGroup> groups;
    int selectedGroup = -1;
    int selectedProfile = -1;
};
FormatTree BuildFormatTree(const std::vector<std::string>& lines);

// The first line from index 0 that is the header of the profile named `name`, or -1.
int FindProfileHeader(const std::vector<std::string>& lines, std::string_view name);
// The last line that is the header of the profile named exactly "Default", or -1.
int LastDefaultHeader(const std::vector<std::string>& lines);

// How many label rows (0 to 2) the profile whose header is line headerLine has: the lines after
// it, up to the next group or profile header or the end of the file, counted up to two.
int LabelRowCount(const std::vector<std::string>& lines, int headerLine);

// Line `index` of the lines, or empty text past the end.
std::string_view LineAt(const std::vector<std::string>& lines, long long index);

} // namespace tlg
