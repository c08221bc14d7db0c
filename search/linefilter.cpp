#include "search/linefilter.h"

#include "core/errors.h"
#include "search/textsearch.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cctype>

namespace tlg {

namespace {

// Whether a search over a block of whole lines, each line a match starts in then confirmed on
// its own, can never miss a line that matches alone. It cannot when every way the expression
// matches a line alone is also a way it matches at the same place inside the block, for the
// matcher tries them all: true when the expression's assertions judge a line's bytes alike
// whatever lines surround it (^ and $ in multi-line mode, \b, \B: a line break is no word
// byte, as the subject's ends are not) and nothing cuts its backtracking short. The block
// search then finds a match that starts at or before that line's, in that line or in one
// before it that is confirmed (or not) on its own, after which the search goes on from the
// next line. A match that lies wholly in one line's content is that line's own match.
// Look-arounds (which see the neighbouring lines), \A \Z \z \G \K, (?-m) and (?^) (which
// make ^ and $ see the block's ends), atomic groups, possessive quantifiers, backtracking
// verbs and (*...) settings, conditions and subroutine calls make the expression be matched
// line by line instead. The test reads the pattern's text and errs on the safe side: such a
// sequence anywhere, even escaped, quoted or in a class or a comment, counts.
bool blockScanFindsEveryLine(std::string_view pattern)
{
    for (const std::string_view unsafe : {"(?=", "(?!", "(?<=", "(?<!", "(*", "(?>", "(?R", "(?&", "(?P>", "(?+",
                                          "(?(", "(?C", "\\A", "\\Z", "\\z", "\\G", "\\K", "\\g"}) {
        if (pattern.find(unsafe) != std::string_view::npos)
            return false;
    }
    // Possessive quantifiers, also with blanks between (extended mode).
    std::string packed;
    for (const char c : pattern) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            packed += c;
    }
    for (const std::string_view possessive : {"++", "*+", "?+", "}+"}) {
        if (packed.find(possessive) != std::string::npos)
            return false;
    }
    // Option settings: (?^...) resets multi-line mode, (?-m...) and (?i-m) unset it; a
    // numbered subroutine call (?1) (?-1) is refused too.
    for (std::size_t at = pattern.find("(?"); at != std::string_view::npos; at = pattern.find("(?", at + 2)) {
        std::size_t end = at + 2;
        bool unsetting = false;
        bool unsetsMultiline = false;
        while (end < pattern.size() && (std::isalpha(static_cast<unsigned char>(pattern[end])) ||
                                        pattern[end] == '-' || pattern[end] == '^')) {
            unsetting = unsetting || pattern[end] == '-' || pattern[end] == '^';
            unsetsMultiline = unsetsMultiline || pattern[end] == '^' || (unsetting && pattern[end] == 'm');
            ++end;
        }
        if (unsetsMultiline)
            return false;
        std::size_t call = at + 2;
        if (call < pattern.size() && (pattern[call] == '-' || pattern[call] == '+'))
            ++call;
        if (call < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[call])))
            return false;
    }
    return true;
}

// A line's content within `bytes` (which start at the document's offset `base`), without its
// break.
std::string_view contentOf(const LineSource& document, LineNumber line, std::string_view bytes, ByteOffset base)
{
    const auto from = static_cast<std::size_t>(document.lineIndex(line) - base);
    auto to = std::min(bytes.size(), static_cast<std::size_t>(document.lineIndex(line + 1) - base));
    if (to > from && bytes[to - 1] == '\n')
        --to;
    if (to > from && bytes[to - 1] == '\r')
        --to;
    return bytes.substr(from, to - from);
}

} // namespace

struct LineFilter::Regex {
    pcre2_code* code = nullptr;
    ~Regex() { pcre2_code_free(code); }
};

// What one run of a regular expression needs of its own: the match data, and a JIT stack
// larger than the default 32 KiB, so that nested groups over long lines do not fail.
class LineFilter::MatchSpace {
public:
    explicit MatchSpace(const pcre2_code* code)
        : m_code(code), m_match(pcre2_match_data_create_from_pattern(code, nullptr)),
          m_context(pcre2_match_context_create(nullptr)),
          m_stack(pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr))
    {
        pcre2_jit_stack_assign(m_context, nullptr, m_stack);
        std::size_t jitSize = 0;
        m_jit = pcre2_pattern_info(code, PCRE2_INFO_JITSIZE, &jitSize) == 0 && jitSize > 0;
    }
    ~MatchSpace()
    {
        pcre2_jit_stack_free(m_stack);
        pcre2_match_context_free(m_context);
        pcre2_match_data_free(m_match);
    }
    MatchSpace(const MatchSpace&) = delete;
    MatchSpace& operator=(const MatchSpace&) = delete;

    int match(std::string_view subject, std::size_t from = 0)
    {
        static const char empty = 0;
        const auto* bytes = reinterpret_cast<PCRE2_SPTR>(subject.data() ? subject.data() : &empty);
        // The JIT's own entry skips the checks of the general one: it costs less a line.
        return m_jit ? pcre2_jit_match(m_code, bytes, subject.size(), from, 0, m_match, m_context)
                     : pcre2_match(m_code, bytes, subject.size(), from, 0, m_match, m_context);
    }
    const PCRE2_SIZE* ovector() const { return pcre2_get_ovector_pointer(m_match); }

