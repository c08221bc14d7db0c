#include "search/overview.h"

#include "core/faststrings.h"
#include "core/fields.h"

#include <hs/hs.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tlg {

namespace {

using FoldTable = std::array<unsigned char, 256>;

void foldInto(std::string_view text, const FoldTable& fold, std::string& out)
{
    out.resize(text.size());
    char* to = out.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        to[i] = static_cast<char>(fold[static_cast<unsigned char>(text[i])]);
}

constexpr std::uint8_t kInfoWord = 8;   // an info label occurs in the line
constexpr std::uint8_t kErrorWord = 16; // an error label occurs in the line

// A text the pass looks for, ignoring case through a fold table, and the bit it sets in the
// mark of a line that holds it.
struct Needle {
    std::string text;
    const FoldTable* fold;
    std::uint8_t bit;
};

// The lines [first, end) of a block whose bytes start at the document's offset `base`, and
// their marks: sets a bit in the mark of the line that holds a byte of the block. Offsets come
// mostly in rising order, so a cursor walks forward over the lines; an offset before the
// cursor's line, or far after it, is looked up among the lines' starts.
class BlockLines {
public:
    BlockLines(const LineSource& document, LineNumber first, LineNumber end, ByteOffset base, std::uint8_t* marks)
        : m_first(first), m_end(end), m_base(base), m_marks(marks), m_line(first),
          m_starts(static_cast<std::size_t>((end - first).value()) + 1)
    {
        document.lineStarts(first, end + 1, m_starts.data());
        m_lineStart = 0;
        m_nextStart = startOf(first + 1);
    }

    // Marks the line that holds the block's byte at `offset`.
    void mark(std::size_t offset, std::uint8_t bit)
    {
        if (offset >= m_nextStart) {
            // Mostly the next line or the one after; farther on, a search.
            for (int step = 0; step < 2 && offset >= m_nextStart && m_line + 1 < m_end; ++step)
                moveTo(m_line + 1);
            if (offset >= m_nextStart && m_line + 1 < m_end)
                moveTo(std::clamp(lineAt(offset), m_line + 1, m_end - 1));
        } else if (offset < m_lineStart) {
            // A label with a line break in it, begun on a line before a shorter hit's.
            const LineNumber line = lineAt(offset);
            m_marks[static_cast<std::size_t>(line - m_first)] |= bit;
            return;
        }
        m_marks[static_cast<std::size_t>(m_line - m_first)] |= bit;
    }

    // Where the line after the cursor's starts in the block, or the block's size.
    std::size_t nextLineStart() const { return m_nextStart; }
    bool atLastLine() const { return m_line + 1 >= m_end; }

private:
    std::size_t startOf(LineNumber line) const
    {
        return static_cast<std::size_t>((m_starts[static_cast<std::size_t>((line - m_first).value())] - m_base).value());
    }
    // The block's line that holds its byte at `offset`.
    LineNumber lineAt(std::size_t offset) const
    {
        const ByteOffset at = m_base + static_cast<ByteOffset>(offset);
        const auto after = std::upper_bound(m_starts.begin(), m_starts.end() - 1, at);
        return m_first + std::max<std::int64_t>(0, after - m_starts.begin() - 1);
    }
    void moveTo(LineNumber line)
    {
        m_line = line;
        m_lineStart = startOf(line);
        m_nextStart = startOf(line + 1);
    }

    LineNumber m_first;
    LineNumber m_end;
    ByteOffset m_base;
    std::uint8_t* m_marks;
    LineNumber m_line;
    std::vector<ByteOffset> m_starts; // of the block's lines, and of the line after
    std::size_t m_lineStart;
    std::size_t m_nextStart;
};

// The search that needs nothing but the C library: each block folded to upper case once per
// fold table, then one search per needle (glibc's memmem, which scans many bytes at a step).
class PlainSearch {
public:
    explicit PlainSearch(const std::vector<Needle>& needles)
    {
        for (const Needle& needle : needles) {
            Folded folded{std::string(), needle.fold, needle.bit};
            foldInto(needle.text, *needle.fold, folded.text);
            m_needles.push_back(std::move(folded));
        }
    }

