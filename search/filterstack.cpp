#include "search/filterstack.h"

#include "core/errors.h"
#include "core/faststrings.h"
#include "search/casefolding.h"
#include "search/linefilter.h"
#include "search/textsearch.h"

#include <hs/hs.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>

namespace tlg {

namespace {

constexpr std::size_t kWordBits = 64;

std::size_t wordsFor(LineCount lines)
{
    return static_cast<std::size_t>((lines.value() + 63) / 64);
}

void setBit(std::vector<std::uint64_t>& bits, std::int64_t line, bool on)
{
    const std::uint64_t mask = std::uint64_t{1} << (line % 64);
    std::uint64_t& word = bits[static_cast<std::size_t>(line / 64)];
    word = on ? word | mask : word & ~mask;
}

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

// Whether Vectorscan, scanning a block of lines whose breaks are all LF with ^ and $ at each
// line's ends, finds a match ending in every line that PCRE2 finds one in on its own, and
// where it does, means the same by it: no sequence that Vectorscan reads otherwise, or that
// sees past a line's ends (\A \z \Z \G, option settings other than (?i)), or that depends on
// what a character is (in UTF-8 logs the pattern must be ASCII without escapes of other
// bytes, and the lines holding other bytes are matched by PCRE2 after the scan). Like the
// filter's own test of its block scan, it reads the pattern's text and errs on the safe side.
bool vectorscanMeansTheSame(std::string_view pattern, bool utf8)
{
    for (const std::string_view unread : {"\\A", "\\Z", "\\z", "\\G", "\\K", "\\g", "\\k", "\\p", "\\P", "\\X",
                                          "\\C", "\\N", "\\R", "\\Q", "\\E", "\\x", "\\o", "\\c", "\\e", "\\h",
                                          "\\H", "\\v", "\\V", "[:", "[.", "[="}) {
        if (contains(pattern, unread))
            return false;
    }
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        const auto byte = static_cast<unsigned char>(pattern[at]);
        if (utf8 && byte >= 0x80)
            return false;
        if (byte == '\\' && at + 1 < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[at + 1])))
            return false; // a back reference or an octal byte
        if (byte == '\\')
            ++at;
    }
    // Only (?: and (?i) or (?i: are read alike.
    for (std::size_t at = pattern.find("(?"); at != std::string_view::npos; at = pattern.find("(?", at + 2)) {
        const std::string_view rest = pattern.substr(at + 2);
        if (!rest.starts_with(":") && !rest.starts_with("i)") && !rest.starts_with("i:"))
            return false;
    }
    return true;
}

// Whether a match of the pattern may hold a line break, so that a match found over a block of
// lines may run from one line into the next: then the line a match ends in is looked at again
// on its own. Errs on the side of yes.
bool mayMatchBreak(std::string_view pattern)
{
    for (const std::string_view breaking : {"\\s", "\\n", "\\r", "\\W", "\\D", "\\H", "\\v", "\\R", "\\x", "\\o",
                                            "\\c", "[^", "(?s", "[:"}) {
        if (contains(pattern, breaking))
            return true;
    }
    bool inClass = false;
    bool classHasEscape = false;
    bool classHasRange = false;
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        const auto byte = static_cast<unsigned char>(pattern[at]);
        if (byte < 0x20 || byte == 0x7F)
            return true; // a control byte typed in, or a range from one
        if (byte == '\\') {
            classHasEscape = classHasEscape || inClass;
            ++at;
        } else if (byte == '[' && !inClass) {
            inClass = true;
            classHasEscape = classHasRange = false;
        } else if (byte == '-' && inClass) {
            classHasRange = true;
        } else if (byte == ']' && inClass) {
            // A range from an escaped byte (\t-~) may take in the breaks.
            if (classHasEscape && classHasRange)
                return true;
            inClass = false;
        }
    }
    return inClass; // unclosed: PCRE2 refused it already
}

// Whether a regular expression is plain text: printable ASCII without a byte that means
// something to PCRE2. Matching case, it matches where the text is found.
bool literalExpression(std::string_view pattern)
{
    return std::all_of(pattern.begin(), pattern.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && std::string_view("\\^$.|?*+()[]{}").find(c) == std::string_view::npos;
    });
}

