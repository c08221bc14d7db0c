#include "document/timeindex.h"

#include <algorithm>

namespace tlg {

namespace {

constexpr std::size_t kBlockBytes = 1u << 20;
constexpr std::int64_t kNano = 1'000'000'000;
constexpr std::int64_t kDay = 86'400;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

template <class Visit>
void TimeIndex::forEachStamp(LineNumber from, LineNumber end, const StampContext& ctx, Visit&& visit) const
{
    m_lines->forEachLineBlock(from, end, kBlockBytes, [&](const LineBlock& block) {
        if (!block.startsLine)
            return true; // the rest of a long line: its stamp was in its first piece
        if (block.end == block.first + 1 && !block.endsLine) {
            const auto time = ParseStamp(block.bytes.substr(0, kStampHead), m_form, ctx);
            return visit(block.first, time ? *time : kNoTime, block.bytes.size());
        }
        std::size_t at = 0;
        for (LineNumber line = block.first; line < block.end; ++line) {
            const auto next = static_cast<std::size_t>((m_lines->lineIndex(line + 1) - block.offset).value());
            const std::string_view head = block.bytes.substr(at, std::min(next - at, kStampHead));
            const auto time = ParseStamp(head, m_form, ctx);
            if (!visit(line, time ? *time : kNoTime, next - at))
                return false;
            at = next;
        }
        return true;
    });
}

TimeIndexPtr TimeIndex::build(LinesPtr lines, TimeForm form, const StampContext& ctx,
                              const std::atomic<bool>* stop, std::atomic<std::int64_t>* bytesDone,
                              std::int64_t step)
{
    std::shared_ptr<TimeIndex> index(new TimeIndex);
    index->m_lines = std::move(lines);
    index->m_form = form;
    index->m_ctx = ctx;
    index->m_step = std::max<std::int64_t>(step, 1);
    if (!index->scan(0, EndLine(index->m_lines->lineCount()), stop, bytesDone))
        return nullptr;
    return index;
}

TimeIndexPtr TimeIndex::grownTo(LinesPtr grown, const std::atomic<bool>* stop, std::atomic<std::int64_t>* bytesDone) const
{
    if (!grown->grewFrom(*m_lines))
        return build(std::move(grown), m_form, m_ctx, stop, bytesDone, m_step);
    std::shared_ptr<TimeIndex> index(new TimeIndex(*this));
    index->m_lines = std::move(grown);
    // The points before the settled lines' end stand; the one at the last line, which may have
    // grown, is recorded again.
    index->m_points.resize(static_cast<std::size_t>((m_settled.value() + m_step - 1) / m_step));
    if (!index->scan(m_settled, EndLine(index->m_lines->lineCount()), stop, bytesDone))
        return nullptr;
    return index;
}

bool TimeIndex::scan(LineNumber from, LineNumber end, const std::atomic<bool>* stop,
                     std::atomic<std::int64_t>* bytesDone)
{
    const LineNumber settled = std::max(from, end - 1);
    std::int64_t carried = m_carried, highest = m_highest;
    std::int64_t bytes = 0;
    bool stopped = false;
    const StampContext ctx = m_ctx;
    forEachStamp(from, end, ctx, [&](LineNumber line, std::int64_t time, std::size_t length) {
        if (line == settled) {
            // Growing resumes here: the last line may still grow.
            m_settled = settled;
            m_carried = carried;
            m_highest = highest;
        }
        if (time != kNoTime) {
            carried = time;
            highest = std::max(highest, time);
        }
        if (line.value() % m_step == 0)
            m_points.push_back({carried, highest});
        bytes += static_cast<std::int64_t>(length);
        if (bytes >= static_cast<std::int64_t>(kBlockBytes) || line == end - 1) {
            if (bytesDone != nullptr)
                *bytesDone += bytes;
            bytes = 0;
            if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
                stopped = line != end - 1;
                return !stopped;
            }
        }
        return true;
    });
    m_lastCarried = carried;
    if (from == end) {
        m_settled = from;
    }
    return !stopped;
}

LineNumber TimeIndex::firstLineAtOrAfter(std::int64_t time) const
{
    const LineNumber count = EndLine(m_lines->lineCount());
    const auto after = std::partition_point(m_points.begin(), m_points.end(),
                                            [time](const Point& p) { return p.highest < time; });
    const auto i = static_cast<std::int64_t>(after - m_points.begin());
    if (i == 0)
        return m_points.empty() ? count : LineNumber(0);
    // The line is after point i - 1 and at point i at the latest.
    const LineNumber from = (i - 1) * m_step + 1;
    const LineNumber to = std::min<LineNumber>(i * m_step, count);
    std::int64_t highest = m_points[static_cast<std::size_t>(i - 1)].highest;
    LineNumber found = after == m_points.end() ? count : to;
    forEachStamp(from, to, m_ctx, [&](LineNumber line, std::int64_t stamp, std::size_t) {
        highest = std::max(highest, stamp);
        if (highest >= time) {
            found = line;
            return false;
        }
        return true;
    });
    return found;
}

std::optional<std::int64_t> TimeIndex::timeOfLine(LineNumber line) const
{
    if (line < 0 || line >= EndLine(m_lines->lineCount()))
        return std::nullopt;
    const std::int64_t point = line.value() / m_step;
    std::int64_t carried = m_points[static_cast<std::size_t>(point)].carried;
    forEachStamp(point * m_step + 1, line + 1, m_ctx, [&](LineNumber, std::int64_t stamp, std::size_t) {
        if (stamp != kNoTime)
            carried = stamp;
        return true;
    });
    if (carried == kNoTime)
        return std::nullopt;
    return carried;
}

std::optional<std::int64_t> TimeIndex::lastTime() const
{
    if (m_lastCarried == kNoTime)
        return std::nullopt;
    return m_lastCarried;
}

namespace {

struct QueryCursor {
    std::string_view text;
    std::size_t at = 0;

