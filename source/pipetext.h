#pragma once

// What a source does to the text of a pipe, on its thread: the first bytes decide the encoding,
// as a file's do, and the text grows by what the spool kept since.

#include "document/encoding.h"
#include "document/pipespool.h"
#include "source/textoperations.h"

#include <atomic>
#include <cstdint>

namespace tlg {

// The name a pipe's text goes by in the title, the tab and failures.
inline constexpr const char* kStandardInputName = "standard input";

// The held text of a pipe grown to what the spool holds now. Before any byte came the text is
// `held` as it is; the first read detects the encoding from the first bytes (or takes the one
// chosen) and sets `detected`: 16-bit text is decoded into UTF-8 and NULs of other text are
// dropped, as for a file. Later reads cost only the new bytes. Throws Failure when the spool
// cannot be read, and ReadStopped once `stop` is raised.
HeldText GrowPipeText(const PipeSpool& spool, const HeldText& held, const EncodingChoice& choice, bool& detected,
                      std::atomic<std::int64_t>& done, const std::atomic<bool>* stop = nullptr);

} // namespace tlg