private:
    const pcre2_code* m_code;
    bool m_jit = false;
    pcre2_match_data* m_match;
    pcre2_match_context* m_context;
    pcre2_jit_stack* m_stack;
};

LineFilter::LineFilter(std::string pattern, LineFilterOptions options)
    : m_pattern(std::move(pattern)), m_options(options)
{
    if (!m_options.regex || m_pattern.empty())
        return;
    m_regex = std::make_unique<Regex>();
    // Lines end at LF, CR LF or a lone CR, as the log's lines do: ^ and $ match at each.
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
    std::uint32_t flags = PCRE2_MULTILINE;
    if (!m_options.matchCase)
        flags |= PCRE2_CASELESS;
    if (HeldEncoding(m_options.encoding) == Encoding::Utf8)
        flags |= PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    m_regex->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(m_pattern.data()), m_pattern.size(), flags,
                                  &error, &errorOffset, context);
    pcre2_compile_context_free(context);
    if (!m_regex->code) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(error, message, sizeof message);
        throw Failure(std::string(reinterpret_cast<const char*>(message)) + " at " +
                      std::to_string(errorOffset + 1));
    }
    // Without the JIT (a system that forbids it) the interpreter gives the same answers.
    pcre2_jit_compile(m_regex->code, PCRE2_JIT_COMPLETE);
    std::uint32_t allOptions = 0;
    pcre2_pattern_info(m_regex->code, PCRE2_INFO_ALLOPTIONS, &allOptions);
    m_blockScan = (allOptions & PCRE2_MULTILINE) != 0 && blockScanFindsEveryLine(m_pattern);
}

LineFilter::~LineFilter() = default;

