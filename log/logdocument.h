#pragma once

// A loaded log text: its bytes exactly as read and the offsets of its line starts. A document
// never changes once built; it is shared (never copied) by the load buffer, the staging text
// and the views.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tlg {

// Byte offset into a document's text, from 0. A CR LF line break counts two.
using ByteOffset = std::int64_t;
// Line number, from 0.
using LineNumber = std::int64_t;
// A number of lines.
using LineCount = std::int64_t;

class LogDocument;
using DocumentPtr = std::shared_ptr<const LogDocument>;

class LogDocument {
public:
    // Builds the document of these bytes and indexes its lines. Lines end at LF, CR LF or a
    // lone CR.
    static DocumentPtr fromBytes(std::string bytes);
    // The shared empty document.
    static DocumentPtr empty();

    std::string_view text() const { return m_bytes; }
    ByteOffset size() const { return static_cast<ByteOffset>(m_bytes.size()); }

    // The number of lines, not counting the empty line that follows a final line break: "a\nb"
    // and "a\nb\n" have 2 lines, "" has 0.
    LineCount lineCount() const;

    // The number of line starts: lineCount(), plus 1 when the text is empty or ends with a
    // line break (the empty last line where the caret can stand).
    LineCount rowCount() const { return static_cast<LineCount>(m_lineStarts.size()); }

    // The offset of the first byte of a line; a line past the last gives the text's size, a
    // negative line 0.
    ByteOffset lineIndex(LineNumber line) const;

    // The offset one past the last byte of a line's content, before its line break.
    ByteOffset lineContentEnd(LineNumber line) const;

    // The line that holds the byte at offset (offsets are clamped into 0..size()). The end of a
    // text that ends with a line break lies on the empty line after it.
    LineNumber lineFromOffset(ByteOffset offset) const;

    // The content of a line without its line break.
    std::string_view lineText(LineNumber line) const;

    // The length in bytes of the longest line's content.
    std::int64_t longestLine() const { return m_longestLine; }
    // The width in columns of the widest line's content, tabs run to their stops.
    std::int64_t widestLineColumns() const { return m_widestColumns; }

private:
    LogDocument() = default;

    std::string m_bytes;
    std::vector<ByteOffset> m_lineStarts; // m_lineStarts[0] == 0, strictly increasing
    std::int64_t m_longestLine = 0;
    std::int64_t m_widestColumns = 0;
};

} // namespace tlg
