#pragma once

// Checks that the bytes a followed log was loaded with are still the file's, within a budget
// per check, so that an edit in place is found even when the file only grew around it.

#include "document/logdocument.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tlg {

// The most a check reads: a text of this size or less is compared whole every time.
inline constexpr std::size_t kTextCheckBudget = 16u << 20;

// Where the rotating check of a longer text stands, and how much of it is still to be checked
// since the text last changed.
struct TextCheck {
    std::size_t cursor = 0;       // the next byte the rotation compares
    ByteOffset unchecked = 0;     // bytes still to compare before the text is known to be the file's
};

// Compares the file at path with `text` (what was loaded from its first bytes): a text of at
// most `budget` bytes whole; a longer one at its first and last 4 KiB and at a window of the
// rest of the budget from check.cursor on, wrapping round, after which the cursor moves on and
// check.unchecked shrinks by the window. True when every byte compared is the same (a file now
// shorter than the text is not). A text read from its file is compared by the check values of
// its blocks (each stretch widened to whole blocks), and is not the file's once a read of it
// found that the file changed under it. The file is opened for reading only and closed again;
// throws Failure when it cannot be opened or read.
bool TextStillInFile(const std::string& path, const LogDocument& text, TextCheck& check,
                     std::size_t budget = kTextCheckBudget);

// The followed log's text after a change: the bytes `previous` holds are compared with the file
// first (as TextStillInFile does; `differs` says a comparison already found a difference) and,
// on any difference, the whole file is read again; otherwise only what was appended is read
// (LoadTextAfter). A transcoded text is read again with its own transcoding, compared by the
// check values of its shown bytes decoded again from the file. check.unchecked is what is left
// to compare: nothing after a whole read. Fails, and heeds `stop`, as LoadPlainText does.
DocumentPtr LoadFollowedText(const std::string& path, const DocumentPtr& previous, TextCheck& check,
                             bool differs, std::atomic<std::int64_t>* bytesRead = nullptr,
                             std::size_t budget = kTextCheckBudget, const std::atomic<bool>* stop = nullptr);

} // namespace tlg