bool LineFilter::run(const LineSource& document, LineNumber fromLine, std::vector<LineNumber>& lines,
                     const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const
{
    if (m_pattern.empty() || fromLine >= EndLine(document.lineCount())) {
        done.store(document.size().value(), std::memory_order_relaxed);
        return true;
    }
    return m_regex ? runRegex(document, fromLine, lines, cancel, done)
                   : runPlain(document, fromLine, lines, cancel, done);
}

bool LineFilter::runPlain(const LineSource& document, LineNumber fromLine, std::vector<LineNumber>& lines,
                          const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const
{
    const TextSearch search = TextSearch::forLog(m_pattern, m_options.encoding, m_options.matchCase);
    const ByteOffset size = document.size();
    const auto length = static_cast<ByteOffset>(m_pattern.size());
    ByteOffset position = document.lineIndex(fromLine);
    while (position < size) {
        if (cancel.load(std::memory_order_relaxed))
            return false;
        // Occurrences that start in this block.
        // The text is searched a block at a time, so that a cancel is seen soon and progress
        // moves.
        const ByteOffset blockEnd = std::min(size, position + std::max<ByteOffset>(m_options.block, 1));
        const ByteOffset base = position;
        const TextSlice block = document.read(base, std::min(size, blockEnd - 1 + length));
        ByteOffset found = FindOccurrenceFrom(search, block.view(), 0);
        while (found >= 0) {
            const LineNumber line = document.lineFromOffset(base + found);
            lines.push_back(line);
            position = document.lineIndex(line + 1);
            if (position >= blockEnd)
                break;
            found = FindOccurrenceFrom(search, block.view(), position - base);
        }
        position = std::max(position, blockEnd);
        done.store(position.value(), std::memory_order_relaxed);
    }
    return true;
}

bool LineFilter::runRegex(const LineSource& document, LineNumber fromLine, std::vector<LineNumber>& lines,
                          const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const
{
    MatchSpace space(m_regex->code);
    const LineNumber lineCount = EndLine(document.lineCount());
    const ByteOffset size = document.size();
    const std::int64_t longLine = std::max<std::int64_t>(m_options.longLine, 1);
    const std::int64_t blockBytes = std::clamp<std::int64_t>(m_options.block, 1, longLine);
    for (LineNumber line = fromLine; line < lineCount;) {
        if (cancel.load(std::memory_order_relaxed))
            return false;
        // Whole lines of at most blockBytes (or one longer line).
        const ByteOffset start = document.lineIndex(line);
        LineNumber end = start + blockBytes >= size ? lineCount : std::min(lineCount, document.lineFromOffset(start + blockBytes));
        end = std::max(end, line + 1);
        const ByteOffset endOffset = document.lineIndex(end);
        if (end == line + 1 && endOffset - start > longLine) {
            // A line too long to read whole is matched on its first longLine bytes: a line's
            // content holds no CR or LF, so dropping those at the end leaves content only.
            const TextSlice head = document.read(start, start + longLine);
            std::string_view content = head.view();
            while (!content.empty() && (content.back() == '\n' || content.back() == '\r'))
                content.remove_suffix(1);
            if (matchesLine(content, space))
                lines.push_back(line);
        } else {
            const TextSlice block = document.read(start, endOffset);
            const std::string_view bytes = block.view();
            if (m_blockScan) {
                for (LineNumber at = line; at < end;) {
                    const int result = space.match(bytes, static_cast<std::size_t>(document.lineIndex(at) - start));
                    if (result == PCRE2_ERROR_NOMATCH)
                        break;
                    LineNumber found = at;
                    if (result < 0) {
                        // A limit was reached over the block: this line is matched alone.
                        if (matchesLine(contentOf(document, at, bytes, start), space))
                            lines.push_back(at);
                    } else {
                        // A match may start in a line break, or at the block's end: an empty
                        // match there belongs to the next block, unless the text ends there
                        // without a break.
                        const ByteOffset matchStart = start + static_cast<ByteOffset>(space.ovector()[0]);
                        const ByteOffset matchEnd = start + static_cast<ByteOffset>(space.ovector()[1]);
                        found = std::max(document.lineFromOffset(matchStart), at);
                        if (found >= end)
                            break;
                        const std::string_view content = contentOf(document, found, bytes, start);
                        const ByteOffset contentEnd = start + static_cast<ByteOffset>(content.data() - bytes.data() + content.size());
                        // A match within the line's content is the line's own; one that runs
                        // past it (\s takes line breaks) or starts in the break decides nothing.
                        if ((matchStart <= contentEnd && matchEnd <= contentEnd) || matchesLine(content, space))
                            lines.push_back(found);
                    }
                    at = found + 1;
                }
            } else {
                // Each line's end is the next one's start: the index is asked once a line.
                std::size_t from = 0;
                for (LineNumber at = line; at < end; ++at) {
                    const auto to = std::min(bytes.size(), static_cast<std::size_t>(document.lineIndex(at + 1) - start));
                    std::string_view content = bytes.substr(from, to - std::min(from, to));
                    if (!content.empty() && content.back() == '\n')
                        content.remove_suffix(1);
                    if (!content.empty() && content.back() == '\r')
                        content.remove_suffix(1);
                    if (matchesLine(content, space))
                        lines.push_back(at);
                    from = to;
                }
            }
        }
        done.store(endOffset.value(), std::memory_order_relaxed);
        line = end;
    }
    done.store(size.value(), std::memory_order_relaxed);
    return true;
}

bool LineFilter::matchesLine(std::string_view line) const
{
    if (m_pattern.empty())
        return false;
    if (!m_regex) {
        const TextSearch search = TextSearch::forLog(m_pattern, m_options.encoding, m_options.matchCase);
        return FindOccurrenceFrom(search, line, 0) >= 0;
    }
    MatchSpace space(m_regex->code);
    return matchesLine(line, space);
}

LineFilter::Matcher::Matcher(const LineFilter& filter)
    : m_filter(filter), m_search(TextSearch::forLog(filter.m_pattern, filter.m_options.encoding, filter.m_options.matchCase))
{
    if (filter.m_regex)
        m_space = std::make_unique<MatchSpace>(filter.m_regex->code);
}

LineFilter::Matcher::~Matcher() = default;

bool LineFilter::Matcher::matches(std::string_view line)
{
    if (m_filter.m_pattern.empty())
        return false;
    if (m_space)
        return m_filter.matchesLine(line, *m_space);
    return FindOccurrenceFrom(m_search, line, 0) >= 0;
}

bool LineFilter::matchesLine(std::string_view line, MatchSpace& space) const
{
    // A match limit reached on one line counts as no match.
    return space.match(line) >= 0;
}

} // namespace tlg
