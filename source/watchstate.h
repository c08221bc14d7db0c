#pragma once

// The record of a followed file, kept by its log, and the watcher's decisions over it; and
// when colouring of a text read is due. Touched on the GUI thread only.

#include <cstdint>
#include <string>

namespace tlg {

// What stat() says of a file at full resolution: a rewrite that keeps the size within one
// two-second step of the age stamp, or a new file under the same name, still differs here.
struct FileStamp {
    std::int64_t modifiedNs = 0; // last-write time in nanoseconds since the epoch
    std::int64_t size = -1;      // -1: missing
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
};

// One stat call; a missing path gives the default stamp.
FileStamp StampOf(const std::string& path);

// The watcher's record of one followed file.
struct WatchState {
    bool FileOpen = false;           // a log is open and the watcher polls it
    std::int32_t StoredAge = 0;      // age stamp at the last completed load; 0 forces a reload
    std::int64_t StoredSize = 0;     // size in bytes at the last completed load
    std::int32_t SampledAge = 1;     // age stamp read at the start of the current tick
    std::int64_t SampledSize = 1;    // size read at the start of the current tick (-1: missing)
    bool AutoRefresh = true;         // reload automatically when the file changes
    FileStamp StoredStamp;           // the full-resolution stamp at the last completed load
    FileStamp SampledStamp;          // and at the start of the current tick
};

// Colouring of a text read while colouring was off: due once it is on again, at a tick.
struct ColouringDue {
    bool FormatPending = false;   // colouring of the freshly loaded text is due
    std::int32_t FormatTicks = 0; // ticks counted while colouring is due
};

// A new file is about to be shown: a stored age of 0 never equals a real age stamp, so the
// next tick loads it.
void ResetForNewFile(WatchState& state);

// Reads the file's age stamp, size and full-resolution stamp into the sampled fields: three
// stat calls, no read.
void SampleFile(WatchState& state, const std::string& path);

// The number of ticks after a load that due colouring waits: 1000 ms divided by the interval.
std::int32_t ColouringThreshold(std::int32_t intervalMs);

// Counts a tick while colouring is due and on; true when the colouring pass runs now.
bool TakeColouringTick(ColouringDue& due, bool colouringOn, std::int32_t intervalMs);

// Colouring of freshly loaded text is due from the next tick on.
void MarkColouringDue(ColouringDue& due);
// A colouring pass ran.
void MarkColoured(ColouringDue& due);

// The sampled age stamp, size or full-resolution stamp differs from the stored one.
bool ChangeSeen(const WatchState& state);

// A load completed: the values sampled before it become the stored ones, so a write that
// landed during the load is seen at the next tick.
void StoreSampled(WatchState& state);

} // namespace tlg
