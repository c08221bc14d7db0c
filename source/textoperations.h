#pragma once

// What a source does to its text, as plain functions that run on its thread: the whole load
// with the encoding's detection and the conversion of 16-bit text and NUL bytes, the load of a
// followed log's change, and the check that the held text is still the file's.

#include "document/encoding.h"
#include "document/logdocument.h"
#include "document/textcheck.h"
#include "document/unicode.h"
#include "source/watchstate.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace tlg {

// A text as a source holds it: the document shown, the encoding it is shown in, how its file
// had to be read, and how far it has been compared with the file since it last changed.
struct HeldText {
    DocumentPtr document;
    Encoding encoding = Encoding::Windows1252;
    UnicodeKind kind = UnicodeKind::SingleByte;
    TextCheck check;
};

// The file as stat() saw it just before a read: a write landing during the read differs from
// these values, so the next look at the file loads it.
struct FileSample {
    std::int32_t age = 0;
    std::int64_t size = 0;
    FileStamp stamp;
};
FileSample SampleOf(const std::string& path);

// Loads the whole file at path and detects its encoding from its first bytes (or takes the one
// chosen). 16-bit text is decoded and text holding NUL bytes has them dropped, as the document
// reads its file ("View Unicode" changes nothing for plain text). `done` counts the bytes read. Throws Failure with
// the text a user reads when the file cannot be opened or read, and ReadStopped, leaving no text,
// once `stop` (when given) is raised. A compressed file's 16-bit text is decoded too; its first
// lines are told to `partial` (on this thread) while its pass goes on (LogDocument::fromCompressed).
HeldText OpenText(const std::string& path, const EncodingChoice& choice, std::atomic<std::int64_t>& done,
                  const std::atomic<bool>* stop = nullptr,
                  const std::function<void(const HeldText&)>& partial = {});

// The held text after its file changed: with `convert` ("View Unicode" down) read by the kind
// last detected, else as the file's bytes are. Read as before, it costs only what was
// appended, once the bytes held are known to be the file's still (`compare`: they are compared
// first, as TextStillInFile does, and `differs` says that an earlier comparison already found
// a difference); any difference reads the whole file. Sets `wholeRead` when the whole file was
// read. Fails as OpenText does.
HeldText FollowText(const std::string& path, const HeldText& held, bool convert, bool compare, bool differs,
                    bool& wholeRead, std::atomic<std::int64_t>& done, const std::atomic<bool>* stop = nullptr);

// The whole file read again in the held text's encoding (no detection), by its kind when
// `convert`, else as its bytes are. Fails as OpenText does.
HeldText ReadAgain(const std::string& path, const HeldText& held, bool convert, std::atomic<std::int64_t>& done,
                   const std::atomic<bool>* stop = nullptr);

} // namespace tlg
