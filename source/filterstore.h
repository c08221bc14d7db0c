#pragma once

// The filter stacks the reader set on logs, kept per log in the settings folder's
// "Filters.TLG": one log a line, its path as its bytes, then a tab before each row. A row is
// four letters (r or p: a regular expression or plain text; c or i: matching case or not; s or
// h: show only or hide; 1 or 0: on or off), a colon and its pattern, with backslash, tab, CR
// and LF written \\ \t \r \n. The logs changed last are kept, at most kFilteredLogs of them.

#include "search/filterstack.h"

#include <string>
#include <vector>

namespace tlg {

inline constexpr const char* kFilterStoreName = "Filters.TLG";
inline constexpr std::size_t kFilteredLogs = 500;

// The rows kept for the log at path; none when nothing is kept or the file cannot be read.
// A row that cannot be read is left out.
std::vector<FilterRow> LoadFilterStack(const std::string& path);

// Keeps the rows of the log at path, replacing what was kept for it (no rows: forgets it).
// Written beside and renamed; throws Failure when it cannot be written. A path holding a tab
// or a line break is not kept.
void SaveFilterStack(const std::string& path, const std::vector<FilterRow>& rows);

} // namespace tlg
