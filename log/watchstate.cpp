#include "log/watchstate.h"

#include "core/fileops.h"

namespace tlg {

void ResetForNewFile(WatchState& state)
{
    state.StoredAge = 0;
    state.FormatPending = false;
    state.FormatTicks = 0;
    state.ViewToggle = 1;
}

bool TakeFirstViewBack(WatchState& state, bool colouringOn)
{
    if (colouringOn || state.ViewToggle <= 1)
        return false;
    state.ViewToggle = 1;
    return true;
}

void SampleFile(WatchState& state, const std::string& path)
{
    state.SampledAge = AgeStamp(path);
    state.SampledSize = FileSizeOf(path);
}

std::int32_t ColouringThreshold(std::int32_t intervalMs)
{
    return intervalMs > 0 ? 1000 / intervalMs : 0;
}

bool TakeColouringTick(WatchState& state, bool colouringOn, std::int32_t intervalMs)
{
    if (!state.FormatPending || !colouringOn)
        return false;
    ++state.FormatTicks;
    // A negative count never qualifies, whatever the threshold.
    return state.FormatTicks >= 0 && state.FormatTicks >= ColouringThreshold(intervalMs);
}

void MarkColouringDue(WatchState& state)
{
    state.FormatPending = true;
    state.FormatTicks = 0;
}

void MarkColoured(WatchState& state)
{
    state.FormatPending = false;
    state.FormatTicks = 0;
}

bool ChangeSeen(const WatchState& state)
{
    return state.SampledAge != state.StoredAge || state.SampledSize != state.StoredSize;
}

void StoreSampled(WatchState& state)
{
    state.StoredAge = state.SampledAge;
    state.StoredSize = state.SampledSize;
}

} // namespace tlg
