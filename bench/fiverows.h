#pragma once

// The filter stack the benchmarks measure on the 1 GiB log: three rows hide, two show only;
// plain and regular expressions, with and without case. And the grep pipeline that keeps the
// same lines.

#include "search/filterstack.h"

#include <array>
#include <string>

namespace tlg::bench {

struct BenchRow {
    const char* pattern;
    bool regex;
    bool matchCase;
    FilterRow::Kind kind;
};

inline constexpr std::array<BenchRow, 5> kFiveRows = {{
    {"handshake", false, false, FilterRow::Hide},
    {R"(\[[0-9]*7\])", true, true, FilterRow::Hide},
    {"timeout (GET|POST)", true, true, FilterRow::Hide},
    {"retry|(get|post) [0-9]{3}", true, false, FilterRow::ShowOnly},
    {"session", false, true, FilterRow::ShowOnly},
}};

// The pipeline over `log`, its lines written to `out`.
inline std::string FiveRowsPipeline(const std::string& log, const std::string& out)
{
    return "LC_ALL=C grep -v -F -i handshake '" + log +
           "' | LC_ALL=C grep -v -E '\\[[0-9]*7\\]' | LC_ALL=C grep -v -E 'timeout (GET|POST)'"
           " | LC_ALL=C grep -E -i 'retry|(get|post) [0-9]{3}' | LC_ALL=C grep -F session > " +
           out;
}

inline const char* verdict(bool met)
{
    return met ? "PASS" : "MISS";
}

} // namespace tlg::bench