// The content of a line (its bytes without the break).
std::string_view withoutBreak(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

bool hasWideByte(std::string_view bytes)
{
    std::size_t at = 0;
    // 32 bytes a step over a block of lines, which mostly has none.
    for (; at + 32 <= bytes.size(); at += 32) {
        std::uint64_t words[4];
        std::memcpy(words, bytes.data() + at, 32);
        if ((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ULL)
            return true;
    }
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        if (word & 0x8080808080808080ULL)
            return true;
    }
    for (; at < bytes.size(); ++at) {
        if (static_cast<unsigned char>(bytes[at]) >= 0x80)
            return true;
    }
    return false;
}

} // namespace

struct FilterStack::Row {
    std::unique_ptr<LineFilter> filter; // null for an invalid or an empty pattern
    std::string error;
    bool together = false;     // in the Vectorscan database
    bool plain = false;        // a plain text looked for over whole blocks, as find looks for it
    bool wideByPcre = false;   // the lines holding bytes from 0x80 are matched by PCRE2
    bool confirmAlone = false; // a match over a block may run across a break
    std::string expression;    // for Vectorscan
    unsigned flags = 0;
};

struct FilterStack::Database {
    hs_database_t* database = nullptr;
    ~Database() { hs_free_database(database); }
};

namespace {

struct Scratch {
    hs_scratch_t* scratch = nullptr;
    ~Scratch() { hs_free_scratch(scratch); }
};

// Whether Vectorscan takes the expression on its own, and never matches the empty text (an
// empty match would be reported at every place it holds, or not at all).
bool vectorscanTakes(const std::string& expression, unsigned flags)
{
    hs_database_t* database = nullptr;
    hs_compile_error_t* error = nullptr;
    if (hs_compile(expression.c_str(), flags, HS_MODE_BLOCK, nullptr, &database, &error) != HS_SUCCESS) {
        hs_free_compile_error(error);
        return false;
    }
    hs_free_database(database);
    hs_expr_info_t* info = nullptr;
    if (hs_expression_info(expression.c_str(), flags, &info, &error) != HS_SUCCESS) {
        hs_free_compile_error(error);
        return false;
    }
    const bool nonEmpty = info->min_width > 0;
    std::free(info);
    return nonEmpty;
}

} // namespace

FilterStack::FilterStack(std::vector<FilterRow> rows, Encoding encoding, FilterStackOptions options)
    : m_rows(std::move(rows)), m_encoding(encoding), m_options(options)
{
    static const bool vectorscanRuns = hs_valid_platform() == HS_SUCCESS;
    const bool utf8 = HeldEncoding(encoding) == Encoding::Utf8;
    std::vector<const char*> expressions;
    std::vector<unsigned> flags;
    std::vector<unsigned> ids;
    for (std::size_t index = 0; index < m_rows.size(); ++index) {
        const FilterRow& source = m_rows[index];
        auto row = std::make_unique<Row>();
        if (!source.pattern.empty()) {
            LineFilterOptions how;
            how.matchCase = source.matchCase;
            how.regex = source.regex;
            how.encoding = encoding;
            how.longLine = options.longLine;
            try {
                row->filter = std::make_unique<LineFilter>(source.pattern, how);
            } catch (const Failure& failure) {
                row->error = failure.what();
            }
        }
        if (row->filter && options.vectorscan) {
            if (!source.regex || (source.matchCase && literalExpression(source.pattern))) {
                // A line's content holds no break, so a text with one is found in no line. One
                // without is found faster by the plain search than by Vectorscan: that reports
                // every occurrence, while the search skips to the next line after one.
                row->plain = source.pattern.find_first_of("\r\n") == std::string::npos;
            } else if (vectorscanRuns && vectorscanMeansTheSame(source.pattern, utf8)) {
                row->expression = source.pattern;
                row->flags = HS_FLAG_MULTILINE | (source.matchCase ? 0u : HS_FLAG_CASELESS);
                row->together = vectorscanTakes(row->expression, row->flags);
                row->confirmAlone = mayMatchBreak(source.pattern);
                row->wideByPcre = utf8;
            }
        }
        if (row->together) {
            expressions.push_back(row->expression.c_str());
            flags.push_back(row->flags);
            ids.push_back(static_cast<unsigned>(index));
        }
        m_compiled.push_back(std::move(row));
    }
    if (expressions.empty())
        return;
    m_database = std::make_unique<Database>();
    hs_compile_error_t* error = nullptr;
    if (hs_compile_multi(expressions.data(), flags.data(), ids.data(), static_cast<unsigned>(expressions.size()),
                         HS_MODE_BLOCK, nullptr, &m_database->database, &error) != HS_SUCCESS) {
        // Each was taken alone: too large together. They are matched line by line then.
        hs_free_compile_error(error);
        m_database.reset();
        for (const auto& row : m_compiled)
            row->together = false;
    }
}

