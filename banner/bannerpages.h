#pragma once

// The banner's stored pages: their names and addresses, and when a stored copy is fresh
// enough to need no download.

#include <cstdint>
#include <ctime>
#include <string>

namespace tlg {

// The banner shows this many pages in turn.
inline constexpr int kBannerPages = 3;

// The file name of page n (1 to 3): prefix followed by "-1.htm", "-2.htm" or "-3.htm".
std::string BannerPageName(const std::string& prefix, int page);

// The download address of a page: the base address, a "/" when it does not end in one, and
// the page's file name.
std::string BannerPageAddress(const std::string& base, const std::string& pageName);

// True when a stored copy whose AgeStamp is ageStamp needs no download: it exists (ageStamp
// is not -1) and its local time plus exactly one day is not before nowLocal. A copy dated in
// the future is fresh. Both times are local wall-clock times, compared as they read.
bool IsFreshCopy(std::int32_t ageStamp, const std::tm& nowLocal);

} // namespace tlg
