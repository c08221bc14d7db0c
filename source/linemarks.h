#pragma once

// The marks the reader set on a log's lines, kept per log in the settings folder's
// "Marks.TLG": one log a line, its path as its bytes, a tab, and its marked lines (from 1)
// apart by spaces. The logs changed last are kept, at most kMarkedLogs of them.

#include <cstdint>
#include <set>
#include <string>

namespace tlg {

inline constexpr const char* kLineMarksName = "Marks.TLG";
inline constexpr std::size_t kMarkedLogs = 200;

// The marked lines (from 0) of the log at path; none when nothing is kept or the file cannot
// be read.
std::set<std::int64_t> LoadLineMarks(const std::string& path);

// Keeps the marked lines (from 0) of the log at path, replacing what was kept for it (no lines:
// forgets it). Written beside and renamed; throws Failure when it cannot be written. A path
// holding a tab or a line break is not kept.
void SaveLineMarks(const std::string& path, const std::set<std::int64_t>& lines);

} // namespace tlg