    void markBlock(const LineSource& document, LineNumber first, LineNumber end, std::string_view bytes,
                   std::uint8_t* marks)
    {
        const ByteOffset base = document.lineIndex(first);
        for (const Folded& needle : m_needles) {
            if (needle.fold != m_foldedBy) {
                foldInto(bytes, *needle.fold, m_block);
                m_foldedBy = needle.fold;
            }
            BlockLines lines(document, first, end, base, marks);
            for (std::size_t from = 0; from < m_block.size();) {
                const std::size_t hit = find(from, needle.text);
                if (hit == std::string::npos)
                    break;
                lines.mark(hit, needle.bit);
                if (lines.atLastLine())
                    break;
                from = lines.nextLineStart(); // one hit a line is enough
            }
        }
        m_foldedBy = nullptr;
    }

private:
    struct Folded {
        std::string text;
        const FoldTable* fold;
        std::uint8_t bit;
    };

    std::size_t find(std::size_t from, const std::string& needle) const
    {
#ifdef __GLIBC__
        const void* hit = ::memmem(m_block.data() + from, m_block.size() - from, needle.data(), needle.size());
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - m_block.data()) : std::string::npos;
#else
        return m_block.find(needle, from);
#endif
    }

    std::vector<Folded> m_needles;
    std::string m_block;
    const FoldTable* m_foldedBy = nullptr; // what m_block holds
};

// Every needle as a Vectorscan expression that matches exactly the bytes its fold table
// equates with it: each byte becomes the class of all bytes that fold as it does. (The
// scanner's own caseless flag knows a to z only.)
std::string expressionOf(const Needle& needle)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto escape = [](std::string& out, int c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    std::string expression;
    for (const char byte : needle.text) {
        const unsigned char target = (*needle.fold)[static_cast<unsigned char>(byte)];
        std::string members;
        int count = 0;
        for (int c = 0; c < 256; ++c) {
            if ((*needle.fold)[static_cast<std::size_t>(c)] == target) {
                escape(members, c);
                ++count;
            }
        }
        expression += count == 1 ? members : "[" + members + "]";
    }
    return expression;
}

// The needles compiled into one block-mode database, and each expression's length and bit by
// its id.
struct Database {
    hs_database_t* database = nullptr;
    std::vector<std::pair<std::size_t, std::uint8_t>> lengthAndBit;
    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database() { hs_free_database(database); }
};

// The database of these needles, or null when Vectorscan cannot run on this processor or
// cannot compile them. The strip asks again with the same rules at every tick of a followed
// log, so the last database is kept.
std::shared_ptr<const Database> databaseOf(const std::vector<Needle>& needles)
{
    static const bool runs = hs_valid_platform() == HS_SUCCESS;
    if (!runs)
        return nullptr;
    std::vector<std::string> expressions;
    std::string key;
    for (const Needle& needle : needles) {
        expressions.push_back(expressionOf(needle));
        key += expressions.back();
        key += '\n';
        key += static_cast<char>(needle.bit);
    }
    static std::mutex mutex;
    static std::string lastKey;                  // guarded by mutex
    static std::shared_ptr<const Database> last; // guarded by mutex
    {
        const std::lock_guard lock(mutex);
        if (last && key == lastKey)
            return last;
    }
    std::vector<const char*> pointers;
    std::vector<unsigned> flags(needles.size(), 0);
    std::vector<unsigned> ids;
    auto database = std::make_shared<Database>();
    for (std::size_t i = 0; i < needles.size(); ++i) {
        pointers.push_back(expressions[i].c_str());
        ids.push_back(static_cast<unsigned>(i));
        database->lengthAndBit.emplace_back(needles[i].text.size(), needles[i].bit);
    }
    hs_compile_error_t* error = nullptr;
    if (hs_compile_multi(pointers.data(), flags.data(), ids.data(), static_cast<unsigned>(needles.size()), HS_MODE_BLOCK,
                         nullptr, &database->database, &error) != HS_SUCCESS) {
        hs_free_compile_error(error);
        return nullptr;
    }
    const std::lock_guard lock(mutex);
    lastKey = std::move(key);
    last = database;
    return database;
}

