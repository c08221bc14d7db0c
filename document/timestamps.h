#pragma once

// The time stamps that begin log lines: which way of writing them a log uses, and the time a
// line's stamp stands for, in nanoseconds since 1970-01-01 00:00 UTC. Parsing works on the
// line's bytes, which are ASCII where a stamp stands in every encoding a log is held in
// (UTF-8, Windows-1252, ISO-8859-1), without allocation, locale or regular expression, so
// that it keeps pace with a pass over tens of millions of lines.
//
// A stamp begins within the first kStampStart bytes of its line: at its start, or after a
// level word (INFO, [ERROR], WARN: ...), a syslog priority (<13>, <13>1), an opening bracket
// or a short bracketed field ([main]); the web servers' stamp after the host and user fields
// ("127.0.0.1 - frank [07/Dec/2026:10:00:01 +0000] ..."). A stamp without a zone is local
// time, as the C library's TZ has it.

#include "document/linesource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tlg {

// How a log writes its stamps.
enum class TimeForm {
    None,
    // 2026-12-07T10:00:01.123+01:00, 2026-12-07 10:00:01,123, 2026-12-07T10:00:01Z,
    // 2026-12-07T10:00:01+0000 (the journal's short-iso); seconds may be left out.
    Iso,
    // Dec  7 10:00:01, Dec 07 10:00:01.123456 (syslog, the journal's short forms): the year is
    // the reference time's, or the one before when that would put the stamp more than a day
    // after the reference.
    Syslog,
    // [07/Dec/2026:10:00:01 +0000], the web servers' common and combined log formats.
    WebServer,
    // 2026/12/07 10:00:01.123
    Slashed,
    // 1765101601 or 1765101601.123: seconds since 1970, at the line's start or after "[".
    EpochSeconds,
    // 1765101601123: milliseconds since 1970, likewise.
    EpochMillis,
};

// A stamp starts within this many bytes of its line's start...
inline constexpr std::size_t kStampStart = 64;
// ...and a parser looks at no more of the line than this.
inline constexpr std::size_t kStampHead = 112;

// What parsing a stamp needs besides its bytes: the reference time that gives a syslog stamp
// its year (the log's modification time, say) and the local zone. It keeps the zone offset of
// the last local hour it converted, so that a run of lines costs one mktime per hour; a
// context is therefore used by one thread at a time (copy it for another, copies are cheap).
// Make a new one when TZ changed.
class StampContext {
public:
    // The reference is nanoseconds since 1970 UTC; without one, now.
    StampContext();
    explicit StampContext(std::int64_t reference);

    std::int64_t reference() const { return m_reference; }
    // The reference's year in local time.
    int referenceYear() const { return m_referenceYear; }
    // Seconds since 1970 UTC of a local time given as the seconds that time would be if it
    // were UTC (a civil date and time counted as timegm counts them).
    std::int64_t localToUtc(std::int64_t localSeconds) const;
    // The other way: the local civil time of a UTC second, counted the same way.
    static std::int64_t utcToLocal(std::int64_t utcSeconds);
    // The latest local civil second a syslog stamp may stand for: the reference plus a day.
    std::int64_t latestLocal() const { return m_latestLocal; }

private:
    std::int64_t m_reference = 0;
    int m_referenceYear = 1970;
    std::int64_t m_latestLocal = 0;
    mutable std::int64_t m_cachedHour = INT64_MIN;
    mutable std::int64_t m_cachedOffset = 0;
};

// The time of the stamp in `lineHead` (a line's first bytes, kStampHead of them or all of a
// shorter line; bytes past its end are not looked at) written in `form`, in nanoseconds since
// 1970 UTC; nothing when the line holds no such stamp where one may stand.
std::optional<std::int64_t> ParseStamp(std::string_view lineHead, TimeForm form, const StampContext& ctx);

// The form of the stamp that `lineHead` begins with, None when it has none (a continuation
// line, say). Forms are tried in the order of the enumeration.
TimeForm RecogniseStamp(std::string_view lineHead, const StampContext& ctx);

// The form most of a log's first lines (at most `maxLines` of them, in at most `maxBytes`)
// write their stamps in; lines without a stamp do not count. None when no line has one.
TimeForm DetectTimeForm(const LineSource& lines, LineCount maxLines = 200, std::size_t maxBytes = 64u << 10);

// Days since 1970-01-01 of a civil date (the proleptic Gregorian calendar), and back.
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);

} // namespace tlg
