#include "search/timehistogram.h"

#include "search/overview.h"

#include <algorithm>
#include <array>

namespace tlg {

namespace {

constexpr std::int64_t kMilli = 1'000'000;
constexpr std::int64_t kSecond = 1'000'000'000;

constexpr std::array<std::int64_t, 16> kLadder = {
    100 * kMilli,   500 * kMilli,   kSecond,        5 * kSecond,     15 * kSecond,    30 * kSecond,
    60 * kSecond,   300 * kSecond,  900 * kSecond,  1800 * kSecond,  3600 * kSecond,  10800 * kSecond,
    21600 * kSecond, 43200 * kSecond, 86400 * kSecond, 604800 * kSecond,
};

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b)
{
    return -floorDiv(-a, b);
}

// Calls visit(line, stamp, mark) for the lines [first, end) in order: the time of the line's own
// stamp (nothing for a line without one) and its error and info marks, from one pass over the
// bytes that finds the labels and reads the stamps.
template <class Visit>
bool forEachLineTime(const LineSource& lines, LineNumber first, LineNumber end, TimeForm form,
                     const StampContext& ctx, const ColourRules* rules, const std::atomic<bool>* cancel, Visit&& visit)
{
    const StampContext local = ctx; // a context is one thread's
    return MarkLineBlocks(
        lines, first, end, rules,
        [&](LineNumber blockFirst, LineNumber blockEnd, std::string_view bytes, const std::uint8_t* marks) {
            const ByteOffset base = lines.lineIndex(blockFirst);
            for (LineNumber line = blockFirst; line < blockEnd; ++line) {
                const auto at = std::min(static_cast<std::size_t>((lines.lineIndex(line) - base).value()), bytes.size());
                const auto next = std::min(static_cast<std::size_t>((lines.lineIndex(line + 1) - base).value()), bytes.size());
                const std::string_view head = bytes.substr(at, std::min(next - at, kStampHead));
                const std::optional<std::int64_t> stamp =
                    form == TimeForm::None ? std::nullopt : ParseStamp(head, form, local);
                visit(line, stamp, static_cast<std::uint8_t>(marks[(line - blockFirst).value()] & (kMarkError | kMarkInfo)));
            }
            return true;
        },
        cancel);
}

} // namespace

std::int64_t IntervalAtLeast(std::int64_t least)
{
    for (const std::int64_t interval : kLadder) {
        if (interval >= least)
            return interval;
    }
    std::int64_t interval = kLadder.back();
    while (interval < least && interval < INT64_MAX / 2)
        interval *= 2;
    return interval;
}

std::int64_t NextInterval(std::int64_t interval)
{
    return interval >= kLadder.back() ? (interval < INT64_MAX / 2 ? interval * 2 : interval) : IntervalAtLeast(interval + 1);
}

std::string IntervalText(std::int64_t interval)
{
    const auto say = [](std::int64_t count, const char* unit) { return std::to_string(count) + " " + unit; };
    if (interval < kSecond)
        return say(interval / kMilli, "ms");
    const std::int64_t seconds = interval / kSecond;
    if (seconds < 60)
        return say(seconds, "s");
    if (seconds < 3600)
        return say(seconds / 60, "min");
    if (seconds < 86400)
        return say(seconds / 3600, "h");
    return seconds == 86400 ? std::string("1 day") : say(seconds / 86400, "days");
}

TimeHistogram TimeHistogram::window(std::int64_t from, std::int64_t to)
{
    TimeHistogram histogram;
    histogram.m_window = true;
    histogram.m_zone = (StampContext::utcToLocal(floorDiv(from, kSecond)) - floorDiv(from, kSecond)) * kSecond;
    histogram.m_zoneKnown = true;
    histogram.m_first = from;
    histogram.m_end = std::max(to, from + 1);
    std::int64_t interval = kLadder.front();
    while (ceilDiv(histogram.m_end - histogram.intervalStart(from, interval), interval) > kMaxBuckets)
        interval = NextInterval(interval);
    histogram.m_interval = interval;
    histogram.m_origin = histogram.intervalStart(from, interval);
    histogram.m_buckets.resize(static_cast<std::size_t>(ceilDiv(histogram.m_end - histogram.m_origin, interval)));
    return histogram;
}

std::int64_t TimeHistogram::intervalStart(std::int64_t time, std::int64_t interval) const
{
    return floorDiv(time + m_zone, interval) * interval - m_zone;
}

void TimeHistogram::change(std::int64_t time, std::uint8_t mark, int by)
{
    if (m_window) {
        if (time < m_first || time >= m_end)
            return;
    } else if (by > 0) {
        if (!m_zoneKnown) {
            m_zone = (StampContext::utcToLocal(floorDiv(time, kSecond)) - floorDiv(time, kSecond)) * kSecond;
            m_zoneKnown = true;
        }
        if (m_buckets.empty()) {
            m_interval = kFirstInterval;
            m_origin = intervalStart(time, m_interval);
            m_buckets.resize(1);
            m_first = time;
            m_end = time + 1;
        }
        reach(time);
        m_first = std::min(m_first, time);
        m_end = std::max(m_end, time + 1);
    }
    if (time < m_origin)
        return;
    const auto index = static_cast<std::size_t>((time - m_origin) / m_interval);
    if (index >= m_buckets.size())
        return;
    TimeBucket& bucket = m_buckets[index];
    bucket.lines += by;
    if (mark & kMarkError)
        bucket.errors += by;
    else if (mark & kMarkInfo)
        bucket.infos += by;
    m_lines += by;
}

