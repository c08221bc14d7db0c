#pragma once

// A log's lines counted by time: how many lines carry a time in each interval, and how many of
// them hold an error label or an info label. The intervals adapt to the times met: they start
// at a second and grow along a ladder (1 s, 5 s, 15 s, 30 s, 1 min, 5 min, ... 1 day, 7 days)
// whenever the times would need more than kMaxBuckets of them, so the counts take a fixed
// amount of memory whatever the log's length. Each interval begins on a whole interval of the
// local clock (a day at local midnight).
//
// The counts come out of the same pass over the bytes that finds the lines holding labels
// (MarkLineBlocks), reading each line's stamp as it goes; a line without a stamp counts at the
// time of the line before it, so a stack trace counts with its header; lines before the first
// stamp carry no time and are not counted.
//
// A log made of several logs, each with its own times (a merged log: LineSource::timedParts), is
// counted part by part: each shown part's lines in the part's own form, the counts added up. A
// row of such a log carries its line's time in its part, so the sum is the count of the rows,
// and a followed part costs its new lines whichever place they take.

#include "document/linesource.h"
#include "document/timedparts.h"
#include "document/timestamps.h"
#include "search/colourrules.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tlg {

// The lines of one interval: all of them, those holding an error label, and those holding an
// info label but no error label (so that the two parts stack within the whole).
struct TimeBucket {
    std::int64_t lines = 0;
    std::int64_t errors = 0;
    std::int64_t infos = 0;

    TimeBucket& operator+=(const TimeBucket& other)
    {
        lines += other.lines;
        errors += other.errors;
        infos += other.infos;
        return *this;
    }
    friend bool operator==(const TimeBucket&, const TimeBucket&) = default;
};

// The interval of the ladder (nanoseconds) that is at least `least`: 100 ms, 500 ms, 1 s, 5 s,
// 15 s, 30 s, 1 min, 5 min, 15 min, 30 min, 1 h, 3 h, 6 h, 12 h, 1 day, 7 days, then doubling.
// Each is a whole multiple of the one before.
std::int64_t IntervalAtLeast(std::int64_t least);
// The ladder's interval after `interval`.
std::int64_t NextInterval(std::int64_t interval);
// An interval as a reader says it: "500 ms", "15 s", "5 min", "3 h", "1 day", "14 days".
std::string IntervalText(std::int64_t interval);

class TimeHistogram {
public:
    static constexpr std::int64_t kMaxBuckets = 4096;
    static constexpr std::int64_t kFirstInterval = 1'000'000'000; // a second

    // An empty histogram whose range grows with the times added.
    TimeHistogram() = default;
    // A histogram of the times in [from, to) only, in the finest intervals of which at most
    // kMaxBuckets cover it; times outside are not counted.
    static TimeHistogram window(std::int64_t from, std::int64_t to);

    // Counts a line carrying `time` (ns since 1970 UTC) with its overview mark (kMarkError,
    // kMarkInfo), or takes one such line out again.
    void add(std::int64_t time, std::uint8_t mark) { change(time, mark, 1); }
    void remove(std::int64_t time, std::uint8_t mark) { change(time, mark, -1); }
    // Counts the lines another histogram counted, as if they had been added here: each of its
    // buckets at its start (its first time, for the first), the intervals grown to its own when
    // they are finer. A window takes only another window of the same bounds.
    void add(const TimeHistogram& other);

    bool empty() const { return m_lines == 0; }
    std::int64_t lines() const { return m_lines; }
    std::int64_t interval() const { return m_interval; }
    // Where the first bucket begins, and the buckets.
    std::int64_t origin() const { return m_origin; }
    const std::vector<TimeBucket>& buckets() const { return m_buckets; }
    // The earliest and latest time counted (for a window: the window's bounds, to exclusive).
    std::int64_t firstTime() const { return m_first; }
    std::int64_t endTime() const { return m_end; }

    // Bars to show: the counts in intervals of the ladder, each a whole number of buckets, the
    // finest of which at most `maxBars` cover [from, to) (by default the times counted).
    struct Bars {
        std::int64_t start = 0;    // where the first bar begins
        std::int64_t interval = 0; // each bar's
        std::vector<TimeBucket> bars;
        std::int64_t end() const { return start + interval * static_cast<std::int64_t>(bars.size()); }
    };
    Bars bars(int maxBars) const { return bars(m_first, m_end, maxBars); }
    Bars bars(std::int64_t from, std::int64_t to, int maxBars) const;