FilterStack::~FilterStack() = default;

const std::string& FilterStack::error(std::size_t row) const
{
    return m_compiled.at(row)->error;
}

bool FilterStack::scannedTogether(std::size_t row) const
{
    const Row& compiled = *m_compiled.at(row);
    return compiled.together || compiled.plain;
}

// One pass over a document's lines, filling the matches' bits from a line on.
class FilterStack::Pass {
public:
    // With `settleOnly`, matches only the rows other than the plain ones, on the lines it marks.
    Pass(const FilterStack& stack, FilterMatches& matches, hs_scratch_t* scratch,
         const std::vector<std::uint64_t>* settleOnly)
        : m_stack(stack), m_matches(matches), m_document(*matches.m_document), m_scratch(scratch),
          m_settleOnly(settleOnly)
    {
        for (std::size_t row = 0; row < stack.m_compiled.size(); ++row) {
            const Row& compiled = *stack.m_compiled[row];
            m_matchers.push_back(compiled.filter ? std::make_unique<LineFilter::Matcher>(*compiled.filter) : nullptr);
            if (!compiled.filter)
                continue;
            if (compiled.plain)
                m_plain.push_back(row);
            else if (!compiled.together)
                m_byLine.push_back(row);
            else if (compiled.wideByPcre)
                m_wideByPcre.push_back(row);
            m_together = m_together || compiled.together;
        }
        for (std::size_t row = 0; row < stack.m_compiled.size(); ++row) {
            m_confirmAlone.push_back(stack.m_compiled[row]->confirmAlone);
            const FilterRow& source = stack.m_rows[row];
            m_searches.push_back(TextSearch::forLog(source.pattern, stack.m_encoding, source.matchCase));
        }
        for (auto& bits : matches.m_bits)
            m_rowBits.push_back(bits.data());
    }

    // A block of whole lines, or one piece of a long line.
    void visit(const LineBlock& block)
    {
        if (block.startsLine && block.endsLine) {
            wholeLines(block);
            return;
        }
        if (m_settleOnly)
            return; // a long line is always matched whole
        if (block.startsLine) {
            m_head.clear();
            m_carry.assign(m_stack.m_compiled.size(), std::string());
            m_found.assign(m_stack.m_compiled.size(), false);
        }
        pieceOfLongLine(block);
    }

private:
    void set(std::size_t row, LineNumber line, bool on) { setBit(m_matches.m_bits[row], line.value(), on); }
    // A match's bit, set where it lies: the scan's callbacks come tens of millions of times a pass.
    void mark(std::size_t row, std::int64_t line)
    {
        m_rowBits[row][static_cast<std::size_t>(line) / kWordBits] |= std::uint64_t{1} << (line % kWordBits);
    }

    void wholeLines(const LineBlock& block)
    {
        const std::string_view bytes = block.bytes;
        const auto count = static_cast<std::size_t>((block.end - block.first).value());
        // Where each line starts in the block, and where its content ends.
        m_starts.resize(count + 1);
        m_offsets.resize(count);
        m_document.lineStarts(block.first, block.end, m_offsets.data());
        const ByteOffset* offsets = m_offsets.data();
        std::size_t* starts = m_starts.data();
        for (std::size_t i = 0; i < count; ++i)
            starts[i] = static_cast<std::size_t>((offsets[i] - block.offset).value());
        m_starts[count] = bytes.size();
        auto content = [&](std::size_t i) {
            return withoutBreak(bytes.substr(m_starts[i], m_starts[i + 1] - m_starts[i]));
        };
        if (!m_settleOnly) {
            for (const std::size_t row : m_plain)
                findPlain(row, block, count);
        }
        const std::vector<std::uint32_t>* lines = linesToMatch(block.first, count);
        if (lines && lines->empty())
            return;
        if (m_together)
            scanTogether(block, count, lines, content);
        // The lines holding bytes from 0x80 are told by PCRE2: looked for in the block first
        // when all its lines are matched, else in each line matched.
        const bool wide = !m_wideByPcre.empty() && (lines || hasWideByte(bytes));
        const std::size_t matched = lines ? lines->size() : count;
        for (std::size_t at = 0; at < matched; ++at) {
            const std::size_t i = lines ? (*lines)[at] : at;
            const LineNumber line = block.first + static_cast<std::int64_t>(i);
            if (m_byLine.empty() && !wide)
                break;
            const std::string_view text = content(i);
            for (const std::size_t row : m_byLine)
                set(row, line, m_matchers[row]->matches(text));
            if (wide && hasWideByte(text)) {
                for (const std::size_t row : m_wideByPcre)
                    set(row, line, m_matchers[row]->matches(text));
            }
        }
    }

