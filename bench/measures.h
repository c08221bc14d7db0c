#pragma once

// What the measurements share: the process's peak memory and the default profile's colour rules.

#include "search/colourrules.h"
#include "format/formatfile.h"

#include <sys/resource.h>

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
