#include "search/regexsearch.h"

#include "core/errors.h"
#include "search/textsearch.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace tlg {

namespace {

// The cancel flag is looked at every this many lines.
constexpr LineCount kLinesBetweenLooks = 4096;

} // namespace

struct RegexSearch::Code {
    pcre2_code* code = nullptr;
    ~Code() { pcre2_code_free(code); }
};

RegexSearch::RegexSearch(const std::string& pattern, bool matchCase, Encoding held) : m_code(std::make_unique<Code>())
{
    std::uint32_t flags = 0;
    if (!matchCase)
        flags |= PCRE2_CASELESS;
    if (HeldEncoding(held) == Encoding::Utf8)
        flags |= PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    m_code->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags, &error,
                                 &errorOffset, nullptr);
    if (!m_code->code) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(error, message, sizeof message);
        throw Failure(std::string(reinterpret_cast<const char*>(message)) + " at " + std::to_string(errorOffset + 1));
    }
    pcre2_jit_compile(m_code->code, PCRE2_JIT_COMPLETE);
}

RegexSearch::~RegexSearch() = default;

std::pair<std::int64_t, std::int64_t> RegexSearch::matchInLine(std::string_view content, std::int64_t start) const
{
    if (start > static_cast<std::int64_t>(content.size()))
        return {-1, -1};
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(m_code->code, nullptr);
    const int result = pcre2_match(m_code->code, reinterpret_cast<PCRE2_SPTR>(content.data()), content.size(),
                                   static_cast<PCRE2_SIZE>(start), PCRE2_NOTEMPTY, data, nullptr);
    std::pair<std::int64_t, std::int64_t> found{-1, -1};
    if (result >= 0) {
        const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(data);
        found = {static_cast<std::int64_t>(vector[0]), static_cast<std::int64_t>(vector[1])};
    }
    pcre2_match_data_free(data);
    return found;
}

RegexSearch::Match RegexSearch::findFrom(const LineSource& text, ByteOffset from, const std::atomic<bool>* cancel,
                                         std::atomic<std::int64_t>* looked) const
{
    from = std::clamp<ByteOffset>(from, 0, text.size());
    const LineNumber first = text.lineFromOffset(from);
    for (LineNumber line = first; line < EndLine(text.rowCount()); ++line) {
        const ByteOffset base = text.lineIndex(line);
        if ((line - first) % kLinesBetweenLooks == 0) {
            if (cancel && cancel->load())
                return {kSearchCancelled, kSearchCancelled};
            if (looked)
                looked->store(std::max<std::int64_t>((base - from).value(), 0), std::memory_order_relaxed);
        }
        const ByteOffset end = std::min(text.lineContentEnd(line), base + kLongLine);
        const TextSlice content = text.slice(base, end);
        const auto [start, stop] = matchInLine(content.view(), line == first ? (from - base).value() : 0);
        if (start >= 0)
            return {base + start, base + stop};
    }
    return {-1, -1};
}

RegexSearch::Match RegexSearch::findBefore(const LineSource& text, ByteOffset before, const std::atomic<bool>* cancel,
                                           std::atomic<std::int64_t>* looked) const
{
    before = std::clamp<ByteOffset>(before, 0, text.size());
    const LineNumber last = text.lineFromOffset(before);
    for (LineNumber line = last; line >= 0; --line) {
        const ByteOffset base = text.lineIndex(line);
        if ((last - line) % kLinesBetweenLooks == 0) {
            if (cancel && cancel->load())
                return {kSearchCancelled, kSearchCancelled};
            if (looked)
                looked->store((before - base).value(), std::memory_order_relaxed);
        }
        const ByteOffset end = std::min(text.lineContentEnd(line), base + kLongLine);
        const TextSlice content = text.slice(base, end);
        // The last match of the line that starts before `before`.
        Match found{-1, -1};
        for (std::int64_t at = 0;;) {
            const auto [start, stop] = matchInLine(content.view(), at);
            if (start < 0 || base + start >= before)
                break;
            found = {base + start, base + stop};
            at = stop; // the matches one after the other, as a forward search meets them
        }
        if (found.first >= 0)
            return found;
    }
    return {-1, -1};
}

} // namespace tlg
