#pragma once

// A log's text saved to a file of the user's choice ("Save As"): the bytes shown, exactly.

#include "document/linesource.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace tlg {

// Writes text's bytes (for a transcoded log, the UTF-8 it is shown in) to path, a step at a
// time, never holding the whole text: written beside and renamed, as settings files are, so a
// full disk or a stop leaves the file that was there as it was. `done` counts the bytes
// written. Throws Failure("Cannot create file <path>") when it cannot be written, Failure when
// the text cannot be read, and ReadStopped once `stop` (when given) is raised.
void SaveText(const LineSource& text, const std::string& path, std::atomic<std::int64_t>* done = nullptr,
              const std::atomic<bool>* stop = nullptr);

// The same for the first `size` bytes of the open file fd, as they are (what a pipe gave, kept
// in its spool). Throws Failure("Cannot read file <name>") when fd cannot be read that far.
void SaveFileBytes(int fd, std::int64_t size, const std::string& name, const std::string& path,
                   std::atomic<std::int64_t>* done = nullptr, const std::atomic<bool>* stop = nullptr);

} // namespace tlg
