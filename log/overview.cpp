#include "log/overview.h"

#include "core/faststrings.h"
#include "core/fields.h"

#include <algorithm>
#include <string.h>

#include <array>
#include <deque>
#include <functional>
#include <string>
#include <tuple>
#include <utility>

namespace tlg {

namespace {

// Lines are searched a block of about this many bytes at a time, folded to one letter case.
constexpr std::size_t kBlockBytes = 1 << 20;

using FoldTable = std::array<unsigned char, 256>;

FoldTable asciiUpperTable()
{
    FoldTable table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return table;
}

void foldInto(std::string_view text, const FoldTable& fold, std::string& out)
{
    out.resize(text.size());
    char* to = out.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        to[i] = static_cast<char>(fold[static_cast<unsigned char>(text[i])]);
}

std::string folded(std::string_view text, const FoldTable& fold)
{
    std::string out;
    foldInto(text, fold, out);
    return out;
}

// A pattern searched for in folded text, with its search table built once.
struct Needle {
    std::string text;
    std::uint8_t bit;
    std::boyer_moore_horspool_searcher<std::string::const_iterator> searcher;
    Needle(const Needle&) = delete;
    Needle& operator=(const Needle&) = delete;
    Needle(std::string folded, std::uint8_t markBit)
        : text(std::move(folded)), bit(markBit), searcher(text.begin(), text.end())
    {
    }
};

constexpr std::uint8_t kInfoWord = 8;  // an info label occurs in the line
constexpr std::uint8_t kErrorWord = 16; // an error label occurs in the line

// The first occurrence of the needle in [from, to): glibc's memmem where there is one, which
// scans many bytes at a step; a table-driven search elsewhere.
std::string::const_iterator find(std::string::const_iterator from, std::string::const_iterator to, const Needle& needle)
{
#ifdef __GLIBC__
    const void* hit = ::memmem(&*from, static_cast<std::size_t>(to - from), needle.text.data(), needle.text.size());
    return hit ? from + (static_cast<const char*>(hit) - &*from) : to;
#else
    return std::search(from, to, needle.searcher);
#endif
}

// Marks with needle.bit every line of the block that holds the needle. The block's folded
// bytes start at the document's offset `base` and hold the lines [first, end).
void markBlock(const LogDocument& document, ByteOffset base, LineNumber first, LineNumber end,
               const std::string& block, const Needle& needle, std::uint8_t* marks)
{
    LineNumber line = first;
    auto from = block.begin();
    while (from != block.end()) {
        const auto hit = find(from, block.end(), needle);
        if (hit == block.end())
            return;
        const ByteOffset offset = base + (hit - block.begin());
        // Hits only move forward: walk the lines rather than search the index.
        while (line + 1 < end && document.lineIndex(line + 1) <= offset)
            ++line;
        marks[line - first] |= needle.bit;
        if (line + 1 >= end)
            return;
        from = block.begin() + (document.lineIndex(line + 1) - base); // one hit a line is enough
    }
}

} // namespace

std::vector<std::uint8_t> MarkLines(const LogDocument& document, LineNumber first,
                                    const ColourRules* rules, std::string_view pattern,
                                    const std::atomic<bool>* cancel)
{
    const LineCount lines = document.lineCount();
    first = std::clamp<LineNumber>(first, 0, lines);
    std::vector<std::uint8_t> marks(static_cast<std::size_t>(lines - first), 0);
    if (marks.empty())
        return marks;

    // The labels as the colouring matches them: folded to upper case through the code page's
    // table, or for a to z only; blank ones and those of a closed gate left out. The find
    // text ignores case through the code page's table, as Find does.
    static const FoldTable asciiUpper = asciiUpperTable();
    const FoldTable& labelFold = rules && rules->asciiCaseOnly ? asciiUpper : UpperTable;
    std::deque<Needle> labelNeedles; // never moved: each searcher points into its text
    std::deque<Needle> findNeedles;
    bool breakInLabel = false;
    if (rules) {
        for (const auto& [labels, gate, bit] : {std::tuple{&rules->infoLabels, rules->showInfo, kInfoWord},
                                                std::tuple{&rules->errorLabels, rules->showErrors, kErrorWord}}) {
            for (const std::string& label : *labels) {
                if (!gate || trimBlanks(upperAscii(label)).empty())
                    continue;
                breakInLabel = breakInLabel || label.find_first_of("\r\n") != std::string::npos;
                labelNeedles.emplace_back(folded(label, labelFold), bit);
            }
        }
    }
    if (!pattern.empty())
        findNeedles.emplace_back(folded(pattern, UpperTable), kMarkFound);
    const bool sameFold = &labelFold == &UpperTable;

    std::string labelBlock;
    std::string findBlock;
    for (LineNumber blockFirst = first; blockFirst < lines;) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            break;
        // Whole lines, about kBlockBytes of them (a longer line makes a block on its own).
        const ByteOffset base = document.lineIndex(blockFirst);
        LineNumber blockEnd = std::min(document.lineFromOffset(base + static_cast<ByteOffset>(kBlockBytes)), lines);
        if (blockEnd <= blockFirst)
            blockEnd = blockFirst + 1;
        const TextSlice blockText = document.read(base, document.lineIndex(blockEnd));
        const std::string_view bytes = blockText.view();
        std::uint8_t* blockMarks = marks.data() + (blockFirst - first);
        if (!labelNeedles.empty()) {
            foldInto(bytes, labelFold, labelBlock);
            for (const Needle& needle : labelNeedles)
                markBlock(document, base, blockFirst, blockEnd, labelBlock, needle, blockMarks);
        }
        if (!findNeedles.empty()) {
            if (!sameFold || labelNeedles.empty())
                foldInto(bytes, UpperTable, findBlock);
            const std::string& block = sameFold && !labelNeedles.empty() ? labelBlock : findBlock;
            markBlock(document, base, blockFirst, blockEnd, block, findNeedles.front(), blockMarks);
        }
        blockFirst = blockEnd;
    }

