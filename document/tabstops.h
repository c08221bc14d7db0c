#pragma once

// Tab stops: a tab runs to the next multiple of kTabWidth columns. The line index measures the
// widest line by them and the view lays lines out by them.

#include <cstdint>

namespace tlg {

inline constexpr std::int64_t kTabWidth = 8;

} // namespace tlg
