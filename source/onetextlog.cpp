#include "source/onetextlog.h"

#include <QDateTime>
#include <QFileInfo>

namespace tlg {

std::int64_t ModifiedTimeOf(const QString& path)
{
    const QDateTime modified = path.isEmpty() ? QDateTime() : QFileInfo(path).lastModified();
    return (modified.isValid() ? modified.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch()) * 1000000;
}

OneTextLog::OneTextLog(QObject* parent) : Log(parent), m_times(new LogTimes(this))
{
    connect(m_times, &LogTimes::indexChanged, this, &Log::timesChanged);
}

std::optional<std::int64_t> OneTextLog::lastTime() const
{
    const TimeIndexPtr index = m_times->index();
    return index ? index->lastTime() : std::nullopt;
}

std::optional<LineNumber> OneTextLog::firstLineAtOrAfter(std::int64_t time) const
{
    const TimeIndexPtr index = m_times->index();
    if (!index)
        return std::nullopt;
    const LineNumber line = index->firstLineAtOrAfter(time);
    return line < EndLine(index->lines()->lineCount()) ? std::optional<LineNumber>(line) : std::nullopt;
}

std::optional<std::int64_t> OneTextLog::timeOfLine(LineNumber line) const
{
    const TimeIndexPtr index = m_times->index();
    return index ? index->timeOfLine(line.value()) : std::nullopt;
}

LogTimeline OneTextLog::timeline() const
{
    LogTimeline timeline;
    timeline.index = m_times->index();
    if (timeline.index) {
        timeline.lines = timeline.index->lines();
        timeline.form = timeline.index->form();
        timeline.context = timeline.index->context();
    }
    return timeline;
}

} // namespace tlg
