#include "search/linefilter.h"

#include "core/errors.h"
#include "search/textsearch.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>

namespace tlg {

struct LineFilter::Regex {
    pcre2_code* code = nullptr;
    ~Regex() { pcre2_code_free(code); }
};

// What one run of a regular expression needs of its own: the match data, and a JIT stack
// larger than the default 32 KiB, so that nested groups over long lines do not fail.
class LineFilter::MatchSpace {
public:
    explicit MatchSpace(const pcre2_code* code)
        : m_match(pcre2_match_data_create_from_pattern(code, nullptr)),
          m_context(pcre2_match_context_create(nullptr)),
          m_stack(pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr))
    {
        pcre2_jit_stack_assign(m_context, nullptr, m_stack);
    }
    ~MatchSpace()
    {
        pcre2_jit_stack_free(m_stack);
        pcre2_match_context_free(m_context);
        pcre2_match_data_free(m_match);
    }
    MatchSpace(const MatchSpace&) = delete;
    MatchSpace& operator=(const MatchSpace&) = delete;

    int match(const pcre2_code* code, std::string_view subject, std::size_t end, std::size_t from)
    {
        static const char empty = 0;
        const auto* bytes = reinterpret_cast<PCRE2_SPTR>(subject.data() ? subject.data() : &empty);
        return pcre2_match(code, bytes, end, from, 0, m_match, m_context);
    }
    const PCRE2_SIZE* ovector() const { return pcre2_get_ovector_pointer(m_match); }

private:
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
    if (m_options.encoding == Encoding::Utf8)
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
    std::uint32_t lookBehind = 0;
    pcre2_pattern_info(m_regex->code, PCRE2_INFO_MAXLOOKBEHIND, &lookBehind);
    m_lookBehind = static_cast<std::int64_t>(lookBehind) * ((flags & PCRE2_UTF) ? 4 : 1); // in bytes
}

LineFilter::~LineFilter() = default;

bool LineFilter::run(const LogDocument& document, LineNumber fromLine, std::vector<LineNumber>& lines,
                     const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const
{
    if (m_pattern.empty() || fromLine >= document.lineCount()) {
        done.store(document.size(), std::memory_order_relaxed);
        return true;
    }
    return m_regex ? runRegex(document, fromLine, lines, cancel, done)
                   : runPlain(document, fromLine, lines, cancel, done);
}

bool LineFilter::runPlain(const LogDocument& document, LineNumber fromLine, std::vector<LineNumber>& lines,
                          const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const
{
    const TextSearch search{m_pattern, !m_options.matchCase, m_options.encoding != Encoding::Windows1252};
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
        done.store(position, std::memory_order_relaxed);
    }
    return true;
}

bool LineFilter::runRegex(const LogDocument& document, LineNumber fromLine, std::vector<LineNumber>& lines,
                          const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const
{
    MatchSpace space(m_regex->code);
    const ByteOffset size = document.size();
    const LineCount lineCount = document.lineCount();
    ByteOffset position = document.lineIndex(fromLine);
    bool finished = true;
    while (position < size) {
        if (cancel.load(std::memory_order_relaxed)) {
            finished = false;
            break;
        }
        // A block ends at a line start, so that no match reaches into the next block.
        const ByteOffset blockEnd = document.lineIndex(document.lineFromOffset(std::min(size, position + std::max<ByteOffset>(m_options.block, 1))) + 1);
        // The block's lines are read at once and matched as one subject, with the bytes a
        // look-behind may look at before it (and at least one, so that \A holds only at the
        // text's start, as when the whole text was the subject).
        const ByteOffset subjectStart = std::max<ByteOffset>(0, position - std::max<ByteOffset>(m_lookBehind, 1));
        const TextSlice block = document.read(subjectStart, blockEnd);
        const std::string_view bytes = block.view();
        // A line's content within the block, without its break.
        auto contentOf = [&](LineNumber line) {
            const auto from = static_cast<std::size_t>(document.lineIndex(line) - subjectStart);
            auto to = static_cast<std::size_t>(document.lineIndex(line + 1) - subjectStart);
            if (to > from && bytes[to - 1] == '\n') {
                --to;
                if (to > from && bytes[to - 1] == '\r')
                    --to;
            } else if (to > from && bytes[to - 1] == '\r') {
                --to;
            }
            return bytes.substr(from, to - from);
        };
        while (position < blockEnd) {
            const int result = space.match(m_regex->code, bytes, bytes.size(),
                                           static_cast<std::size_t>(position - subjectStart));
            LineNumber line = 0;
            if (result == PCRE2_ERROR_NOMATCH) {
                break;
            } else if (result < 0) {
                // A limit was reached over the block: its lines are matched one at a time.
                line = document.lineFromOffset(position);
                if (matchesLine(contentOf(line), space))
                    lines.push_back(line);
            } else {
                const auto start = subjectStart + static_cast<ByteOffset>(space.ovector()[0]);
                const auto end = subjectStart + static_cast<ByteOffset>(space.ovector()[1]);
                line = document.lineFromOffset(start);
                if (line >= lineCount)
                    break;
                // A match that runs over the line's end (\s takes line breaks) decides
                // nothing: the line alone is matched again.
                const std::string_view content = contentOf(line);
                const ByteOffset contentEnd = subjectStart + static_cast<ByteOffset>(content.data() - bytes.data() + content.size());
                if (end <= contentEnd || matchesLine(content, space))
                    lines.push_back(line);
            }
            position = document.lineIndex(line + 1);
        }
        position = std::max(position, blockEnd);
        done.store(position, std::memory_order_relaxed);
    }
    return finished;
}

bool LineFilter::matchesLine(std::string_view line) const
{
    if (m_pattern.empty())
        return false;
    if (!m_regex) {
        const TextSearch search{m_pattern, !m_options.matchCase, m_options.encoding != Encoding::Windows1252};
        return FindOccurrenceFrom(search, line, 0) >= 0;
    }
    MatchSpace space(m_regex->code);
    return matchesLine(line, space);
}

bool LineFilter::matchesLine(std::string_view line, MatchSpace& space) const
{
    return space.match(m_regex->code, line, line.size(), 0) >= 0;
}

} // namespace tlg
