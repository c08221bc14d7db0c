#include "document/timestamps.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>

namespace tlg {

namespace {

constexpr std::int64_t kNano = 1'000'000'000;
constexpr std::int64_t kDay = 86'400;
// Plausible epoch stamps lie in 2000..2099.
constexpr std::int64_t kEpochLow = 946'684'800;
constexpr std::int64_t kEpochHigh = 4'102'444'800;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A cursor over a line's head: every read checks the end, so a parser never looks past it.
struct Cursor {
    const char* p;
    const char* end;

    bool atEnd() const { return p >= end; }
    char peek(std::size_t ahead = 0) const { return p + ahead < end ? p[ahead] : '\0'; }
    bool take(char c)
    {
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
    // Exactly `count` digits.
    bool digits(int count, int& value)
    {
        if (end - p < count)
            return false;
        int v = 0;
        for (int i = 0; i < count; ++i) {
            if (!IsDigit(p[i]))
                return false;
            v = v * 10 + (p[i] - '0');
        }
        value = v;
        p += count;
        return true;
    }
};

int DaysInMonth(int year, int month)
{
    static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[static_cast<std::size_t>(month - 1)];
}

bool ValidDate(int year, int month, int day)
{
    return year >= 1970 && year <= 2200 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

// "Jan".."Dec" in any case: 1..12, or 0.
int MonthName(Cursor& c)
{
    if (c.end - c.p < 3)
        return 0;
    static constexpr std::array<const char*, 12> names{"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                       "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const char a = Upper(c.p[0]), b = Upper(c.p[1]), d = Upper(c.p[2]);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i][0] == a && names[i][1] == b && names[i][2] == d) {
            c.p += 3;
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

// The time of day: hh:mm[:ss][(.|,)fraction]. Seconds are needed when `needSeconds`.
// The digits after a fraction's separator, as a part of `unit` (kept to the nanosecond; the
// cursor passes every digit).
std::int64_t Fraction(Cursor& c, std::int64_t unit)
{
    std::int64_t nanos = 0;
    for (std::int64_t place = unit; !c.atEnd() && IsDigit(*c.p); ++c.p) {
        if (place > 1) {
            place /= 10;
            nanos += (*c.p - '0') * place;
        }
    }
    return nanos;
}

bool TimeOfDay(Cursor& c, bool needSeconds, std::int64_t& seconds, std::int64_t& nanos)
{
    int hour = 0, minute = 0, second = 0;
    if (!c.digits(2, hour) || !c.take(':') || !c.digits(2, minute))
        return false;
    if (c.peek() == ':' && IsDigit(c.peek(1))) {
        ++c.p;
        if (!c.digits(2, second))
            return false;
    } else if (needSeconds || IsDigit(c.peek())) {
        return false;
    }
    if (hour > 23 || minute > 59 || second > 60)
        return false;
    nanos = 0;
    if ((c.peek() == '.' || c.peek() == ',') && IsDigit(c.peek(1))) {
        ++c.p;
        nanos = Fraction(c, kNano);
    }
    seconds = hour * 3600 + minute * 60 + second;
    return true;
}

// A zone after a time: Z, +hh:mm, +hhmm or +hh, or " +hhmm" / " +hh:mm" after a blank. Sets
// `offset` (seconds east of UTC) and returns true when one is there; leaves the cursor alone
// otherwise.
bool Zone(Cursor& c, std::int64_t& offset)
{
    if (c.peek() == 'Z' || c.peek() == 'z') {
        if (IsAlpha(c.peek(1)))
            return false;
        ++c.p;
        offset = 0;
        return true;
    }
    Cursor t = c;
    const bool blank = t.take(' ');
    const char sign = t.peek();
    if (sign != '+' && sign != '-')
        return false;
    ++t.p;
    int hours = 0, minutes = 0;
    if (!t.digits(2, hours))
        return false;
    if (t.take(':')) {
        if (!t.digits(2, minutes))
            return false;
    } else if (IsDigit(t.peek())) {
        if (!t.digits(2, minutes))
            return false;
    } else if (blank) {
        return false; // " -05" is too likely something else
    }
    if (IsDigit(t.peek()) || hours > 14 || minutes > 59)
        return false;
    offset = (hours * 3600 + minutes * 60) * (sign == '-' ? -1 : 1);
    c = t;
    return true;
}

// The stamp's time: a civil time in the zone given, or local time when none.
std::int64_t Finish(std::int64_t civilSeconds, std::int64_t nanos, bool zoned, std::int64_t offset,
                    const StampContext& ctx)
{
    const std::int64_t utc = zoned ? civilSeconds - offset : ctx.localToUtc(civilSeconds);
    return utc * kNano + nanos;
}

// 2026-12-07T10:00:01.123+01:00, or with `/` between the date's fields (no T then).
std::optional<std::int64_t> ParseIsoLike(Cursor c, char separator, const StampContext& ctx)
{
    int year = 0, month = 0, day = 0;
    if (!c.digits(4, year) || !c.take(separator) || !c.digits(2, month) || !c.take(separator) ||
        !c.digits(2, day) || !ValidDate(year, month, day))
        return std::nullopt;
    if (!(c.take(' ') || (separator == '-' && (c.take('T') || c.take('t')))))
        return std::nullopt;
    std::int64_t seconds = 0, nanos = 0, offset = 0;
    if (!TimeOfDay(c, false, seconds, nanos))
        return std::nullopt;
    const bool zoned = Zone(c, offset);
    return Finish(DaysFromCivil(year, month, day) * kDay + seconds, nanos, zoned, offset, ctx);
}

// Dec  7 10:00:01, Dec 07 10:00:01.123456: the latest year that puts it no later than a day
// after the reference.
std::optional<std::int64_t> ParseSyslog(Cursor c, const StampContext& ctx)
{
    const int month = MonthName(c);
    if (month == 0 || !c.take(' '))
        return std::nullopt;
    int day = 0;
    if (c.take(' ')) {
        if (!c.digits(1, day))
            return std::nullopt;
    } else if (!c.digits(2, day) && !c.digits(1, day)) {
        return std::nullopt;
    }
    if (!c.take(' ') || day < 1 || day > 31)
        return std::nullopt;
    std::int64_t seconds = 0, nanos = 0, offset = 0;
    if (!TimeOfDay(c, true, seconds, nanos))
        return std::nullopt;
    const bool zoned = Zone(c, offset);
    for (int year = ctx.referenceYear() + 1; year >= ctx.referenceYear() - 8; --year) {
        if (!ValidDate(year, month, day))
            continue; // 29 February of a year that has none
        const std::int64_t civil = DaysFromCivil(year, month, day) * kDay + seconds;
        if (civil <= ctx.latestLocal())
            return Finish(civil, nanos, zoned, offset, ctx);
    }
    return std::nullopt;
}

// 07/Dec/2026:10:00:01 +0000 (after its "[").
std::optional<std::int64_t> ParseWebServer(Cursor c, const StampContext& ctx)
{
    int day = 0, year = 0;
    if (!c.digits(2, day) || !c.take('/'))
        return std::nullopt;
    const int month = MonthName(c);
    if (month == 0 || !c.take('/') || !c.digits(4, year) || !c.take(':') || !ValidDate(year, month, day))
        return std::nullopt;
    std::int64_t seconds = 0, nanos = 0, offset = 0;
    if (!TimeOfDay(c, true, seconds, nanos))
        return std::nullopt;
    const bool zoned = Zone(c, offset);
    return Finish(DaysFromCivil(year, month, day) * kDay + seconds, nanos, zoned, offset, ctx);
}

// 1765101601[.123] (10 digits) or 1765101601123[.456] (13 digits), not followed by a letter
// or another digit, and within 2000..2099.
std::optional<std::int64_t> ParseEpoch(Cursor c, int width)
{
    std::int64_t value = 0;
    for (int i = 0; i < width; ++i) {
        if (c.atEnd() || !IsDigit(*c.p))
            return std::nullopt;
        value = value * 10 + (*c.p++ - '0');
    }
    if (IsDigit(c.peek()))
        return std::nullopt;
    const std::int64_t unit = width == 10 ? kNano : 1'000'000;
    const std::int64_t scale = width == 10 ? 1 : 1000;
    if (value < kEpochLow * scale || value >= kEpochHigh * scale)
        return std::nullopt;
    std::int64_t nanos = 0;
    if (c.peek() == '.' && IsDigit(c.peek(1))) {
        ++c.p;
        nanos = Fraction(c, unit);
        if (c.peek() == '.')
            return std::nullopt; // 1765101601.1.2 is a version, not a time
    }
    if (IsAlpha(c.peek()) || c.peek() == '_')
        return std::nullopt;
    return value * unit + nanos;
}

// A level word as logs write them before or after their stamp.
bool LevelWord(Cursor& c)
{
    static constexpr std::array<std::string_view, 27> words{
        "TRACE", "DEBUG", "DBG",    "INFO",  "INF",      "NOTICE", "NOTE",    "WARN",  "WARNING",
        "WRN",   "ERROR", "ERR",    "FATAL", "CRIT",     "CRITICAL", "ALERT", "EMERG", "EMERGENCY",
        "SEVERE", "FINE", "FINER",  "FINEST", "CONFIG",  "VERBOSE", "VRB",    "FAIL",  "PANIC"};
    std::size_t length = 0;
    while (c.p + length < c.end && IsAlpha(c.p[length]) && length < 10)
        ++length;
    if (length == 0 || (c.p + length < c.end && (IsDigit(c.p[length]) || c.p[length] == '_')))
        return false;
    for (const std::string_view word : words) {
        if (word.size() != length)
            continue;
        bool same = true;
        for (std::size_t i = 0; i < length && same; ++i)
            same = Upper(c.p[i]) == word[i];
        if (same) {
            c.p += length;
            c.take(':');
            return true;
        }
    }
    return false;
}

std::optional<std::int64_t> ParseAt(const Cursor& c, const char* begin, TimeForm form, const StampContext& ctx)
{
    switch (form) {
    case TimeForm::Iso:
        return IsDigit(c.peek()) ? ParseIsoLike(c, '-', ctx) : std::nullopt;
    case TimeForm::Slashed:
        return IsDigit(c.peek()) ? ParseIsoLike(c, '/', ctx) : std::nullopt;
    case TimeForm::Syslog:
        return IsAlpha(c.peek()) ? ParseSyslog(c, ctx) : std::nullopt;
    case TimeForm::EpochSeconds:
    case TimeForm::EpochMillis:
        // Only at the line's start or right after a bracket: any other number is too likely
        // something else.
        if (!IsDigit(c.peek()) || (c.p != begin && c.p[-1] != '['))
            return std::nullopt;
        return ParseEpoch(c, form == TimeForm::EpochSeconds ? 10 : 13);
    case TimeForm::WebServer:
    case TimeForm::None:
        break;
    }
    return std::nullopt;
}

} // namespace

std::int64_t DaysFromCivil(int year, int month, int day)
{
    // Howard Hinnant's days_from_civil.
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = FloorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day)
{
    days += 719468;
    const std::int64_t era = FloorDiv(days, 146097);
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

StampContext::StampContext()
    : StampContext(std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count())
{
}

StampContext::StampContext(std::int64_t reference) : m_reference(reference)
{
    const std::int64_t local = utcToLocal(FloorDiv(reference, kNano));
    int month = 0, day = 0;
    CivilFromDays(FloorDiv(local, kDay), m_referenceYear, month, day);
    m_latestLocal = local + kDay;
}

std::int64_t StampContext::utcToLocal(std::int64_t utcSeconds)
{
    const auto t = static_cast<std::time_t>(utcSeconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return utcSeconds;
    return utcSeconds + local.tm_gmtoff;
}

std::int64_t StampContext::localToUtc(std::int64_t localSeconds) const
{
    // Zones change their offset on the hour (nearly all of them), so the offset at the start
    // of a local hour holds for all of it. An hour that a change of zone repeats takes the
    // offset mktime picks for its start.
    const std::int64_t hour = FloorDiv(localSeconds, 3600);
    if (hour != m_cachedHour) {
        int year = 0, month = 0, day = 0;
        CivilFromDays(FloorDiv(hour, 24), year, month, day);
        std::tm civil{};
        civil.tm_year = year - 1900;
        civil.tm_mon = month - 1;
        civil.tm_mday = day;
        civil.tm_hour = static_cast<int>(hour - FloorDiv(hour, 24) * 24);
        civil.tm_isdst = -1;
        const std::time_t utc = std::mktime(&civil);
        m_cachedOffset = utc == static_cast<std::time_t>(-1) ? 0 : hour * 3600 - static_cast<std::int64_t>(utc);
        m_cachedHour = hour;
    }
    return localSeconds - m_cachedOffset;
}

std::optional<std::int64_t> ParseStamp(std::string_view lineHead, TimeForm form, const StampContext& ctx)
{
    if (form == TimeForm::None || lineHead.empty())
        return std::nullopt;
    lineHead = lineHead.substr(0, kStampHead);
    const char* const begin = lineHead.data();
    const char* const end = begin + lineHead.size();
    const char* const lastStart = begin + std::min(kStampStart, lineHead.size());

    if (form == TimeForm::WebServer) {
        // After the host and user fields: the first "[" that opens such a stamp.
        for (const char* p = begin; p < lastStart; ++p) {
            if (*p == '[') {
                if (auto time = ParseWebServer(Cursor{p + 1, end}, ctx))
                    return time;
            }
        }
        return std::nullopt;
    }

    Cursor c{begin, end};
    for (int fields = 0; fields < 5; ++fields) {
        while (c.p < lastStart && (*c.p == ' ' || *c.p == '\t'))
            ++c.p;
        if (c.p >= lastStart)
            return std::nullopt;
        if (auto time = ParseAt(c, begin, form, ctx))
            return time;
        // Step over what may stand before a stamp.
        const char first = *c.p;
        if (first == '<' && IsDigit(c.peek(1))) {
            // A syslog priority, and the version of RFC 5424 after it.
            ++c.p;
            int digits = 0;
            while (!c.atEnd() && IsDigit(*c.p) && digits < 3) {
                ++c.p;
                ++digits;
            }
            if (!c.take('>'))
                return std::nullopt;
            if (IsDigit(c.peek()) && c.peek(1) == ' ')
                ++c.p;
        } else if (first == '[' || first == '(') {
            // A stamp right after the bracket, or else a short field in brackets ([main]).
            ++c.p;
            if (auto time = ParseAt(c, begin, form, ctx))
                return time;
            const char close = first == '[' ? ']' : ')';
            const char* q = c.p;
            while (q < lastStart && *q != close && *q != first)
                ++q;
            if (q >= lastStart || *q != close)
                return std::nullopt;
            c.p = q + 1;
            c.take(':');
        } else if (!LevelWord(c)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

TimeForm RecogniseStamp(std::string_view lineHead, const StampContext& ctx)
{
    for (const TimeForm form : {TimeForm::Iso, TimeForm::Syslog, TimeForm::WebServer, TimeForm::Slashed,
                                TimeForm::EpochSeconds, TimeForm::EpochMillis}) {
        if (ParseStamp(lineHead, form, ctx))
            return form;
    }
    return TimeForm::None;
}

TimeForm DetectTimeForm(const LineSource& lines, LineCount maxLines, std::size_t maxBytes)
{
    const LineNumber lastLine = EndLine(std::min(lines.lineCount(), maxLines));
    const ByteOffset to = std::min(lines.lineIndex(lastLine), static_cast<ByteOffset>(maxBytes));
    const TextSlice text = lines.read(0, to);
    const StampContext ctx;
    std::array<int, 7> votes{};
    for (LineNumber line = 0; line < lastLine; ++line) {
        const ByteOffset start = lines.lineIndex(line);
        if (start >= to)
            break;
        const ByteOffset headEnd = std::min({lines.lineContentEnd(line), to, start + static_cast<ByteOffset>(kStampHead)});
        const std::string_view head = text.view().substr(static_cast<std::size_t>(start.value()),
                                                         static_cast<std::size_t>((headEnd - start).value()));
        ++votes[static_cast<std::size_t>(RecogniseStamp(head, ctx))];
    }
    TimeForm best = TimeForm::None;
    int most = 0;
    for (std::size_t i = 1; i < votes.size(); ++i) {
        if (votes[i] > most) {
            most = votes[i];
            best = static_cast<TimeForm>(i);
        }
    }
    return best;
}

} // namespace tlg
