#pragma once

// The times of one log's lines: the form of its stamps (found from its first lines, or chosen
// with View > "Time Format", or off) and a sparse record of times over its text, built beside
// the GUI thread and grown at the cost of the new lines as the log grows. Going to a time asks
// it for the first line at or after that time.

#include "document/timeindex.h"
#include "document/timestamps.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <optional>

namespace tlg {

class LogTimes : public QObject {
    Q_OBJECT

public:
    explicit LogTimes(QObject* parent = nullptr);
    ~LogTimes() override;

    // Found from the log's first lines (nothing), one form held (a form), or no times (None).
    void choose(std::optional<TimeForm> form);
    std::optional<TimeForm> choice() const { return m_choice; }
    // The log's whole text changed (it was read, grew or was written anew); `modified` is the
    // file's modification time (ns since 1970), for the year of stamps that have none.
    void setText(LinesPtr text, std::int64_t modified);

    // The record of the text last given, once built (null while it is built, or without times).
    TimeIndexPtr index() const { return m_index && m_index->lines() == m_text ? m_index : nullptr; }
    TimeForm form() const { return m_form; }
    bool building() const { return m_job != nullptr; }

signals:
    // A record was built or grown, or a text was found to hold no times.
    void indexChanged();

private:
    struct Job;
    void update();

    std::optional<TimeForm> m_choice;
    TimeForm m_form = TimeForm::None;
    LinesPtr m_text;
    std::int64_t m_modified = 0;
    TimeIndexPtr m_index;
    LinesPtr m_timeless; // the last text found to hold no times
    std::shared_ptr<Job> m_job;
};

} // namespace tlg