    // A plain row over a block: each occurrence marks its line, and the search goes on from the
    // next line. The text holds no break, so an occurrence lies in one line's content.
    void findPlain(std::size_t row, const LineBlock& block, std::size_t count)
    {
        const TextSearch& search = m_searches[row];
        std::size_t line = 0;
        while (line < count) {
            const ByteOffset at = FindOccurrenceFrom(search, block.bytes, static_cast<std::int64_t>(m_starts[line]));
            if (at < 0)
                return;
            const auto offset = static_cast<std::size_t>(at.value());
            while (m_starts[line + 1] <= offset)
                ++line;
            mark(row, block.first.value() + static_cast<std::int64_t>(line));
            ++line;
        }
    }

    // The lines of the block (by their place in it) that the rows other than the plain ones
    // are matched on: all (null), those the plain rows that decide leave shown (marking the
    // others unsettled), or those left unsettled before.
    const std::vector<std::uint32_t>* linesToMatch(LineNumber first, std::size_t count)
    {
        const auto bitOf = [](const std::uint64_t* bits, std::int64_t line) {
            return (bits[static_cast<std::size_t>(line) / kWordBits] >> (line % kWordBits)) & 1;
        };
        m_chosen.clear();
        if (m_settleOnly) {
            for (std::size_t i = 0; i < count; ++i) {
                if (bitOf(m_settleOnly->data(), first.value() + static_cast<std::int64_t>(i)))
                    m_chosen.push_back(static_cast<std::uint32_t>(i));
            }
            return &m_chosen;
        }
        if (m_matches.m_deciders.empty())
            return nullptr;
        // A word of 64 lines at a time: the lines some deciding row hides.
        std::uint64_t* unsettled = m_matches.m_unsettled.data();
        for (std::size_t i = 0; i < count;) {
            const auto line = static_cast<std::size_t>(first.value()) + i;
            const std::size_t word = line / kWordBits;
            const std::size_t bit = line % kWordBits;
            const std::size_t lines = std::min(kWordBits - bit, count - i);
            const std::uint64_t here = (lines == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << lines) - 1) << bit;
            std::uint64_t hidden = 0;
            for (const FilterMatches::Decider& decider : m_matches.m_deciders) {
                const std::uint64_t bits = m_rowBits[decider.row][word];
                hidden |= decider.kind == FilterRow::Hide ? bits : ~bits;
            }
            unsettled[word] |= hidden & here;
            for (std::uint64_t shown = ~hidden & here; shown != 0; shown &= shown - 1)
                m_chosen.push_back(static_cast<std::uint32_t>(i + static_cast<std::size_t>(std::countr_zero(shown)) - bit));
            i += lines;
        }
        return m_chosen.size() == count ? nullptr : &m_chosen;
    }

    template <class Content>
    void scanTogether(const LineBlock& block, std::size_t count, const std::vector<std::uint32_t>* lines,
                      const Content& content)
    {
        // The lines as Vectorscan sees them: each break a single LF, so that ^ and $ hold at
        // every line's ends. A block without CR, all of whose lines are matched, is scanned
        // where it lies; otherwise the lines are copied together.
        std::string_view text = block.bytes;
        m_lineStarts = &m_starts;
        m_scanLines = lines;
        if (lines || std::memchr(text.data(), '\r', text.size())) {
            const std::size_t scanned = lines ? lines->size() : count;
            m_scanStarts.resize(scanned + 1);
            m_lineStarts = &m_scanStarts;
            m_normal.clear();
            for (std::size_t at = 0; at < scanned; ++at) {
                const std::size_t i = lines ? (*lines)[at] : at;
                m_scanStarts[at] = m_normal.size();
                m_normal += content(i);
                if (m_starts[i + 1] > m_starts[i] + content(i).size())
                    m_normal += '\n';
            }
            m_scanStarts[scanned] = m_normal.size();
            text = m_normal;
        }
        m_scanEndsWithBreak = !text.empty() && text.back() == '\n';
        m_confirm.assign(count, false);
        m_blockFirst = block.first.value();
        m_cursor = 0;
        hs_scan(m_stack.m_database->database, text.data(), static_cast<unsigned>(text.size()), 0, m_scratch,
                &Pass::onMatch, this);
        // A row whose match may run across a break is told for those lines by the line alone.
        for (std::size_t i = 0; i < count; ++i) {
            if (!m_confirm[i])
                continue;
            const std::string_view line = content(i);
            m_aloneRows.clear();
            hs_scan(m_stack.m_database->database, line.data(), static_cast<unsigned>(line.size()), 0, m_scratch,
                    &Pass::onLineMatch, this);
            for (std::size_t row = 0; row < m_stack.m_compiled.size(); ++row) {
                if (m_stack.m_compiled[row]->confirmAlone)
                    set(row, block.first + static_cast<std::int64_t>(i),
                        std::find(m_aloneRows.begin(), m_aloneRows.end(), row) != m_aloneRows.end());
            }
        }
    }

    static int onMatch(unsigned int id, unsigned long long, unsigned long long to, unsigned int, void* context)
    {
        auto* pass = static_cast<Pass*>(context);
        // The line whose content or end the match ends at: matches come in the order of their
        // ends, so the line of the last one is tried first.
        const auto& starts = *pass->m_lineStarts;
        std::size_t line = pass->m_cursor;
        // Most often in that line or one of the next few (a line holds a few matches at most).
        for (int step = 0; step < 8 && to >= starts[line + 1] && line + 2 < starts.size(); ++step)
            ++line;
        if (to < starts[line] || to >= starts[line + 1]) {
            line = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), to) - starts.begin()) - 1;
            if (line + 1 >= starts.size()) {
                // At the block's end: the last line's content when the text ends there without
                // a break; otherwise the match holds that break, and ends no line's content.
                if (pass->m_scanEndsWithBreak || line == 0)
                    return 0;
                --line;
            }
        }
        pass->m_cursor = line;
        if (pass->m_scanLines)
            line = (*pass->m_scanLines)[line];
        if (pass->m_confirmAlone[id])
            pass->m_confirm[line] = true;
        else
            pass->mark(id, pass->m_blockFirst + static_cast<std::int64_t>(line));
        return 0;
    }

    static int onLineMatch(unsigned int id, unsigned long long, unsigned long long, unsigned int, void* context)
    {
        auto* pass = static_cast<Pass*>(context);
        pass->m_aloneRows.push_back(id);
        return 0;
    }

    // A line longer than a block, a piece at a time: a regular expression is matched on its
    // first longLine bytes, a plain text looked for in the whole of it.
    void pieceOfLongLine(const LineBlock& block)
    {
        std::string_view piece = block.bytes;
        if (block.endsLine)
            piece = withoutBreak(piece);
        const auto longLine = static_cast<std::size_t>(std::max<std::int64_t>(m_stack.m_options.longLine, 1));
        m_head.append(block.bytes.substr(0, longLine - std::min(longLine, m_head.size())));
        for (std::size_t row = 0; row < m_stack.m_compiled.size(); ++row) {
            const Row& compiled = *m_stack.m_compiled[row];
            if (!compiled.filter || m_stack.m_rows[row].regex || m_found[row])
                continue;
            std::string& carry = m_carry[row];
            carry.append(piece);
            m_found[row] = m_matchers[row]->matches(carry);
            const std::size_t keep = m_stack.m_rows[row].pattern.size() - 1;
            carry.erase(0, carry.size() - std::min(carry.size(), keep));
        }
        if (!block.endsLine)
            return;
        // The head's break, or a CR the piece before ended with.
        while (!m_head.empty() && (m_head.back() == '\n' || m_head.back() == '\r'))
            m_head.pop_back();
        for (std::size_t row = 0; row < m_stack.m_compiled.size(); ++row) {
            if (!m_stack.m_compiled[row]->filter)
                continue;
            set(row, block.first, m_stack.m_rows[row].regex ? m_matchers[row]->matches(m_head) : bool(m_found[row]));
        }
    }

    const FilterStack& m_stack;
    FilterMatches& m_matches;
    const LineSource& m_document;
    hs_scratch_t* m_scratch;
    const std::vector<std::uint64_t>* m_settleOnly;
    std::vector<std::unique_ptr<LineFilter::Matcher>> m_matchers;
    std::vector<std::size_t> m_byLine;     // rows matched line by line
    std::vector<std::size_t> m_plain;      // plain rows looked for over whole blocks
    std::vector<TextSearch> m_searches;    // by row
    std::vector<std::size_t> m_wideByPcre; // scanned rows whose lines with wide bytes PCRE2 tells
    bool m_together = false;
    std::vector<char> m_confirmAlone; // by row

    std::vector<ByteOffset> m_offsets; // the lines' starts in the log
    std::vector<std::size_t> m_starts;  // and in the block
    std::vector<std::size_t> m_scanStarts;               // the lines' starts in m_normal
    const std::vector<std::size_t>* m_lineStarts = nullptr; // those the scanned text has
    const std::vector<std::uint32_t>* m_scanLines = nullptr; // its lines' places in the block, when not all
    std::vector<std::uint32_t> m_chosen;
    std::string m_normal;
    std::vector<bool> m_confirm;
    std::vector<std::uint64_t*> m_rowBits; // by row
    std::int64_t m_blockFirst = 0;
    std::size_t m_cursor = 0;
    bool m_scanEndsWithBreak = false;
    std::vector<unsigned> m_aloneRows;

    std::string m_head;
    std::vector<std::string> m_carry;
    std::vector<bool> m_found;
};