void TimeHistogram::reach(std::int64_t time)
{
    const std::int64_t end = m_origin + m_interval * static_cast<std::int64_t>(m_buckets.size());
    if (time >= m_origin && time < end)
        return;
    const std::int64_t low = std::min(m_origin, time);
    const std::int64_t high = std::max(end, time + 1);
    std::int64_t interval = m_interval;
    std::int64_t origin = intervalStart(low, interval);
    while (ceilDiv(high - origin, interval) > kMaxBuckets) {
        interval = NextInterval(interval);
        origin = intervalStart(low, interval);
    }
    // Each interval of the ladder is a whole number of the one before, and all begin on the
    // same clock: an old bucket lies wholly in one new one.
    std::vector<TimeBucket> buckets(static_cast<std::size_t>(ceilDiv(high - origin, interval)));
    for (std::size_t i = 0; i < m_buckets.size(); ++i) {
        const std::int64_t start = m_origin + m_interval * static_cast<std::int64_t>(i);
        buckets[static_cast<std::size_t>((start - origin) / interval)] += m_buckets[i];
    }
    m_buckets = std::move(buckets);
    m_origin = origin;
    m_interval = interval;
}

TimeHistogram::Bars TimeHistogram::bars(std::int64_t from, std::int64_t to, int maxBars) const
{
    Bars result;
    if (m_buckets.empty() || maxBars <= 0)
        return result;
    to = std::max(to, from + 1);
    std::int64_t interval = m_interval;
    std::int64_t start = intervalStart(from, interval);
    while (ceilDiv(to - start, interval) > maxBars) {
        interval = NextInterval(interval);
        start = intervalStart(from, interval);
    }
    result.start = start;
    result.interval = interval;
    result.bars.resize(static_cast<std::size_t>(ceilDiv(to - start, interval)));
    const std::int64_t end = result.end();
    for (std::size_t i = 0; i < m_buckets.size(); ++i) {
        const std::int64_t at = m_origin + m_interval * static_cast<std::int64_t>(i);
        if (at >= start && at < end)
            result.bars[static_cast<std::size_t>((at - start) / interval)] += m_buckets[i];
    }
    return result;
}

LogHistogramPtr LogHistogram::count(LinesPtr lines, TimeForm form, const StampContext& ctx,
                                    std::shared_ptr<const ColourRules> rules, const std::atomic<bool>* cancel)
{
    std::shared_ptr<LogHistogram> counts(new LogHistogram);
    counts->m_lines = std::move(lines);
    counts->m_form = form;
    counts->m_ctx = ctx;
    counts->m_rules = std::move(rules);
    if (!counts->countFrom(0, std::nullopt, cancel))
        return nullptr;
    return counts;
}

LogHistogramPtr LogHistogram::grownTo(LinesPtr grown, const std::atomic<bool>* cancel) const
{
    if (!grown->grewFrom(*m_lines))
        return count(std::move(grown), m_form, m_ctx, m_rules, cancel);
    std::shared_ptr<LogHistogram> counts(new LogHistogram(*this));
    counts->m_lines = std::move(grown);
    if (m_last < 0)
        return counts->countFrom(0, std::nullopt, cancel) ? counts : nullptr;
    // The last line may have grown since it was counted: it is counted again.
    if (m_lastTime)
        counts->m_histogram.remove(*m_lastTime, m_lastMark);
    return counts->countFrom(m_last, m_carriedBeforeLast, cancel) ? counts : nullptr;
}

bool LogHistogram::countFrom(LineNumber from, std::optional<std::int64_t> carried, const std::atomic<bool>* cancel)
{
    const LineNumber end = EndLine(m_lines->lineCount());
    const LineNumber last = end - 1;
    m_last = std::max<LineNumber>(last, -1);
    return forEachLineTime(*m_lines, from, end, m_form, m_ctx, m_rules.get(), cancel,
                           [&](LineNumber line, std::optional<std::int64_t> stamp, std::uint8_t mark) {
                               if (line == last)
                                   m_carriedBeforeLast = carried;
                               if (stamp)
                                   carried = stamp;
                               if (carried)
                                   m_histogram.add(*carried, mark);
                               if (line == last) {
                                   m_lastTime = carried;
                                   m_lastMark = mark;
                               }
                           });
}

std::optional<TimeHistogram> CountWindow(const LineSource& lines, LineNumber first, LineNumber end,
                                         std::optional<std::int64_t> carried, std::int64_t from, std::int64_t to,
                                         TimeForm form, const StampContext& ctx, const ColourRules* rules,
                                         const std::atomic<bool>* cancel)
{
    TimeHistogram histogram = TimeHistogram::window(from, to);
    if (!forEachLineTime(lines, first, end, form, ctx, rules, cancel,
                         [&](LineNumber, std::optional<std::int64_t> stamp, std::uint8_t mark) {
                             if (stamp)
                                 carried = stamp;
                             if (carried)
                                 histogram.add(*carried, mark);
                         }))
        return std::nullopt;
    return histogram;
}

} // namespace tlg
