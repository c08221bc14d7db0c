#pragma once

// What the measurements share: the process's peak memory, a median, the floor program's time
// over a log, and the default profile's colour rules.

#include "search/colourrules.h"
#include "format/formatfile.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

#include <string>
#include <vector>

namespace tlg::bench {

// The process's peak resident memory so far, mapped file pages included.
inline long peakMegabytes()
{
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The folder of a path, ending in '/' ("./" for a bare name).
inline std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

// The floor program's milliseconds over the log (-1 when it could not run).
inline double floorMilliseconds(const std::string& floor, const std::string& log)
{
    FILE* out = ::popen(("'" + floor + "' '" + log + "'").c_str(), "r");
    double ms = -1;
    if (out) {
        if (std::fscanf(out, "%lf", &ms) != 1)
            ms = -1;
        ::pclose(out);
    }
    return ms;
}

// The rules of the profile a new format file holds: its error and info rows.
inline ColourRules defaultRules()
{
    const std::vector<std::string> lines = SplitLines(DefaultFormatText());
    const LabelRow errors = LabelsOf(lines[2]);
    const LabelRow infos = LabelsOf(lines[3]);
    ColourRules rules;
    for (std::size_t i = 0; i < 10; ++i) {
        rules.errorLabels[i] = errors[i];
        rules.infoLabels[i] = infos[i];
    }
    return rules;
}

} // namespace tlg::bench
