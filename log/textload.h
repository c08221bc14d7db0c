#pragma once

// The plain-text load of a log: the whole file, one byte per character, exactly as stored.

#include "log/logdocument.h"

#include <string>

namespace tlg {

// Reads the whole file at path into a new document. The file is opened for reading only,
// never locked, and closed before returning. Throws Failure when the file cannot be opened
// ("Cannot open file <path>"), is not a regular file, is write-locked by another program
// ("File is locked by another program: <path>"), or cannot be read.
DocumentPtr LoadPlainText(const std::string& path);

} // namespace tlg
