#pragma once

// The process's time zone set for a test and put back after it, and UTC times from their
// parts as the C library counts them.

#include "support/localtime.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tlg::testing {

class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard()
    {
        if (m_old)
            ::setenv("TZ", m_old->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    std::optional<std::string> m_old;
};

// Central European time with its summer time, written out so that no zone database is needed.
inline constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// Nanoseconds since 1970 of a UTC date and time.
inline std::int64_t utcNanos(int year, int month, int day, int hour, int minute, int second,
                             std::int64_t nanos = 0)
{
    std::tm t = localTime(year, month, day, hour, minute, second);
    return static_cast<std::int64_t>(::timegm(&t)) * 1'000'000'000 + nanos;
}

} // namespace tlg::testing
