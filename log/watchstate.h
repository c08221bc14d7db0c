#pragma once

// The record of the open log and of the change watcher, shared by loading, watching,
// colouring, the format editor, the file list and navigation. Touched on the GUI thread only.

#include <cstdint>

namespace tlg {

struct WatchState {
    bool FileOpen = false;          // a log is open and the watcher polls it
    std::int32_t StoredAge = 0;     // age stamp at the last completed load; 0 forces a reload
    std::int64_t StoredSize = 0;    // size in bytes at the last completed load
    std::int32_t SampledAge = 1;    // age stamp read at the start of the current tick
    std::int64_t SampledSize = 1;   // size read at the start of the current tick (-1: missing)
    bool FormatPending = false;     // colouring of the freshly loaded text is due
    std::int32_t FormatTicks = 0;   // ticks counted while colouring is due
    bool AutoRefresh = true;        // reload automatically when the file changes
    std::int32_t ViewToggle = 1;    // odd: RichEdit1 is shown, even: RichEdit3
    std::int32_t SavedCaretLine = 0; // caret line of the shown view, as last sampled
};

} // namespace tlg
