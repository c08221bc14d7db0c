#pragma once

// The logs open when the viewer last changed its tabs or closed, kept in the settings folder
// (Session.TLG) and opened again at the next start: each log's path, its caret line, whether
// it was followed and the encoding chosen for it; the local machine's journal by the matches
// it was opened with (a journal file or folder is kept by its path, as a file is).

#include "document/encoding.h"
#include "journal/journalreader.h"

#include <cstdint>
#include <optional>
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
    // The local machine's journal (path "" then): its -u, -p and -b matches.
    std::optional<JournalQuery> journal;
};

inline constexpr const char* kSessionFileName = "Session.TLG";

// One line per log, CR LF ended: "Log=" the path percent-encoded, then '|' and the caret line,
// 1 or 0 for followed, and "Auto" or an encoding's name; a merged log adds '|' and the other
// files' paths, percent-encoded, separated by ','. The local journal is a line of its own,
// "Journal=" then '|' between: 1 or 0 for followed, the units percent-encoded and separated by
// ',', the priorities as "lowest..highest" (none: ""), the boot as -b names it. Lines stand in
// the tabs' order. A reader that knows no "Journal=" line passes over it.
std::string SessionText(const std::vector<SessionLog>& logs);
// The logs of a session's text, in its order; a line that cannot be read is left out, and so
// are fields after those known, which a later version may add.
std::vector<SessionLog> ReadSessionText(std::string_view text);

} // namespace tlg