std::vector<FilterMatches::Decider> FilterStack::decidersFor(const std::vector<FilterRow>* switched) const
{
    std::vector<FilterMatches::Decider> deciders;
    if (!switched || switched->size() != m_rows.size())
        return deciders;
    bool othersToMatch = false;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        const Row& compiled = *m_compiled[row];
        if (compiled.filter && compiled.plain && (*switched)[row].on)
            deciders.push_back({row, (*switched)[row].kind});
        othersToMatch = othersToMatch || (compiled.filter && !compiled.plain);
    }
    if (!othersToMatch)
        deciders.clear();
    return deciders;
}

FilterMatchesPtr FilterStack::run(LinesPtr document, const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done,
                                  const std::vector<FilterRow>* switched, Executor& executor) const
{
    auto matches = std::shared_ptr<FilterMatches>(new FilterMatches());
    matches->m_document = std::move(document);
    matches->m_lines = matches->m_document->lineCount();
    const std::size_t words = wordsFor(matches->m_lines);
    matches->m_bits.assign(m_rows.size(), std::vector<std::uint64_t>(words));
    matches->m_deciders = decidersFor(switched);
    if (!matches->m_deciders.empty())
        matches->m_unsettled.assign(words, 0);
    return pass(std::move(matches), 0, cancel, done, executor);
}