// A thread's scratch space for scanning, grown to fit each database it scans with.
struct Scratch {
    hs_scratch_t* scratch = nullptr;
    ~Scratch() { hs_free_scratch(scratch); }
};

struct ScanContext {
    const Database* database;
    BlockLines* lines;
};

int onMatch(unsigned id, unsigned long long /*from*/, unsigned long long to, unsigned /*flags*/, void* context)
{
    const auto& scan = *static_cast<const ScanContext*>(context);
    const auto& [length, bit] = scan.database->lengthAndBit[id];
    // Every expression has a fixed length: the match starts that far before its end.
    scan.lines->mark(static_cast<std::size_t>(to) - length, bit);
    return 0;
}

// Every occurrence of the needles in some bytes, as (start, bit), in no particular order: by
// the database when there is one, else by a search per needle. For the windows of a long line.
class OccurrenceScan {
public:
    OccurrenceScan(const std::vector<Needle>& needles, const Database* database, hs_scratch_t* scratch)
        : m_needles(needles), m_database(database), m_scratch(scratch)
    {
    }

    void scan(std::string_view bytes, const std::function<void(std::size_t, std::uint8_t)>& onOccurrence)
    {
        if (m_database && bytes.size() <= std::numeric_limits<unsigned>::max()) {
            Context context{m_database, &onOccurrence};
            if (hs_scan(m_database->database, bytes.data(), static_cast<unsigned>(bytes.size()), 0, m_scratch,
                        onWindowMatch, &context) == HS_SUCCESS)
                return;
        }
        const FoldTable* foldedBy = nullptr;
        for (const Needle& needle : m_needles) {
            if (needle.fold != foldedBy) {
                foldInto(bytes, *needle.fold, m_folded);
                foldedBy = needle.fold;
            }
            foldInto(needle.text, *needle.fold, m_needle);
            for (std::size_t at = m_folded.find(m_needle); at != std::string::npos; at = m_folded.find(m_needle, at + 1))
                onOccurrence(at, needle.bit);
        }
    }

private:
    struct Context {
        const Database* database;
        const std::function<void(std::size_t, std::uint8_t)>* onOccurrence;
    };
    static int onWindowMatch(unsigned id, unsigned long long /*from*/, unsigned long long to, unsigned /*flags*/,
                             void* context)
    {
        const auto& scan = *static_cast<const Context*>(context);
        const auto& [length, bit] = scan.database->lengthAndBit[id];
        (*scan.onOccurrence)(static_cast<std::size_t>(to) - length, bit);
        return 0;
    }

    const std::vector<Needle>& m_needles;
    const Database* m_database;
    hs_scratch_t* m_scratch;
    std::string m_folded;
    std::string m_needle;
};

