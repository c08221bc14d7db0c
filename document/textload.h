#pragma once

// The plain-text load of a log: the whole file, one byte per character, exactly as stored.

#include "document/logdocument.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace tlg {

// Reads the whole file at path into a new document. The file is opened for reading only,
// never locked, and closed before returning; `bytesRead`, when given, counts the bytes read so
// far, for a progress report. Throws Failure when the file cannot be opened ("Cannot open file
// <path>"), is not a regular file, is write-locked by another program ("File is locked by
// another program: <path>"), or cannot be read.
DocumentPtr LoadPlainText(const std::string& path, std::atomic<std::int64_t>* bytesRead = nullptr);

// The same text as LoadPlainText, read as cheaply as the file allows: when it is the file that
// `previous` was read from (same device and inode), no shorter, and its first 4 KiB and the
// 4 KiB before the previous end are the bytes `previous` holds there, only the bytes after the
// previous end are read and appended to it. Otherwise (shrunk, replaced, rewritten, or no
// previous text) the whole file is read. Fails as LoadPlainText does.
DocumentPtr LoadPlainTextAfter(const std::string& path, const DocumentPtr& previous,
                               std::atomic<std::int64_t>* bytesRead = nullptr);

// Reads a 16-bit text file whole (either byte order, with or without its mark) and gives its
// UTF-8 form without the mark, decoded straight into the document's buffer. The file is read
// only while no other program holds any lock on it; otherwise, or when it cannot be opened or
// read, throws Failure.
DocumentPtr LoadUtf16Text(const std::string& path, bool bigEndian);

} // namespace tlg