    // The start of the interval of this length that holds `time`, on the local clock.
    std::int64_t intervalStart(std::int64_t time, std::int64_t interval) const;

private:
    void change(std::int64_t time, std::uint8_t mark, int by);
    // Makes room for `time`: coarser intervals when the range would need too many, or when they
    // are finer than `least`.
    void reach(std::int64_t time, std::int64_t least = 0);

    std::int64_t m_zone = 0; // local time less UTC, ns, taken at the first time counted
    bool m_zoneKnown = false;
    bool m_window = false;
    std::int64_t m_interval = kFirstInterval;
    std::int64_t m_origin = 0;
    std::vector<TimeBucket> m_buckets;
    std::int64_t m_lines = 0;
    std::int64_t m_first = 0; // the earliest time counted
    std::int64_t m_end = 0;   // one past the latest
};

// The counts of a whole log, grown at the cost of its new lines as the log grows.
class LogHistogram;
using LogHistogramPtr = std::shared_ptr<const LogHistogram>;

class LogHistogram {
public:
    // Counts every line of `lines`, reading stamps in `form` with `ctx`, labels by `rules`
    // (null: no error or info parts). Null when `cancel` was raised.
    static LogHistogramPtr count(LinesPtr lines, TimeForm form, const StampContext& ctx,
                                 std::shared_ptr<const ColourRules> rules, const std::atomic<bool>* cancel = nullptr);
    // The counts of the rows of a log made of parts (lines->timedParts(); null counts for any
    // other): each shown part counted in its own form and context, the counts added up. A part
    // that `earlier` (the counts of an earlier state of the same parts, or null) counted costs
    // its new lines only; a hidden part is not read. Null when `cancel` was raised.
    static LogHistogramPtr countParts(LinesPtr lines, std::shared_ptr<const ColourRules> rules,
                                      const LogHistogram* earlier = nullptr, const std::atomic<bool>* cancel = nullptr);
    // The counts of `grown`: when it grew from these counts' lines, only its new lines (and the
    // last line before them, which may have grown) are read; otherwise it is counted anew. For
    // the counts of a log made of parts, `grown` is a later state of the same parts
    // (countParts).
    LogHistogramPtr grownTo(LinesPtr grown, const std::atomic<bool>* cancel = nullptr) const;

    const LinesPtr& lines() const { return m_lines; }
    // Whether these are the counts of a log made of parts (whose form is None: each part has
    // its own).
    bool byParts() const { return m_byParts; }
    TimeForm form() const { return m_form; }
    const std::shared_ptr<const ColourRules>& rules() const { return m_rules; }
    const TimeHistogram& histogram() const { return m_histogram; }

private:
    LogHistogram() = default;
    // Counts the lines [from, end) on from the state after the lines before them.
    bool countFrom(LineNumber from, std::optional<std::int64_t> carried, const std::atomic<bool>* cancel);

    LinesPtr m_lines;
    TimeForm m_form = TimeForm::None;
    StampContext m_ctx;
    std::shared_ptr<const ColourRules> m_rules;
    TimeHistogram m_histogram;
    // A log made of parts: each part's counts (null for a part never shown), added up in
    // m_histogram.
    bool m_byParts = false;
    std::vector<LogHistogramPtr> m_parts;
    // The last line, which may still grow: taken out again before counting on from it.
    LineNumber m_last = -1;
    std::optional<std::int64_t> m_carriedBeforeLast; // the time the line before it carries
    std::optional<std::int64_t> m_lastTime;          // the time it carries (and was counted at)
    std::uint8_t m_lastMark = 0;
};

// The counts of the lines [first, end) of `lines` whose times fall in [from, to): a closer
// look at part of a log, whose lines a TimeIndex finds. `carried` is the time the line before
// `first` carries. Nothing when cancelled.
std::optional<TimeHistogram> CountWindow(const LineSource& lines, LineNumber first, LineNumber end,
                                         std::optional<std::int64_t> carried, std::int64_t from, std::int64_t to,
                                         TimeForm form, const StampContext& ctx, const ColourRules* rules,
                                         const std::atomic<bool>* cancel = nullptr);
// The same for a log made of parts: its rows whose times fall in [from, to), each shown part's
// lines between the rows the log finds for the two times counted in the part's own form. A log
// without parts counts nothing.
std::optional<TimeHistogram> CountPartsWindow(const LineSource& lines, std::int64_t from, std::int64_t to,
                                              const ColourRules* rules, const std::atomic<bool>* cancel = nullptr);

} // namespace tlg