bool isRunBoundary(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

// The mark of a line too long to be read whole, from windows of `window` bytes that overlap by
// the longest needle less one. A first pass tells which needles occur; only a line holding
// both info and error labels needs a second, which walks the word runs (as ColourLine cuts
// them) to see whether one holds an info label and no error label: that run is blue.
// Returns false when cancelled.
bool markLongLine(const LineSource& document, LineNumber line, OccurrenceScan& scan, std::size_t window,
                  std::size_t overlap, const std::atomic<bool>* cancel, std::uint8_t& mark)
{
    const ByteOffset start = document.lineIndex(line);
    const ByteOffset end = document.lineIndex(line + 1);
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    std::uint8_t found = 0;
    if (!document.forEachChunk(start, end, window, overlap, [&](ByteOffset, std::string_view bytes) {
            if (cancelled())
                return false;
            scan.scan(bytes, [&found](std::size_t, std::uint8_t bit) { found |= bit; });
            return true;
        }))
        return false;
    mark |= found & kMarkFound;
    if ((found & kErrorWord) != 0)
        mark |= kMarkError;
    if ((found & (kInfoWord | kErrorWord)) == kInfoWord)
        mark |= kMarkInfo;
    if ((found & (kInfoWord | kErrorWord)) != (kInfoWord | kErrorWord))
        return true;

    // Which label kinds start at each byte of the stretch [walked, walkEnd) of a window: the
    // bytes whose every occurrence lies wholly in that window.
    std::vector<std::uint8_t> starts;
    ByteOffset walked = start;
    std::uint8_t run = 0; // the label kinds starting in the current run
    bool blue = false;
    if (!document.forEachChunk(start, end, window, overlap, [&](ByteOffset at, std::string_view bytes) {
            if (cancelled())
                return false;
            const ByteOffset bytesEnd = at + static_cast<ByteOffset>(bytes.size());
            const ByteOffset walkEnd = bytesEnd >= end ? end : bytesEnd - static_cast<ByteOffset>(overlap);
            starts.assign(static_cast<std::size_t>(walkEnd - walked), 0);
            scan.scan(bytes, [&](std::size_t offset, std::uint8_t bit) {
                const ByteOffset position = at + static_cast<ByteOffset>(offset);
                if (position >= walked && position < walkEnd)
                    starts[static_cast<std::size_t>(position - walked)] |= bit & (kInfoWord | kErrorWord);
            });
            for (ByteOffset position = walked; position < walkEnd && !blue; ++position) {
                run |= starts[static_cast<std::size_t>(position - walked)];
                // A run ends with the boundary byte after it.
                if (isRunBoundary(bytes[static_cast<std::size_t>(position - at)])) {
                    blue = run == kInfoWord;
                    run = 0;
                }
            }
            walked = walkEnd;
            return !blue;
        }) && !blue)
        return false;
    if (blue || run == kInfoWord)
        mark |= kMarkInfo;
    return true;
}

} // namespace

std::vector<std::uint8_t> MarkLines(const LineSource& document, LineNumber first,
                                    const ColourRules* rules, std::string_view pattern,
                                    const std::atomic<bool>* cancel, const MarkLinesTuning& tuning)
{
    return MarkLines(document, first, rules, pattern, rules ? rules->folding() : CaseFolding::Windows1252, cancel,
                     tuning);
}

