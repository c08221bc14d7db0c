#pragma once

// The encodings a log can be written in: telling which one a file uses from its first bytes,
// turning 16-bit text into UTF-8 as it is loaded, and encoding a search text or a label the
// way the loaded text holds it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tlg {

enum class Encoding : std::uint8_t { Windows1252, Iso8859_1, Utf8, Utf16Le, Utf16Be };

// What the Encoding menu asks for: detection, or one encoding for every load.
struct EncodingChoice {
    bool automatic = true;
    Encoding forced = Encoding::Windows1252; // read when not automatic
};

// "UTF-8", "Windows-1252", "ISO-8859-1", "UTF-16LE", "UTF-16BE": the status bar's and the
// menu's words.
const char* EncodingName(Encoding encoding);

// How a loaded text of this encoding holds its characters: 16-bit text is held as UTF-8,
// every other encoding as the file's own bytes.
Encoding HeldEncoding(Encoding encoding);

// Detection reads at most this many bytes from the start of a file.
inline constexpr std::size_t kDetectionSample = 64 * 1024;

// What the first bytes of a file say.
struct Detection {
    Encoding encoding = Encoding::Windows1252;
    std::size_t markLength = 0; // the byte-order mark's length, 0 without one
    // NUL bytes that are not 16-bit text (a stray NUL, a binary): they are dropped on load.
    bool strayNuls = false;
};

// Detects the encoding of a file from its first bytes (only the first kDetectionSample are
// looked at): a byte-order mark decides (EF BB BF, FF FE, FE FF); else 16-bit text by its NUL
// bytes (nine in ten on odd offsets: little-endian; on even offsets: big-endian; and at least
// one unit in eight, and two units, holding one); else UTF-8 when the sample holds no invalid
// UTF-8 sequence, plain ASCII included (a sequence cut by the sample's end is not invalid);
// else Windows-1252. NULs that are not 16-bit text set strayNuls.
Detection DetectEncoding(std::string_view head);

// The UTF-8 form of 16-bit text in the given byte order. The text must not hold the mark.
// A unit that is half of a surrogate pair without its other half, and an odd last byte, become
// U+FFFD; U+0000 stays a NUL byte. Only the characters U+000A and U+000D make line breaks.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);
// The same into `out`, which must have room for 3 * (bytes.size() / 2) + 3 bytes; returns
// the bytes written.
std::size_t Utf16ToUtf8(std::string_view bytes, bool bigEndian, char* out);

// The text (UTF-16, as the window holds it) in the held encoding of a log: its UTF-8 bytes, or
// its Windows-1252 or ISO-8859-1 bytes; nothing when a character has no byte in that code page
// (such a text can never occur in the log, and must match nothing).
std::optional<std::string> EncodeForLog(std::u16string_view text, Encoding held);
// A Windows-1252 text (a label as the format file holds it) in the held encoding of a log.
std::optional<std::string> RecodeCp1252ForLog(std::string_view cp1252, Encoding held);

// The length of the UTF-8 sequence that starts at `text[index]`, when it is a whole valid one
// (1 to 4), or 0 when it is not (a stray continuation byte, an overlong form, a surrogate, a
// code past U+10FFFF, or a sequence cut short). `codePoint` gets its character.
int Utf8SequenceAt(std::string_view text, std::size_t index, char32_t& codePoint);

} // namespace tlg
