#include "core/fileops.h"
#include "banner/bannerpages.h"
#include "support/localtime.h"

#include <gtest/gtest.h>

namespace tlg {
namespace {

TEST(BannerPagesTest, CopyIsFreshForOneDayAndWhenDatedAhead)
{
    const std::int32_t stored = PackDosDateTime(testing::localTime(2026, 12, 7, 10, 0, 0));
    const std::int32_t newYearsEve = PackDosDateTime(testing::localTime(2026, 12, 31, 23, 0, 0));
    const std::tuple<const char*, std::int32_t, std::tm, bool> cases[] = {
        {"missing", -1, testing::localTime(2026, 12, 7, 10, 0, 0), false},
        {"an hour old", stored, testing::localTime(2026, 12, 7, 11, 0, 0), true},
        {"exactly one day old", stored, testing::localTime(2026, 12, 8, 10, 0, 0), true},
        {"a day and two seconds old", stored, testing::localTime(2026, 12, 8, 10, 0, 2), false},
        {"dated tomorrow", PackDosDateTime(testing::localTime(2026, 12, 8, 10, 0, 0)), testing::localTime(2026, 12, 7, 10, 0, 0), true},
        {"over the year's end", newYearsEve, testing::localTime(2027, 1, 1, 22, 59, 58), true},
        {"a day over the year's end", newYearsEve, testing::localTime(2027, 1, 1, 23, 0, 2), false},
        // 28 February plus a day is the 29th in a leap year, so the 1st of March is too late.
        {"leap day", PackDosDateTime(testing::localTime(2028, 2, 28, 12, 0, 0)), testing::localTime(2028, 3, 1, 0, 0, 0), false},
    };
    for (const auto& [name, stamp, now, fresh] : cases) {
        EXPECT_EQ(IsFreshCopy(stamp, now), fresh) << name;
    }
}

} // namespace
} // namespace tlg