namespace {

// MarkLines over the lines [first, end), calling `visit` (when given) with each block of lines
// once its marks are settled.
std::vector<std::uint8_t> markRange(const LineSource& document, LineNumber first, LineNumber end,
                                    const ColourRules* rules, std::string_view pattern,
                                    CaseFolding findFolding, const std::atomic<bool>* cancel,
                                    const MarkLinesTuning& tuning, const MarkedBlockVisit* visit)
{
    const LineNumber lines = std::clamp<LineNumber>(end, 0, EndLine(document.lineCount()));
    first = std::clamp<LineNumber>(first, 0, lines);
    std::vector<std::uint8_t> marks(static_cast<std::size_t>(lines - first), 0);
    if (marks.empty())
        return marks;

    // The labels as the colouring matches them, through the rules' folding; blank ones and
    // those of a closed gate left out. The find text as Find matches it.
    const FoldTable& labelFold = FoldingTable(rules ? rules->folding() : CaseFolding::Windows1252);
    std::vector<Needle> needles;
    bool breakInLabel = false;
    if (rules) {
        for (const auto& [labels, gate, bit] : {std::tuple{&rules->infoLabels, rules->showInfo, kInfoWord},
                                                std::tuple{&rules->errorLabels, rules->showErrors, kErrorWord}}) {
            for (const std::string& label : *labels) {
                if (!gate || trimBlanks(label).empty())
                    continue;
                breakInLabel = breakInLabel || label.find_first_of("\r\n") != std::string::npos;
                needles.push_back({label, &labelFold, bit});
            }
        }
    }
    if (!pattern.empty())
        needles.push_back({std::string(pattern), &FoldingTable(findFolding), kMarkFound});

    // A line holding only info labels has a blue byte and no red one, a line holding only
    // error labels the reverse: each occurrence colours its word, and only error words
    // paint over info ones. A line holding both (or any line, for a label with a line break
    // in it) is coloured as the view colours it, from the block's bytes.
    std::vector<LabelSpan> spans;
    auto settle = [&](LineNumber blockFirst, LineNumber blockEnd, std::string_view bytes) {
        const ByteOffset base = document.lineIndex(blockFirst);
        for (LineNumber line = blockFirst; line < blockEnd; ++line) {
            std::uint8_t& mark = marks[static_cast<std::size_t>(line - first)];
            const std::uint8_t words = mark & (kInfoWord | kErrorWord);
            mark &= kMarkFound;
            if (words == 0)
                continue;
            if (words == kInfoWord && !breakInLabel) {
                mark |= kMarkInfo;
            } else if (words == kErrorWord && !breakInLabel) {
                mark |= kMarkError;
            } else {
                const auto from = static_cast<std::size_t>(document.lineIndex(line) - base);
                const auto to = static_cast<std::size_t>(document.lineIndex(line + 1) - base);
                ColourLine(bytes.substr(from, to - from), *rules, spans);
                for (const LabelSpan& span : spans) {
                    if (span.end > span.start)
                        mark |= span.colour == LabelColour::Error ? kMarkError : span.colour == LabelColour::Info ? kMarkInfo : 0;
                }
            }
        }
    };

    if (!needles.empty() || visit) {
        const std::shared_ptr<const Database> database =
            tuning.plainSearch || needles.empty() ? nullptr : databaseOf(needles);
        thread_local Scratch scratch;
        const bool scans = database && hs_alloc_scratch(database->database, &scratch.scratch) == HS_SUCCESS;
        std::optional<PlainSearch> plain;
        auto markBlock = [&](LineNumber blockFirst, LineNumber blockEnd, std::string_view bytes) {
            if (cancel && cancel->load(std::memory_order_relaxed))
                return false;
            std::uint8_t* blockMarks = marks.data() + (blockFirst - first).value();
            if (needles.empty())
                return (*visit)(blockFirst, blockEnd, bytes, blockMarks);
            // The scanner takes at most 4 GiB at once; a longer block is searched.
            if (scans && bytes.size() <= std::numeric_limits<unsigned>::max()) {
                BlockLines blockLines(document, blockFirst, blockEnd, document.lineIndex(blockFirst), blockMarks);
                ScanContext context{database.get(), &blockLines};
                if (hs_scan(database->database, bytes.data(), static_cast<unsigned>(bytes.size()), 0, scratch.scratch,
                            onMatch, &context) == HS_SUCCESS) {
                    settle(blockFirst, blockEnd, bytes);
                    return !visit || (*visit)(blockFirst, blockEnd, bytes, blockMarks);
                }
            }
            if (!plain)
                plain.emplace(needles);
            plain->markBlock(document, blockFirst, blockEnd, bytes, blockMarks);
            settle(blockFirst, blockEnd, bytes);
            return !visit || (*visit)(blockFirst, blockEnd, bytes, blockMarks);
        };
        const auto longLine = static_cast<ByteOffset>(std::max<std::size_t>(tuning.longLine, 1));
        if (document.longestLine() + 2 <= longLine) {
            document.forEachLineBlock(first, lines, tuning.blockBytes, markBlock);
        } else {
            // Lines too long to be read whole are scanned in windows; the stretches of lines
            // between them go by blocks as usual.
            std::size_t overlap = 0;
            for (const Needle& needle : needles)
                overlap = std::max(overlap, needle.text.size() - 1);
            const std::size_t window = std::max<std::size_t>(tuning.longLine, 2 * overlap + 2);
            OccurrenceScan scan(needles, scans ? database.get() : nullptr, scans ? scratch.scratch : nullptr);
            for (LineNumber line = first; line < lines;) {
                LineNumber stretchEnd = line;
                while (stretchEnd < lines && document.lineIndex(stretchEnd + 1) - document.lineIndex(stretchEnd) <= longLine)
                    ++stretchEnd;
                if (stretchEnd > line && !document.forEachLineBlock(line, stretchEnd, tuning.blockBytes, markBlock))
                    break;
                if (stretchEnd >= lines)
                    break;
                std::uint8_t& mark = marks[static_cast<std::size_t>(stretchEnd - first)];
                if (!needles.empty() && !markLongLine(document, stretchEnd, scan, window, overlap, cancel, mark))
                    break;
                if (visit) {
                    // Only the head of a line this long is handed on.
                    const ByteOffset start = document.lineIndex(stretchEnd);
                    const TextSlice head = document.slice(start, start + kVisitedHead);
                    if (!(*visit)(stretchEnd, stretchEnd + 1, head.view(), &mark))
                        break;
                }
                line = stretchEnd + 1;
            }
        }
    }

    return marks;
}

} // namespace

