#pragma once

#include <cstddef>
#include <string>

namespace tlg {

inline constexpr const char* kMasterComputerFileName = "MasterSrv.TLG";

// The master computer's name, kept in MasterSrv.TLG in `folder` (which ends in '/'): the
// file's first line when the file exists (an empty file gives an empty name). When it is
// missing (a folder of that name counts as missing), the file is written with one line, this
// computer's name, and that name is returned. The file is never rewritten once it exists.
// Throws Failure ("Cannot open file <path>" or "Cannot create file <path>") when it cannot be
// read or written, and SettingsFileRefused when it is no regular file, is larger than
// kSettingsFileLimit, or its first line is longer than kMaxComputerNameLength bytes.
inline constexpr std::size_t kMaxComputerNameLength = 255;
std::string ReadOrCreateMasterComputerName(const std::string& folder);

} // namespace tlg