    char peek(std::size_t ahead = 0) const { return at + ahead < text.size() ? text[at + ahead] : '\0'; }
    bool done() const { return at >= text.size(); }
    bool take(char c)
    {
        if (peek() == c && !done()) {
            ++at;
            return true;
        }
        return false;
    }
    // Between `least` and `most` digits.
    bool number(int least, int most, int& value)
    {
        int count = 0, v = 0;
        while (count < most && peek() >= '0' && peek() <= '9' && !done()) {
            v = v * 10 + (peek() - '0');
            ++at;
            ++count;
        }
        value = v;
        return count >= least;
    }
};

bool ValidQueryDate(int year, int month, int day)
{
    if (month < 1 || month > 12 || day < 1)
        return false;
    int y = 0, m = 0, d = 0;
    CivilFromDays(DaysFromCivil(year, month, day), y, m, d);
    return y == year && m == month && d == day;
}

} // namespace

std::optional<std::int64_t> ParseTimeQuery(std::string_view text, std::int64_t reference)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    const StampContext ctx(reference);
    int year = 0, month = 0, day = 0;
    CivilFromDays(FloorDiv(StampContext::utcToLocal(FloorDiv(reference, kNano)), kDay), year, month, day);

    QueryCursor c{text};
    // A date: yyyy-mm-dd, or mm-dd in the reference's year ("/" will do for "-").
    QueryCursor probe = c;
    int first = 0;
    if (probe.number(1, 4, first) && (probe.peek() == '-' || probe.peek() == '/')) {
        const std::size_t firstDigits = probe.at;
        const char separator = probe.peek();
        ++probe.at;
        int second = 0, third = 0;
        if (!probe.number(1, 2, second))
            return std::nullopt;
        if (probe.take(separator)) {
            if (firstDigits != 4 || !probe.number(1, 2, third))
                return std::nullopt;
            year = first;
            month = second;
            day = third;
        } else {
            if (firstDigits > 2)
                return std::nullopt;
            month = first;
            day = second;
            // A day later in the year than the reference's is last year's.
            if (ValidQueryDate(year, month, day) && DaysFromCivil(year, month, day) * kDay > ctx.latestLocal())
                --year;
        }
        if (!ValidQueryDate(year, month, day))
            return std::nullopt;
        c = probe;
        if (c.done())
            return ctx.localToUtc(DaysFromCivil(year, month, day) * kDay) * kNano;
        if (!c.take(' ') && !c.take('T') && !c.take('t'))
            return std::nullopt;
        while (c.take(' ')) {
        }
    }
    // The time: hh:mm[:ss[.fraction]].
    int hour = 0, minute = 0, second = 0;
    if (!c.number(1, 2, hour) || !c.take(':') || !c.number(2, 2, minute))
        return std::nullopt;
    if (c.take(':') && !c.number(2, 2, second))
        return std::nullopt;
    std::int64_t nanos = 0;
    if (c.take('.') || c.take(',')) {
        std::int64_t scale = kNano;
        int digits = 0;
        while (c.peek() >= '0' && c.peek() <= '9' && !c.done()) {
            if (scale > 1) {
                scale /= 10;
                nanos += (c.peek() - '0') * scale;
            }
            ++c.at;
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
    }
    if (hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const std::int64_t civil = DaysFromCivil(year, month, day) * kDay + hour * 3600 + minute * 60 + second;
    // A zone named after it.
    c.take(' ');
    if (c.done())
        return ctx.localToUtc(civil) * kNano + nanos;
    std::int64_t offset = 0;
    if (c.take('Z') || c.take('z')) {
        offset = 0;
    } else if (c.peek() == '+' || c.peek() == '-') {
        const int sign = c.peek() == '-' ? -1 : 1;
        ++c.at;
        int hours = 0, minutes = 0;
        if (!c.number(2, 2, hours))
            return std::nullopt;
        c.take(':');
        if (!c.done() && !c.number(2, 2, minutes))
            return std::nullopt;
        if (hours > 14 || minutes > 59)
            return std::nullopt;
        offset = sign * (hours * 3600 + minutes * 60);
    } else {
        return std::nullopt;
    }
    if (!c.done())
        return std::nullopt;
    return (civil - offset) * kNano + nanos;
}

} // namespace tlg
