#include "core/fileops.h"
#include "source/watchstate.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace tlg {
namespace {

TEST(WatchStateTest, DueColouringRunsAtTheFirstTickAfterALoad)
{
    EXPECT_EQ(ColouringThreshold(1000), 1);
    EXPECT_EQ(ColouringThreshold(2000), 0);
    EXPECT_EQ(ColouringThreshold(10000), 0);
    EXPECT_EQ(ColouringThreshold(300), 3);

    for (const std::int32_t interval : {1000, 2000, 10000}) {
        ColouringDue state;
        EXPECT_FALSE(TakeColouringTick(state, true, interval)) << "nothing is due";
        EXPECT_EQ(state.FormatTicks, 0);
        MarkColouringDue(state);
        EXPECT_FALSE(TakeColouringTick(state, false, interval)) << "colouring off";
        EXPECT_EQ(state.FormatTicks, 0) << "ticks are counted only while colouring is on";
        EXPECT_TRUE(TakeColouringTick(state, true, interval)) << interval;
        MarkColoured(state);
        EXPECT_FALSE(state.FormatPending);
        EXPECT_EQ(state.FormatTicks, 0);
    }

    // A shorter interval waits a second's worth of ticks.
    ColouringDue fast;
    MarkColouringDue(fast);
    EXPECT_FALSE(TakeColouringTick(fast, true, 300));
    EXPECT_FALSE(TakeColouringTick(fast, true, 300));
    EXPECT_TRUE(TakeColouringTick(fast, true, 300));

    // A manual reload starts the count at 999, past any threshold; a negative count never
    // qualifies.
    ColouringDue manual;
    manual.FormatPending = true;
    manual.FormatTicks = 999;
    EXPECT_TRUE(TakeColouringTick(manual, true, 100));
    ColouringDue negative;
    negative.FormatPending = true;
    negative.FormatTicks = -3;
    EXPECT_FALSE(TakeColouringTick(negative, true, 10000));
}

TEST(WatchStateTest, ChangesAreStoredFromTheValuesSampledBeforeTheLoad)
{
    testing::TempDir dir;
    const std::string path = dir.write("w.log", "12345");
    WatchState state;
    // The first tick on an open file always sees a change and loads it.
    EXPECT_TRUE(ChangeSeen(state));
    SampleFile(state, path);
    EXPECT_EQ(state.SampledAge, AgeStamp(path));
    EXPECT_EQ(state.SampledSize, 5);
    EXPECT_TRUE(ChangeSeen(state));
    StoreSampled(state);
    EXPECT_FALSE(ChangeSeen(state));

    // The size alone tells a write inside the same two-second step.
    state.SampledSize = 6;
    EXPECT_TRUE(ChangeSeen(state));
    StoreSampled(state);

    // A deleted log samples as -1, which differs from any stored value.
    SampleFile(state, dir.path("gone.log"));
    EXPECT_EQ(state.SampledAge, -1);
    EXPECT_EQ(state.SampledSize, -1);
    EXPECT_TRUE(ChangeSeen(state));

    ResetForNewFile(state);
    EXPECT_EQ(state.StoredAge, 0);
    EXPECT_TRUE(ChangeSeen(state)) << "a new file is read at the next tick";
}

} // namespace
} // namespace tlg