FilterMatchesPtr FilterStack::settle(const FilterMatches& matches, const std::atomic<bool>& cancel,
                                     std::atomic<std::int64_t>& done, Executor& executor) const
{
    if (matches.rowCount() != m_rows.size())
        return run(matches.m_document, cancel, done, nullptr, executor);
    auto settled = std::shared_ptr<FilterMatches>(new FilterMatches(matches));
    if (matches.settled())
        return settled;
    settled->m_unsettled.clear();
    settled->m_deciders.clear();
    settled->m_applies.clear();
    const auto first = std::find_if(matches.m_unsettled.begin(), matches.m_unsettled.end(),
                                    [](std::uint64_t word) { return word != 0; });
    const auto from = static_cast<std::int64_t>(first - matches.m_unsettled.begin()) * 64;
    return pass(std::move(settled), std::min<LineNumber>(from, EndLine(matches.m_lines)), cancel, done, executor,
                &matches.m_unsettled);
}

FilterMatchesPtr FilterStack::grow(const FilterMatches& earlier, LinesPtr grown, const std::atomic<bool>& cancel,
                                   std::atomic<std::int64_t>& done, const std::vector<FilterRow>* switched,
                                   Executor& executor) const
{
    const LineSource& before = *earlier.m_document;
    if (earlier.rowCount() != m_rows.size() || !grown->grewFrom(before) ||
        (!earlier.settled() && (!switched || !earlier.knownUnder(*switched))))
        return run(std::move(grown), cancel, done, switched, executor);
    // A last line without its break may have grown, and one ended by a CR may have had its
    // break grow to CR LF.
    const bool lastMayGrow = before.size() > 0 && before.slice(before.size() - 1, before.size()).view() != "\n";
    const LineNumber from = EndLine(before.lineCount()) - (lastMayGrow ? 1 : 0);
    auto matches = std::shared_ptr<FilterMatches>(new FilterMatches());
    matches->m_document = std::move(grown);
    matches->m_lines = matches->m_document->lineCount();
    matches->m_changedFrom = std::max<LineNumber>(from, 0);
    const std::size_t words = wordsFor(matches->m_lines);
    const std::size_t keptWords = static_cast<std::size_t>(matches->m_changedFrom.value() / 64);
    for (const auto& bits : earlier.m_bits) {
        std::vector<std::uint64_t> copy(words);
        std::copy_n(bits.begin(), std::min(keptWords + 1, bits.size()), copy.begin());
        if (keptWords < words) // the bits from the line looked at again on are cleared
            copy[keptWords] &= (std::uint64_t{1} << (matches->m_changedFrom.value() % 64)) - 1;
        matches->m_bits.push_back(std::move(copy));
    }
    if (!earlier.settled()) {
        // The new lines are left unmatched by the rows that left earlier's.
        matches->m_deciders = earlier.m_deciders;
        matches->m_unsettled.assign(words, 0);
        std::copy_n(earlier.m_unsettled.begin(), std::min(keptWords + 1, earlier.m_unsettled.size()),
                    matches->m_unsettled.begin());
        if (keptWords < words)
            matches->m_unsettled[keptWords] &= (std::uint64_t{1} << (matches->m_changedFrom.value() % 64)) - 1;
    } else {
        matches->m_deciders = decidersFor(switched);
        if (!matches->m_deciders.empty())
            matches->m_unsettled.assign(words, 0);
    }
    const LineNumber changedFrom = matches->m_changedFrom;
    return pass(std::move(matches), changedFrom, cancel, done, executor);
}

