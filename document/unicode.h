#pragma once

// NUL bytes in a log: telling text with stray NULs from plain text, and dropping them. (Text
// that is 16-bit throughout is told by its encoding and decoded: see document/encoding.h.)

#include "document/logdocument.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tlg {

// How the file last examined must be read.
enum class UnicodeKind : std::uint8_t {
    SingleByte = 0,  // no conversion: the plain-text load
    NulBytes = 1,    // the plain load differs from the file's NUL-free bytes: drop the NULs
    ByteOrderMark = 2, // the NUL-free bytes start with FF FE: drop the NULs and the mark
    Utf16 = 3,       // 16-bit text (UTF-16LE or UTF-16BE): decoded into UTF-8
};

// The text with every NUL byte dropped.
std::string DropNuls(std::string_view text);

// The file's bytes with every NUL dropped. The file is read only while no other program holds
// any lock on it, read or write; otherwise, or when it cannot be opened or read, throws Failure.
std::string ReadDroppingNuls(const std::string& path);

// As ReadDroppingNuls, but only the bytes at offsets 2 to size - 2 (the mark and the last byte
// are left out); a file of three bytes or fewer gives empty text.
std::string ReadAfterMark(const std::string& path);

// The kind of a file from its plain-text load and its NUL-free bytes (one read of the file:
// two reads could see different bytes of a log that is being written): NulBytes when the two
// differ once the ASCII letters are upper-cased and blanks and control characters are trimmed
// from both ends; else ByteOrderMark when the NUL-free bytes start with FF FE; else SingleByte
// (also for two or three bytes without the mark).
UnicodeKind ClassifyUnicode(std::string_view loaded, std::string_view nulFree);

// The same answer as ClassifyUnicode(loaded, DropNuls(loaded)), without the copy: a NUL
// between the first and the last byte above 0x20 makes NulBytes; otherwise FF FE as the first
// two bytes that are not NUL make ByteOrderMark.
UnicodeKind ClassifyLoadedText(std::string_view loaded);
// The same, told whether the text holds a NUL byte at all, so that a text without one is
// classed without a pass over it.
UnicodeKind ClassifyLoadedText(std::string_view loaded, bool holdsNul);
// The same for a loaded document, read a chunk at a time (a text without NULs costs nothing).
UnicodeKind ClassifyLoadedText(const LogDocument& loaded);

} // namespace tlg
