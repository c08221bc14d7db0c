#pragma once

// A stack of filters on a log: rows that each show only the lines matching a pattern, or hide
// them. A line is shown when it matches every ShowOnly row that is on and no Hide row that is
// on; with no row on every line is shown. All the rows are looked for in one pass over the
// log, which keeps, for each row, one bit a line; switching a row on or off, or changing its
// kind, then only combines those bits again, without reading the log.
//
// The plain rows cost little and often settle a line alone. A pass that is told how the rows
// are switched may leave the other rows unmatched on the lines the plain rows hide: what it
// shows is then known at once, and a later pass (settle) matches the rest, before the rows
// are switched otherwise.
//
// Rows are matched as the filter pane matches its pattern (LineFilter): a line matches when
// its content alone does. Plain rows (and expressions that are plain text, matching case) are
// looked for over blocks of lines by find's search; the regular expressions that Vectorscan
// matches exactly as PCRE2 would go into one Vectorscan database scanned over those blocks;
// the others are matched line by line by their LineFilter.

#include "core/executor.h"
#include "document/encoding.h"
#include "document/keptlines.h"
#include "document/linesource.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tlg {

struct FilterRow {
    std::string pattern; // in the log's encoding
    bool regex = false;
    bool matchCase = false;
    enum Kind { ShowOnly, Hide } kind = Hide;
    bool on = true;

    friend bool operator==(const FilterRow&, const FilterRow&) = default;
};

struct FilterStackOptions {
    // The bytes read at a time, between two looks at the cancel flag; a longer line is read in
    // pieces of this size (tests shrink it, so that the blocks' ends fall everywhere). A block
    // of 1 MiB is still in the core's cache when Vectorscan reads it after the copy.
    std::int64_t block = 1 << 20;
    // As LineFilterOptions::longLine: a regular expression sees a longer line's first bytes only.
    std::int64_t longLine = 16 << 20;
    // The parts a pass over a large log divides it into (each reads its own stretch), of at
    // least threadPart bytes: the calling thread and as many workers of the executor as are
    // free match them side by side.
    int threads = 2;
    std::int64_t threadPart = 32 << 20;
    // False matches every row line by line with its LineFilter (to compare the ways).
    bool vectorscan = true;
};

class FilterMatches;
using FilterMatchesPtr = std::shared_ptr<const FilterMatches>;

// Which lines of one log each row of a stack matches. Never changes once made, so it may be
// shared between threads.
class FilterMatches {
public:
    const LinesPtr& document() const { return m_document; }
    LineCount lineCount() const { return m_lines; }
    std::size_t rowCount() const { return m_bits.size(); }
    // Whether the row's pattern is matched at all: false for an invalid or an empty one, which
    // never hides or shows a line.
    bool applies(std::size_t row) const { return m_applies[row]; }
    bool matches(std::size_t row, LineNumber line) const;
    // How many lines the row matches.
    LineCount matchCount(std::size_t row) const;
    // The first line the pass that made these matches looked at: the lines before it were
    // taken from the matches of the log this one grew from.
    LineNumber changedFrom() const { return m_changedFrom; }
    // Every row is matched on every line. When not, some lines hidden by plain rows were not
    // matched against the other rows, and the lines shown are known only while those plain
    // rows stay on and of their kinds.
    bool settled() const { return m_unsettled.empty(); }
    // Whether the lines shown with the rows switched as `rows` say are known.
    bool knownUnder(const std::vector<FilterRow>& rows) const;

    // The runs of lines shown when the rows are on and of the kinds `rows` says (one entry a
    // row of the stack; their patterns are not read), from line `from` on. Only where
    // knownUnder(rows).
    std::vector<KeptLines::Range> shownRanges(const std::vector<FilterRow>& rows, LineNumber from = 0) const;
    // Those lines, as a source over the log.
    KeptLinesPtr shown(const std::vector<FilterRow>& rows) const;
    // `earlier` (the lines shown of the log these matches grew from, with the rows as they are
    // now) carried over to the grown log: only the lines from changedFrom() on are combined.
    KeptLinesPtr shownGrown(const KeptLines& earlier, const std::vector<FilterRow>& rows) const;

private:
    friend class FilterStack;
    FilterMatches() = default;
    // Calls visit(KeptLines::Range) for each run of lines shown, from line `from` on.
    template <class Visit>
    void forEachShownRange(const std::vector<FilterRow>& rows, LineNumber from, const Visit& visit) const;