FilterMatchesPtr FilterStack::pass(std::shared_ptr<FilterMatches> matches, LineNumber from,
                                   const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done,
                                   Executor& executor, const std::vector<std::uint64_t>* unsettled) const
{
    matches->m_changedFrom = from;
    for (const auto& row : m_compiled)
        matches->m_applies.push_back(row->filter != nullptr);
    const LineSource& document = *matches->m_document;
    const LineNumber end = EndLine(matches->m_lines);
    // A large stretch is split between threads at lines that start a word of bits, so that no
    // two threads write one word.
    std::vector<LineNumber> splits{from};
    const ByteOffset start = document.lineIndex(from);
    const std::int64_t parts =
        std::clamp<std::int64_t>((document.size() - start).value() / std::max<std::int64_t>(m_options.threadPart, 1), 1, std::max(1, m_options.threads));
    for (std::int64_t part = 1; part < parts; ++part) {
        const LineNumber at = document.lineFromOffset(start + (document.size() - start) * part / parts).value() / 64 * 64;
        if (at > splits.back() && at < end)
            splits.push_back(at);
    }
    splits.push_back(end);
    done.store(start.value(), std::memory_order_relaxed);
    std::atomic<bool> stopped{false};
    auto runPart = [&](std::size_t part) {
        Scratch scratch;
        if (m_database && hs_alloc_scratch(m_database->database, &scratch.scratch) != HS_SUCCESS)
            throw Failure("Out of memory");
        Pass pass(*this, *matches, scratch.scratch, unsettled);
        const auto chunk = static_cast<std::size_t>(std::max<std::int64_t>(m_options.block, 1));
        const bool finished = document.forEachLineBlock(splits[part], splits[part + 1], chunk, [&](const LineBlock& block) {
            if (cancel.load(std::memory_order_relaxed) || stopped.load(std::memory_order_relaxed))
                return false;
            pass.visit(block);
            done.fetch_add(static_cast<std::int64_t>(block.bytes.size()), std::memory_order_relaxed);
            return true;
        });
        if (!finished)
            stopped.store(true);
    };
    // The caller matches parts too, so a pass never waits for a worker busy elsewhere. A part
    // that fails stops the others at their next block; its failure is thrown here.
    executor.forEach(splits.size() - 1, static_cast<unsigned>(splits.size() - 2), Executor::Priority::User,
                     [&](std::size_t part) {
                         try {
                             runPart(part);
                         } catch (...) {
                             stopped.store(true);
                             throw;
                         }
                     });
    if (stopped.load() || cancel.load(std::memory_order_relaxed))
        return nullptr;
    done.store(document.size().value(), std::memory_order_relaxed);
    if (std::all_of(matches->m_unsettled.begin(), matches->m_unsettled.end(), [](std::uint64_t word) { return word == 0; })) {
        matches->m_unsettled.clear();
        matches->m_deciders.clear();
    }
    return matches;
}