std::vector<std::uint8_t> MarkLines(const LineSource& document, LineNumber first,
                                    const ColourRules* rules, std::string_view pattern,
                                    CaseFolding findFolding, const std::atomic<bool>* cancel,
                                    const MarkLinesTuning& tuning)
{
    return markRange(document, first, EndLine(document.lineCount()), rules, pattern, findFolding, cancel, tuning,
                     nullptr);
}

bool MarkLineBlocks(const LineSource& document, LineNumber first, LineNumber end, const ColourRules* rules,
                    const MarkedBlockVisit& visit, const std::atomic<bool>* cancel, const MarkLinesTuning& tuning)
{
    // A stretch of lines at a time, so that the marks held stay few whatever the log's length.
    constexpr std::int64_t kStretch = std::int64_t{1} << 18;
    end = std::min(end, EndLine(document.lineCount()));
    bool stopped = false;
    const MarkedBlockVisit guarded = [&](LineNumber blockFirst, LineNumber blockEnd, std::string_view bytes,
                                         const std::uint8_t* marks) {
        stopped = !visit(blockFirst, blockEnd, bytes, marks);
        return !stopped;
    };
    for (LineNumber from = std::max<LineNumber>(first, 0); from < end && !stopped; from += kStretch) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return false;
        markRange(document, from, std::min(end, from + kStretch), rules, {}, CaseFolding::Windows1252, cancel, tuning,
                  &guarded);
    }
    return !stopped && !(cancel && cancel->load(std::memory_order_relaxed));
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
        if (from >= EndLine(lines))
            break;
        std::uint8_t mark = 0;
        for (LineNumber line = from; line < std::min(to, EndLine(lines)); ++line)
            mark |= lineMarks[static_cast<std::size_t>(line)];
        result[static_cast<std::size_t>(row)] = mark;
    }
    return result;
}

std::vector<RowShare> SharesPerRow(const std::vector<std::uint8_t>& lineMarks, int rows)
{
    std::vector<RowShare> result(static_cast<std::size_t>(std::max(rows, 0)));
    const auto lines = static_cast<LineCount>(lineMarks.size());
    if (rows <= 0 || lines == 0)
        return result;
    for (int row = 0; row < rows; ++row) {
        const LineNumber from = LineOfRow(row, rows, lines);
        const LineNumber to = std::min(std::max(from + 1, LineOfRow(row + 1, rows, lines)), EndLine(lines));
        std::int64_t errors = 0;
        std::int64_t infos = 0;
        RowShare& share = result[static_cast<std::size_t>(row)];
        for (LineNumber line = from; line < to; ++line) {
            const std::uint8_t mark = lineMarks[static_cast<std::size_t>(line)];
            errors += (mark & kMarkError) ? 1 : 0;
            infos += (mark & kMarkInfo) ? 1 : 0;
            share.found |= (mark & kMarkFound) != 0;
        }
        const auto count = static_cast<float>((to - from).value());
        share.error = static_cast<float>(errors) / count;
        share.info = static_cast<float>(infos) / count;
    }
    return result;
}

LineNumber LineOfRow(int row, int rows, LineCount lines)
{
    if (rows <= 0 || lines <= 0)
        return 0;
    // No overflow: lines stay below 2^47 and rows below 2^16.
    return static_cast<std::int64_t>(row) * lines.value() / rows;
}

} // namespace tlg
