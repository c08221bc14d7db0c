#include "source/watchstate.h"

#include "core/fileops.h"

#include <sys/stat.h>

namespace tlg {

void ResetForNewFile(WatchState& state)
{
    state.StoredAge = 0;
}

FileStamp StampOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return {static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_size), static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino)};
}

void SampleFile(WatchState& state, const std::string& path)
{
    state.SampledAge = AgeStamp(path);
    state.SampledSize = FileSizeOf(path);
    state.SampledStamp = StampOf(path);
}

std::int32_t ColouringThreshold(std::int32_t intervalMs)
{
    return intervalMs > 0 ? 1000 / intervalMs : 0;
}

bool TakeColouringTick(ColouringDue& state, bool colouringOn, std::int32_t intervalMs)
{
    if (!state.FormatPending || !colouringOn)
        return false;
    ++state.FormatTicks;
    // A negative count never qualifies, whatever the threshold.
    return state.FormatTicks >= 0 && state.FormatTicks >= ColouringThreshold(intervalMs);
}

void MarkColouringDue(ColouringDue& state)
{
    state.FormatPending = true;
    state.FormatTicks = 0;
}

void MarkColoured(ColouringDue& state)
{
    state.FormatPending = false;
    state.FormatTicks = 0;
}

bool ChangeSeen(const WatchState& state)
{
    return state.SampledAge != state.StoredAge || state.SampledSize != state.StoredSize ||
           !(state.SampledStamp == state.StoredStamp);
}

void StoreSampled(WatchState& state)
{
    state.StoredAge = state.SampledAge;
    state.StoredSize = state.SampledSize;
    state.StoredStamp = state.SampledStamp;
}

} // namespace tlg
