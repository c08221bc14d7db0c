#pragma once

// The load of a log: the whole file, one byte per character, exactly as stored, or the bytes a
// Transcoding makes of it (16-bit text decoded into UTF-8, NUL bytes dropped). Every kind is
// read from its file when asked: only the line index, check values and a bounded cache stay in
// memory.

#include "document/logdocument.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace tlg {

// A file whose first bytes show gzip, xz, bzip2 or zstd compression is read, by every load
// below, as the text it holds (LogDocument::fromCompressed): 16-bit text (Utf16Le, Utf16Be)
// decoded into UTF-8, any other transcoding asked as the decompressed bytes are. `partial`,
// where a load takes it, hears the documents of the first lines of a compressed file while its
// pass goes on (a plain file's load tells none).

// The first `length` bytes of the text the file at path holds: its own bytes, or those it
// decompresses into. Empty when it cannot be read (the load that follows says why).
std::string TextHeadOf(const std::string& path, std::size_t length);

// Reads the whole file at path into a new document. The file is opened for reading only,
// never locked, and closed before returning; `bytesRead`, when given, counts the bytes read so
// far, for a progress report. Throws Failure when the file cannot be opened ("Cannot open file
// <path>"), is not a regular file, is write-locked by another program ("File is locked by
// another program: <path>"), or cannot be read. Once `stop` (when given) is raised the read
// ends at its next chunk and throws ReadStopped: no document comes of it. Every load below
// heeds `stop` the same way.
DocumentPtr LoadPlainText(const std::string& path, std::atomic<std::int64_t>* bytesRead = nullptr,
                          const std::atomic<bool>* stop = nullptr, const PartialDocuments& partial = {});

// The same text as LoadPlainText, read as cheaply as the file allows: when it is the file that
// `previous` was read from (same device and inode), no shorter, and its first 4 KiB and the
// 4 KiB before the previous end are the bytes `previous` holds there, only the bytes after the
// previous end are read and appended to it. Otherwise (shrunk, replaced, rewritten, or no
// previous text) the whole file is read. Fails as LoadPlainText does.
DocumentPtr LoadPlainTextAfter(const std::string& path, const DocumentPtr& previous,
                               std::atomic<std::int64_t>* bytesRead = nullptr,
                               const std::atomic<bool>* stop = nullptr);

// Indexes the file at path as `how` makes its bytes shown (LogDocument::fromFile), opened and
// checked exactly as LoadPlainText does (and failing as it does); Transcoding::None is
// LoadPlainText. 16-bit text shows the UTF-8 that Utf16ToUtf8 makes of the file after its mark
// (FF FE little-endian, FE FF big-endian, left out when there); DropNuls the file's bytes
// without NULs (as ReadDroppingNuls gives them); DropNulsAfterMark those of offsets 2 to
// size - 2 (as ReadAfterMark). `bytesRead` counts file bytes.
DocumentPtr LoadText(const std::string& path, Transcoding how, std::atomic<std::int64_t>* bytesRead = nullptr,
                     const std::atomic<bool>* stop = nullptr, const PartialDocuments& partial = {});

// LoadPlainTextAfter for any kind: the text of LoadText(path, how), only the file's new bytes
// read (and decoded) when it is the file `previous` was read from, read the same way, no
// shorter, and the same at its start and before the previous end (compared by check value).
DocumentPtr LoadTextAfter(const std::string& path, Transcoding how, const DocumentPtr& previous,
                          std::atomic<std::int64_t>* bytesRead = nullptr,
                          const std::atomic<bool>* stop = nullptr);

// A 16-bit text file (either byte order, with or without its mark) read as its
// UTF-8 form without the mark: LoadText(path, Utf16Be or Utf16Le), kept for its callers.
DocumentPtr LoadUtf16Text(const std::string& path, bool bigEndian);

} // namespace tlg
