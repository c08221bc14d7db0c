// The document's line index, built at once and by appending pieces, against lines found one
// byte at a time.

#include "document/logdocument.h"
#include "fuzzinput.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace tlg;

namespace {

// The offsets where lines start: 0, and after each LF, CR LF and lone CR.
std::vector<std::size_t> naiveLineStarts(std::string_view text)
{
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            starts.push_back(i + 1);
    }
    return starts;
}

void checkDocument(const LogDocument& doc, std::string_view text)
{
    FUZZ_CHECK(doc.copyText() == text);
    const std::vector<std::size_t> starts = naiveLineStarts(text);
    FUZZ_CHECK(static_cast<std::size_t>(doc.rowCount()) == starts.size());
    const bool endsWithBreak = text.empty() || starts.back() == text.size();
    FUZZ_CHECK(static_cast<std::size_t>(doc.lineCount()) == starts.size() - (endsWithBreak ? 1 : 0));
    std::size_t longest = 0;
    for (std::size_t line = 0; line < starts.size(); ++line) {
        const std::size_t next = line + 1 < starts.size() ? starts[line + 1] : text.size();
        // Every line but the last ends in its break, CR LF counting two.
        std::size_t contentEnd = next;
        if (line + 1 < starts.size()) {
            contentEnd = next - 1;
            if (text[next - 1] == '\n' && next - 1 > starts[line] && text[next - 2] == '\r')
                contentEnd = next - 2;
        }
        const auto number = static_cast<LineNumber>(line);
        FUZZ_CHECK(static_cast<std::size_t>(doc.lineIndex(number)) == starts[line]);
        FUZZ_CHECK(static_cast<std::size_t>(doc.lineContentEnd(number)) == contentEnd);
        FUZZ_CHECK(doc.lineText(number).view() == text.substr(starts[line], contentEnd - starts[line]));
        longest = std::max(longest, contentEnd - starts[line]);
        for (std::size_t at = starts[line]; at < next; ++at)
            FUZZ_CHECK(static_cast<std::size_t>(doc.lineFromOffset(static_cast<ByteOffset>(at))) == line);
    }
    FUZZ_CHECK(static_cast<std::size_t>(doc.longestLine()) == longest);
    FUZZ_CHECK(doc.holdsNul() == (text.find('\0') != std::string_view::npos));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::string_view cuts = input.piece();
    const std::string_view text = input.rest();
    const DocumentPtr whole = LogDocument::fromBytes(text);
    checkDocument(*whole, text);

    // Appended in pieces (CR LF pairs split too), and an older document left as it was.
    DocumentPtr grown = LogDocument::fromBytes(std::string_view());
    DocumentPtr older = grown;
    std::size_t olderSize = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; at < text.size(); ++i) {
        const std::size_t piece = i < cuts.size() ? static_cast<unsigned char>(cuts[i]) % 64 : text.size() - at;
        grown = grown->appended(text.substr(at, piece));
        at = std::min(text.size(), at + piece);
        if (i == 1) {
            older = grown;
            olderSize = at;
        }
    }
    checkDocument(*grown, text);
    FUZZ_CHECK(grown->widestLineColumns() == whole->widestLineColumns());
    checkDocument(*older, text.substr(0, olderSize));
    return 0;
}