bool FilterMatches::knownUnder(const std::vector<FilterRow>& rows) const
{
    return settled() || std::all_of(m_deciders.begin(), m_deciders.end(), [&rows](const Decider& decider) {
               return decider.row < rows.size() && rows[decider.row].on && rows[decider.row].kind == decider.kind;
           });
}

bool FilterMatches::matches(std::size_t row, LineNumber line) const
{
    if (line < 0 || line >= EndLine(m_lines))
        return false;
    return (m_bits.at(row)[static_cast<std::size_t>(line.value() / 64)] >> (line.value() % 64)) & 1;
}

LineCount FilterMatches::matchCount(std::size_t row) const
{
    std::int64_t count = 0;
    for (const std::uint64_t word : m_bits.at(row))
        count += std::popcount(word);
    return count;
}

template <class Visit>
void FilterMatches::forEachShownRange(const std::vector<FilterRow>& rows, LineNumber from, const Visit& visit) const
{
    if (rows.size() != m_bits.size() || !knownUnder(rows))
        throw Failure("Assertion failure");
    std::vector<const std::uint64_t*> showOnly;
    std::vector<const std::uint64_t*> hide;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (!rows[row].on || !m_applies[row])
            continue;
        (rows[row].kind == FilterRow::ShowOnly ? showOnly : hide).push_back(m_bits[row].data());
    }
    const std::int64_t end = m_lines.value();
    from = std::clamp<LineNumber>(from, 0, end);
    if (showOnly.empty() && hide.empty()) {
        if (from < end)
            visit(KeptLines::Range{from, end});
        return;
    }
    const std::size_t words = wordsFor(m_lines);
    const std::size_t firstWord = static_cast<std::size_t>(from.value() / 64);
    std::int64_t runStart = -1;
    // The shown lines of a word: 64 lines at a time, a run of ones carried into the next word.
    for (std::size_t w = firstWord; w < words; ++w) {
        std::uint64_t shown = ~std::uint64_t{0};
        for (const std::uint64_t* bits : showOnly)
            shown &= bits[w];
        for (const std::uint64_t* bits : hide)
            shown &= ~bits[w];
        const std::int64_t base = static_cast<std::int64_t>(w * kWordBits);
        if (w == firstWord && base < from.value())
            shown &= ~std::uint64_t{0} << (from.value() - base);
        if (base + 64 > end)
            shown &= (std::uint64_t{1} << (end - base)) - 1;
        // A word of all ones goes on the run, and one of none ends it (or has none to end).
        if (shown == ~std::uint64_t{0}) {
            if (runStart < 0)
                runStart = base;
            continue;
        }
        if (shown == 0) {
            if (runStart >= 0) {
                visit(KeptLines::Range{runStart, base});
                runStart = -1;
            }
            continue;
        }
        int bit = 0;
        while (bit < 64) {
            const std::uint64_t rest = shown >> bit;
            if (runStart < 0) {
                if (rest == 0)
                    break;
                bit += std::countr_zero(rest);
                runStart = base + bit;
            } else {
                bit += std::countr_one(rest);
                if (bit >= 64)
                    break;
                visit(KeptLines::Range{runStart, base + bit});
                runStart = -1;
            }
        }
    }
    if (runStart >= 0)
        visit(KeptLines::Range{runStart, end});
}

std::vector<KeptLines::Range> FilterMatches::shownRanges(const std::vector<FilterRow>& rows, LineNumber from) const
{
    std::vector<KeptLines::Range> ranges;
    forEachShownRange(rows, from, [&ranges](KeptLines::Range range) { ranges.push_back(range); });
    return ranges;
}

KeptLinesPtr FilterMatches::shown(const std::vector<FilterRow>& rows) const
{
    // Straight from the bits into the runs, without a list of ranges between.
    KeptLines::Builder builder(m_document);
    forEachShownRange(rows, 0, [&builder](KeptLines::Range range) { builder.keep(range); });
    return builder.finish();
}

KeptLinesPtr FilterMatches::shownGrown(const KeptLines& earlier, const std::vector<FilterRow>& rows) const
{
    std::vector<LineNumber> lines;
    for (const KeptLines::Range& range : shownRanges(rows, m_changedFrom)) {
        for (LineNumber line = range.first; line < range.end; ++line)
            lines.push_back(line);
    }
    return earlier.grownTo(m_document, m_changedFrom, lines);
}

} // namespace tlg
