#pragma once

// A settings file that keeps a line of text for each log, keyed by its path: the path as its
// bytes, a tab, the text, CR LF. The logs changed last are kept, up to a limit. The line marks
// and the filter stacks are kept this way.

#include <cstddef>
#include <optional>
#include <string>

namespace tlg {

// The text kept for the log at path in the settings file `fileName` (the last line for it
// counts); none when nothing is kept or the file cannot be read.
std::optional<std::string> ReadPerLogText(const char* fileName, const std::string& path);

// Keeps `text` for the log at path, replacing what was kept for it (an empty text forgets it),
// and drops the logs changed longest ago beyond `limit`. Written beside and renamed; throws
// Failure when it cannot be written. A path holding a tab or a line break is not kept.
void WritePerLogText(const char* fileName, std::size_t limit, const std::string& path, const std::string& text);

} // namespace tlg
