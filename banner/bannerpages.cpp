#include "banner/bannerpages.h"

namespace tlg {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month 1 to 12).
long long daysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

// Seconds of a wall-clock time counted as if it were UTC: enough to compare and add days to
// two local times without a time zone getting in between.
long long wallClockSeconds(long long year, unsigned month, unsigned day, long long hour,
                           long long minute, long long second)
{
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

} // namespace

std::string BannerPageName(const std::string& prefix, int page)
{
    return prefix + "-" + std::to_string(page) + ".htm";
}

std::string BannerPageAddress(const std::string& base, const std::string& pageName)
{
    if (!base.empty() && base.back() != '/') {
        return base + "/" + pageName;
    }
    return base + pageName;
}

bool IsFreshCopy(std::int32_t ageStamp, const std::tm& nowLocal)
{
    if (ageStamp == -1) {
        return false;
    }
    const auto stamp = static_cast<std::uint32_t>(ageStamp);
    const std::uint32_t date = stamp >> 16;
    const std::uint32_t time = stamp & 0xFFFF;
    const unsigned month = (date >> 5) & 0x0F;
    const unsigned day = date & 0x1F;
    if (month < 1 || month > 12 || day < 1) {
        return false; // no date a file can have: fetch it again
    }
    const long long stored =
        wallClockSeconds(1980 + ((date >> 9) & 0x7F), month, day, (time >> 11) & 0x1F,
                         (time >> 5) & 0x3F, (time & 0x1F) * 2);
    const long long now = wallClockSeconds(
        static_cast<long long>(nowLocal.tm_year) + 1900, static_cast<unsigned>(nowLocal.tm_mon + 1),
        static_cast<unsigned>(nowLocal.tm_mday), nowLocal.tm_hour, nowLocal.tm_min, nowLocal.tm_sec);
    return stored + 86400 >= now;
}

} // namespace tlg