    LinesPtr m_document;
    LineCount m_lines = 0;
    LineNumber m_changedFrom = 0;
    std::vector<std::vector<std::uint64_t>> m_bits; // a row's bit for line n: word n / 64, bit n % 64
    std::vector<bool> m_applies;
    // The lines left unmatched by all but the plain rows (as the bits; empty when none are),
    // and the plain rows, on and of their kinds, that hide each of them.
    std::vector<std::uint64_t> m_unsettled;
    struct Decider {
        std::size_t row;
        FilterRow::Kind kind;
    };
    std::vector<Decider> m_deciders;
};

// The rows of a stack made ready to match, for one encoding. Never changes once made: passes
// may run on any threads, several at once.
class FilterStack {
public:
    FilterStack(std::vector<FilterRow> rows, Encoding encoding, FilterStackOptions options = {});
    ~FilterStack();
    FilterStack(const FilterStack&) = delete;
    FilterStack& operator=(const FilterStack&) = delete;

    const std::vector<FilterRow>& rows() const { return m_rows; }
    // Why a row cannot be matched, as the filter pane says it ("missing closing parenthesis at
    // 7"); empty for a valid row.
    const std::string& error(std::size_t row) const;
    // Whether the row is matched over whole blocks of lines, in the Vectorscan database or by
    // the plain search (false: line by line by its LineFilter).
    bool scannedTogether(std::size_t row) const;

    // Matches every row against the lines of `document`, in one pass. `done` follows the bytes
    // looked at; gives nothing when `cancel` was set meanwhile. Given `switched` (the rows as
    // switched now; patterns not read), the lines that the plain rows on there hide are not
    // matched against the others: the matches may be unsettled. The parts of a large log are
    // matched on the calling thread and on workers of `executor` (for what the user waits
    // for); the pass never waits for a worker busy elsewhere. Throws the failure of a part.
    FilterMatchesPtr run(LinesPtr document, const std::atomic<bool>& cancel, std::atomic<std::int64_t>& done,
                         const std::vector<FilterRow>* switched = nullptr,
                         Executor& executor = Executor::shared()) const;
    // Unsettled matches of this stack with the lines left unmatched matched: settled.
    FilterMatchesPtr settle(const FilterMatches& matches, const std::atomic<bool>& cancel,
                            std::atomic<std::int64_t>& done, Executor& executor = Executor::shared()) const;
    // The matches of `grown`, a log that grew from earlier's (LineSource::grewFrom): earlier's
    // bits are kept up to its last line, which is looked at again when it had no line break or
    // ended with a CR (it, or its break, may have grown), and only the lines from there on are
    // read. Runs a whole pass when `grown` did not grow from it, earlier is of another stack's
    // rows, or earlier is unsettled and not known under `switched`. New lines are left
    // unmatched as run() leaves them: by earlier's deciding rows when it is unsettled.
    FilterMatchesPtr grow(const FilterMatches& earlier, LinesPtr grown, const std::atomic<bool>& cancel,
                          std::atomic<std::int64_t>& done, const std::vector<FilterRow>* switched = nullptr,
                          Executor& executor = Executor::shared()) const;

private:
    struct Row;
    struct Database;
    class Pass;
    // The plain rows on in `switched`, which decide lines alone.
    std::vector<FilterMatches::Decider> decidersFor(const std::vector<FilterRow>* switched) const;
    // Fills the matches' bits from line `from` on: every row, or with `unsettled`, only the
    // rows other than the plain ones on the lines it marks.
    FilterMatchesPtr pass(std::shared_ptr<FilterMatches> matches, LineNumber from, const std::atomic<bool>& cancel,
                          std::atomic<std::int64_t>& done, Executor& executor,
                          const std::vector<std::uint64_t>* unsettled = nullptr) const;

    std::vector<FilterRow> m_rows;
    Encoding m_encoding;
    FilterStackOptions m_options;
    std::vector<std::unique_ptr<Row>> m_compiled;
    std::unique_ptr<Database> m_database; // null when no row is scanned together
};

} // namespace tlg
