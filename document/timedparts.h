#pragma once

// A line source made of several logs, each with its own times (a merged timeline): what a count
// by time reads such a source through, part by part, each part in its own stamp form, so that
// it need not know which kind of source it counts. LineSource::timedParts() gives it, or null
// for a source of one log.

#include "document/linesource.h"
#include "document/timestamps.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tlg {

class TimedParts {
public:
    // One log of the source: its lines, how it writes its stamps, and whether the source shows
    // its lines.
    struct Part {
        LinesPtr lines;
        TimeForm form = TimeForm::None;
        StampContext ctx;
        bool shown = true;
    };
    // Where a part stands at a row of the source: the next of its lines the source takes, and
    // the time the line before it carries (nothing before its first stamp).
    struct Place {
        LineNumber line = 0;
        std::optional<std::int64_t> carried;
    };

    virtual std::size_t partCount() const = 0;
    virtual Part part(std::size_t index) const = 0;
    // Where each part stands at a row (the end of the rows at most); a part not shown stands at
    // its start.
    virtual std::vector<Place> placesAt(LineNumber row) const = 0;
    // The first row from which on the highest time carried so far is at or after `time`
    // (nanoseconds since 1970 UTC); the line count when there is none.
    virtual LineNumber firstRowAtOrAfter(std::int64_t time) const = 0;

protected:
    ~TimedParts() = default;
};

} // namespace tlg
