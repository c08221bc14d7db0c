#pragma once

// The times of a log's lines, sparsely: for every `step`-th line the time it carries, so that
// "go to a time" and merging logs by time find a line by a binary search and a short scan of
// stamps, without a time per line in memory. A line without a stamp (a continuation line, a
// stack trace's frame) carries the time of the line before it.
//
// Real logs go backwards in time now and then (threads that write late, a clock set back), so
// the search works on the running maximum of the carried times, which never decreases: the
// line for a time t is the first line whose carried time, or that of any line before it, is at
// or after t. On a log whose times never decrease this is simply the first line at or after t.

#include "document/linesource.h"
#include "document/timestamps.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace tlg {

class TimeIndex;
using TimeIndexPtr = std::shared_ptr<const TimeIndex>;

class TimeIndex {
public:
    static constexpr std::int64_t kDefaultStep = 1024;

    // Reads the stamps of every line of `lines` once (in `form`, with `ctx` for the year of
    // syslog stamps and the zone). `bytesDone`, when given, counts the bytes read; once `stop`
    // is raised the pass ends at its next block and nothing comes of it (nullptr).
    static TimeIndexPtr build(LinesPtr lines, TimeForm form, const StampContext& ctx,
                              const std::atomic<bool>* stop = nullptr,
                              std::atomic<std::int64_t>* bytesDone = nullptr,
                              std::int64_t step = kDefaultStep);

    // The index of `grown`: when it grew from this index's source, only its new lines (and
    // the last line before them, which may have grown) are read; otherwise it is built anew.
    TimeIndexPtr grownTo(LinesPtr grown, const std::atomic<bool>* stop = nullptr,
                         std::atomic<std::int64_t>* bytesDone = nullptr) const;

    const LinesPtr& lines() const { return m_lines; }
    TimeForm form() const { return m_form; }
    std::int64_t step() const { return m_step; }
    // What the stamps were read with: the reference for a syslog stamp's year, and the zone.
    const StampContext& context() const { return m_ctx; }

    // The first line whose running maximum of carried times is at or after `time`
    // (nanoseconds since 1970 UTC): the line count when there is none. Reads at most `step`
    // lines.
    LineNumber firstLineAtOrAfter(std::int64_t time) const;
    // The time a line carries: its own stamp's, or that of the nearest line before it with a
    // stamp; nothing before the first stamp. Reads at most `step` lines.
    std::optional<std::int64_t> timeOfLine(LineNumber line) const;
    // The time the last line carries (the running maximum's, on a log that went backwards, is
    // what the search goes by; this is the carried one). Nothing when no line has a stamp.
    std::optional<std::int64_t> lastTime() const;

    // Bytes the record takes, for benchmarks and tests.
    std::size_t memory() const { return m_points.capacity() * sizeof(Point) + sizeof(*this); }

private:
    // Line i * step: the time it carries and the running maximum up to it, kNoTime before the
    // first stamp.
    struct Point {
        std::int64_t carried;
        std::int64_t highest;
    };
    static constexpr std::int64_t kNoTime = INT64_MIN;

    TimeIndex() = default;
    // Reads lines [from, end) of m_lines, carrying m_carried and m_highest on and recording
    // the points among them. False when stopped.
    bool scan(LineNumber from, LineNumber end, const std::atomic<bool>* stop, std::atomic<std::int64_t>* bytesDone);
    // Calls visit(line, time or kNoTime) for the lines [from, end), in order, while it returns
    // true.
    template <class Visit>
    void forEachStamp(LineNumber from, LineNumber end, const StampContext& ctx, Visit&& visit) const;

    LinesPtr m_lines;
    TimeForm m_form = TimeForm::None;
    StampContext m_ctx;
    std::int64_t m_step = kDefaultStep;
    std::vector<Point> m_points;
    // The state after the settled lines, all lines but the last (which may still grow): where
    // growing resumes.
    LineNumber m_settled = 0;
    std::int64_t m_carried = kNoTime;
    std::int64_t m_highest = kNoTime;
    std::int64_t m_lastCarried = kNoTime; // after every line, the last included
};

// A time typed to go to, in local time: "2026-12-07 10:15:30.250", "2026-12-07T10:15",
// "2026-12-07", "12-07 10:15" (the year of `reference`), "10:15", "10:15:30", "10:15:30.5" (on
// the day of `reference`), a date with "/" too, and a full date-time may name its zone (Z,
// +01:00). `reference` is nanoseconds since 1970 UTC, say the time of the log's last line.
// Nothing for text it cannot read.
std::optional<std::int64_t> ParseTimeQuery(std::string_view text, std::int64_t reference);

} // namespace tlg
