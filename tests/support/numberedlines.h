#pragma once

// A log of numbered lines, "line 0" and up, each followed by `tail` and the line break.

#include <string>

namespace tlg::testing {

inline std::string numberedLines(int count, const char* lineBreak = "\n", const char* tail = "")
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + tail + lineBreak;
    return text;
}

} // namespace tlg::testing
