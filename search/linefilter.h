#pragma once

// The filter pane's search: which lines of a log hold a plain text or match a regular
// expression. Plain text uses the fast search find uses; regular expressions are PCRE2's,
// compiled by its JIT. A filter is built once per pattern and may run on any thread, several
// runs at once.

#include "document/encoding.h"
#include "document/linesource.h"
#include "search/textsearch.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tlg {

struct LineFilterOptions {
    bool matchCase = false;
    bool regex = false;
    // How the log holds its text: in UTF-8 a regular expression works on characters, in the
    // others every byte is one; plain text ignores case by the log's rule (CaseFoldingFor:
    // a to z only outside Windows-1252).
    Encoding encoding = Encoding::Windows1252;
    // The bytes searched between two looks at the cancel flag (tests shrink it, so that the
    // blocks' ends fall everywhere).
    std::int64_t block = 4 << 20;
    // A regular expression matches a line longer than this (with its break) on its first
    // `longLine` bytes only, as if the line ended there, so that a huge line is never read
    // whole. Plain text is searched in the whole line.
    std::int64_t longLine = 16 << 20;
};

class LineFilter {
    class MatchSpace;

public:
    // The pattern is in the log's encoding. An invalid regular expression throws Failure
    // saying why and where ("missing closing parenthesis at 7").
    LineFilter(std::string pattern, LineFilterOptions options);
    ~LineFilter();
    LineFilter(const LineFilter&) = delete;
    LineFilter& operator=(const LineFilter&) = delete;

    // Appends to `lines` the lines of the document, from `fromLine` on, that match, in order.
    // `done` follows the bytes looked at; returns false, with the lines found so far, when
    // `cancel` was set meanwhile. An empty pattern matches nothing. A line matches when its
    // content (without its break) matches on its own, as matchesLine says, whatever the
    // blocks: a match never spans lines, ^ and $ (and \A, \Z, \z, (?-m)$) hold at each line's
    // start and end, and a look-around sees nothing of the lines around.
    bool run(const LineSource& document, LineNumber fromLine, std::vector<LineNumber>& lines,
             const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const;

    // Whether one line's content (without its break) matches.
    bool matchesLine(std::string_view line) const;

    // Asks whether line after line matches, on one thread, with what a match needs made once
    // (a regular expression's match data and JIT stack): for callers that ask of many lines.
    class Matcher {
    public:
        explicit Matcher(const LineFilter& filter);
        ~Matcher();
        Matcher(const Matcher&) = delete;
        Matcher& operator=(const Matcher&) = delete;
        // As matchesLine.
        bool matches(std::string_view line);

    private:
        const LineFilter& m_filter;
        TextSearch m_search;
        std::unique_ptr<MatchSpace> m_space;
    };

    // Whether the expression is matched over blocks of lines, each line found confirmed on its
    // own, rather than line by line (see blockScanFindsEveryLine in linefilter.cpp).
    bool scansBlocks() const { return m_blockScan; }

private:
    struct Regex;
    friend class Matcher;
    bool matchesLine(std::string_view line, MatchSpace& space) const;
    bool runPlain(const LineSource& document, LineNumber fromLine, std::vector<LineNumber>& lines,
                  const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const;
    bool runRegex(const LineSource& document, LineNumber fromLine, std::vector<LineNumber>& lines,
                  const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done) const;

    std::string m_pattern;
    LineFilterOptions m_options;
    std::unique_ptr<Regex> m_regex;
    bool m_blockScan = false;
};

} // namespace tlg
