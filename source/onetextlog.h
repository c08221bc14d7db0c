#pragma once

// A log of one text (a file, a pipe, a journal): the times of its lines found by a LogTimes
// over its text, which the kind hands each new text it reads.
//
// Lives on the GUI thread and uses Qt Core only.

#include "source/log.h"
#include "source/logtimes.h"

namespace tlg {

// The time that gives the year to the syslog stamps of a file: its modification time (now,
// for a path that has none), in nanoseconds since 1970.
std::int64_t ModifiedTimeOf(const QString& path);

class OneTextLog : public Log {
    Q_OBJECT

public:
    explicit OneTextLog(QObject* parent = nullptr);

    std::optional<std::int64_t> lastTime() const override;
    std::optional<LineNumber> firstLineAtOrAfter(std::int64_t time) const override;
    std::optional<std::int64_t> timeOfLine(LineNumber line) const override;
    bool readingTimes() const override { return m_times->building(); }
    void chooseTimeForm(std::optional<TimeForm> form) override { m_times->choose(form); }
    std::optional<TimeForm> timeFormChoice() const override { return m_times->choice(); }
    LogTimeline timeline() const override;

protected:
    // The text whose times are read, and the time that gives a year to stamps without one.
    void timeText(LinesPtr text, std::int64_t modified) { m_times->setText(std::move(text), modified); }

private:
    LogTimes* m_times;
};

} // namespace tlg
