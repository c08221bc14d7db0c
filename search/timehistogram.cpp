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
    std::vector<ByteOffset> starts; // of a block's lines, and of the line after it
    return MarkLineBlocks(
        lines, first, end, rules,
        [&](LineNumber blockFirst, LineNumber blockEnd, std::string_view bytes, const std::uint8_t* marks) {
            starts.resize(static_cast<std::size_t>((blockEnd - blockFirst).value()) + 1);
            lines.lineStarts(blockFirst, blockEnd + 1, starts.data());
            const ByteOffset base = starts[0];
            for (LineNumber line = blockFirst; line < blockEnd; ++line) {
                const auto i = static_cast<std::size_t>((line - blockFirst).value());
                const auto at = std::min(static_cast<std::size_t>((starts[i] - base).value()), bytes.size());
                const auto next = std::min(static_cast<std::size_t>((starts[i + 1] - base).value()), bytes.size());
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

void TimeHistogram::add(const TimeHistogram& other)
{
    if (other.empty())
        return;
    if (m_window) {
        // Windows of the same bounds are laid out alike.
        if (other.m_window && other.m_origin == m_origin && other.m_interval == m_interval &&
            other.m_buckets.size() == m_buckets.size()) {
            for (std::size_t i = 0; i < m_buckets.size(); ++i)
                m_buckets[i] += other.m_buckets[i];
            m_lines += other.m_lines;
        }
        return;
    }
    if (m_buckets.empty()) {
        *this = other;
        m_window = false;
        return;
    }
    reach(other.m_first, other.m_interval);
    reach(other.m_end - 1, other.m_interval);
    m_first = std::min(m_first, other.m_first);
    m_end = std::max(m_end, other.m_end);
    // Our intervals are now a whole number of the other's, on the same clock: each of its
    // buckets lies wholly in one of ours. (Across a change of the zone's offset between the
    // two first times, a bucket finer than the change goes to the one its start falls in.)
    for (std::size_t i = 0; i < other.m_buckets.size(); ++i) {
        const TimeBucket& bucket = other.m_buckets[i];
        if (bucket.lines == 0)
            continue;
        const std::int64_t start = std::max(other.m_origin + other.m_interval * static_cast<std::int64_t>(i), other.m_first);
        const auto index = static_cast<std::size_t>((start - m_origin) / m_interval);
        if (start >= m_origin && index < m_buckets.size())
            m_buckets[index] += bucket;
    }
    m_lines += other.m_lines;
}

void TimeHistogram::reach(std::int64_t time, std::int64_t least)
{
    const std::int64_t end = m_origin + m_interval * static_cast<std::int64_t>(m_buckets.size());
    if (time >= m_origin && time < end && m_interval >= least)
        return;
    const std::int64_t low = std::min(m_origin, time);
    const std::int64_t high = std::max(end, time + 1);
    std::int64_t interval = m_interval;
    std::int64_t origin = intervalStart(low, interval);
    while (ceilDiv(high - origin, interval) > kMaxBuckets || interval < least) {
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

LogHistogramPtr LogHistogram::countParts(LinesPtr lines, std::shared_ptr<const ColourRules> rules,
                                         const LogHistogram* earlier, const std::atomic<bool>* cancel)
{
    const TimedParts* parts = lines->timedParts();
    if (!parts)
        return nullptr;
    std::shared_ptr<LogHistogram> counts(new LogHistogram);
    counts->m_byParts = true;
    counts->m_rules = std::move(rules);
    counts->m_parts.resize(parts->partCount());
    const bool sameParts = earlier && earlier->m_byParts && earlier->m_parts.size() == parts->partCount();
    for (std::size_t index = 0; index < parts->partCount(); ++index) {
        LogHistogramPtr counted = sameParts ? earlier->m_parts[index] : nullptr;
        const TimedParts::Part part = parts->part(index);
        if (part.shown && part.form != TimeForm::None) {
            // A syslog stamp's year comes from the context's reference: another reference, another count.
            const bool sameCounting = counted && counted->m_form == part.form &&
                                      (part.form != TimeForm::Syslog || counted->m_ctx.reference() == part.ctx.reference());
            if (!sameCounting)
                counted = count(part.lines, part.form, part.ctx, counts->m_rules, cancel);
            else if (counted->m_lines != part.lines)
                counted = counted->grownTo(part.lines, cancel);
            if (!counted)
                return nullptr;
            counts->m_histogram.add(counted->m_histogram);
        } else if (part.form == TimeForm::None) {
            counted.reset(); // no times to count
        }
        counts->m_parts[index] = std::move(counted);
    }
    counts->m_lines = std::move(lines);
    return counts;
}

LogHistogramPtr LogHistogram::grownTo(LinesPtr grown, const std::atomic<bool>* cancel) const
{
    if (m_byParts)
        return countParts(std::move(grown), m_rules, this, cancel);
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

std::optional<TimeHistogram> CountPartsWindow(const LineSource& lines, std::int64_t from, std::int64_t to,
                                              const ColourRules* rules, const std::atomic<bool>* cancel)
{
    TimeHistogram histogram = TimeHistogram::window(from, to);
    const TimedParts* parts = lines.timedParts();
    if (!parts)
        return histogram;
    const std::vector<TimedParts::Place> starts = parts->placesAt(parts->firstRowAtOrAfter(from));
    const std::vector<TimedParts::Place> ends = parts->placesAt(parts->firstRowAtOrAfter(to));
    for (std::size_t index = 0; index < parts->partCount(); ++index) {
        const TimedParts::Part part = parts->part(index);
        if (!part.shown || part.form == TimeForm::None || starts[index].line >= ends[index].line)
            continue;
        const std::optional<TimeHistogram> counted =
            CountWindow(*part.lines, starts[index].line, ends[index].line, starts[index].carried, from, to, part.form,
                        part.ctx, rules, cancel);
        if (!counted)
            return std::nullopt;
        histogram.add(*counted);
    }
    return histogram;
}

} // namespace tlg