    // A line holding only info labels has a blue byte and no red one, a line holding only
    // error labels the reverse: each occurrence colours its word, and only error words
    // paint over info ones. A line holding both (or any line, for a label with a line break
    // in it) is coloured as the view colours it.
    std::vector<LabelSpan> spans;
    for (std::size_t i = 0; i < marks.size(); ++i) {
        std::uint8_t& mark = marks[i];
        const std::uint8_t words = mark & (kInfoWord | kErrorWord);
        mark &= kMarkFound;
        if (words == 0)
            continue;
        if (words == kInfoWord && !breakInLabel) {
            mark |= kMarkInfo;
        } else if (words == kErrorWord && !breakInLabel) {
            mark |= kMarkError;
        } else {
            const auto line = first + static_cast<LineNumber>(i);
            const ByteOffset start = document.lineIndex(line);
            const ByteOffset end = document.lineIndex(line + 1); // with its line break
            ColourLine(document.slice(start, end).view(), *rules, spans);
            for (const LabelSpan& span : spans) {
                if (span.end > span.start)
                    mark |= span.colour == LabelColour::Error ? kMarkError : span.colour == LabelColour::Info ? kMarkInfo : 0;
            }
        }
    }
    return marks;
}

std::vector<std::uint8_t> MarksPerRow(const std::vector<std::uint8_t>& lineMarks, int rows)
{
    std::vector<std::uint8_t> result(static_cast<std::size_t>(std::max(rows, 0)), 0);
    const auto lines = static_cast<LineCount>(lineMarks.size());
    if (rows <= 0 || lines == 0)
        return result;
    for (int row = 0; row < rows; ++row) {
        const LineNumber from = LineOfRow(row, rows, lines);
        const LineNumber to = std::max(from + 1, LineOfRow(row + 1, rows, lines));
        if (from >= lines)
            break;
        std::uint8_t mark = 0;
        for (LineNumber line = from; line < std::min(to, lines); ++line)
            mark |= lineMarks[static_cast<std::size_t>(line)];
        result[static_cast<std::size_t>(row)] = mark;
    }
    return result;
}

LineNumber LineOfRow(int row, int rows, LineCount lines)
{
    if (rows <= 0 || lines <= 0)
        return 0;
    if (lines < rows)
        return row; // a row a line, from the top
    // No overflow: lines stay below 2^47 and rows below 2^16.
    return static_cast<LineNumber>(static_cast<std::int64_t>(row) * lines / rows);
}

} // namespace tlg
