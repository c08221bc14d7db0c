#pragma once

// The logs open when the viewer last changed its tabs or closed, kept in the settings folder
// (Session.TLG) and opened again at the next start: each log's path, its caret line, whether
// it was followed and the encoding chosen for it.

#include "document/encoding.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tlg {

struct SessionLog {
    std::string path; // as the file system names it
    std::int64_t caretLine = 0;
    bool followed = true;
    EncodingChoice encoding;
    std::vector<std::string> mergedWith; // the other files of a log merged by time
};

inline constexpr const char* kSessionFileName = "Session.TLG";

// One line per log, CR LF ended: "Log=" the path percent-encoded, then '|' and the caret line,
// 1 or 0 for followed, and "Auto" or an encoding's name; a merged log adds '|' and the other
// files' paths, percent-encoded, separated by ','.
std::string SessionText(const std::vector<SessionLog>& logs);
// The logs of a session's text; a line that cannot be read is left out.
std::vector<SessionLog> ReadSessionText(std::string_view text);

} // namespace tlg
