#pragma once

// A broken-down time from its parts (local for the DOS date-time packing, UTC for timegm).

#include <ctime>

namespace tlg::testing {

inline std::tm localTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

} // namespace tlg::testing
