#pragma once

// The time histogram above the log view: one bar per interval of time, its height the number
// of the log's lines in that interval, with the part holding an error label in the error colour
// and the part holding an info label in the info colour. The interval is the finest of the
// ladder (1 s, 5 s, 15 s, 1 min, ... 1 day, 7 days) whose bars fit the strip's width. A click
// puts the caret on the first line of its interval, a drag over some bars looks closer at
// them, and a right click or a double click goes back to the whole log.
//
// The counts come from a pass beside the GUI thread that reads each line's labels and stamp at
// once; a followed log costs its new lines. A log without time stamps shows no strip. A merged
// log's strip counts the merged rows, each file in its own form, and its clicks and closer
// looks find rows through the merge.

#include "search/timehistogram.h"
#include "source/log.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace tlg {

class LogView;

class HistogramStrip : public QWidget {
    Q_OBJECT

public:
    // Counts the lines of the log shown in `view`, labelled by the rules `view` colours with;
    // clicks move `view`'s caret.
    HistogramStrip(LogView* view, QWidget* parent = nullptr);
    ~HistogramStrip() override;

    // The log whose times are counted (null: none); a log made of several counts each one's
    // lines in its own form.
    void setLog(Log* log);

    // The counts of the whole log as far as known (null before the first), and the histogram
    // the strip shows: the zoomed one, else the whole log's.
    const LogHistogramPtr& counts() const { return m_counts; }
    const TimeHistogram* shown() const;
    // The bars as the strip shows them at its width.
    const TimeHistogram::Bars& bars() const { return m_bars; }
    // The time range looked at closer, if any.
    std::optional<std::pair<std::int64_t, std::int64_t>> zoom() const { return m_zoom; }
    // No count is under way or waiting.
    bool idle() const { return !m_job && !m_dirty && !m_pendingZoom; }

    // The bar under a point of the strip (-1 when none), and where a bar is painted.
    int barAt(int x) const;
    QRect barRect(int bar) const;
    // Puts the caret on the first line of the bar's interval (on a filtered view, the first line
    // shown at or after it) and brings it into sight.
    void goToBar(int bar);
    // Looks closer at [from, to) (counted beside the GUI thread), or at the whole log again.
    void zoomTo(std::int64_t from, std::int64_t to);
    void zoomOut();

public slots:
    // Looks at the log's times and rules again: a log grown from the one counted costs its new
    // lines; the same log with the same rules costs nothing.
    void refresh();

signals:
    // Counts arrived and the strip shows them.
    void countsUpdated();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    struct Job;
    void start(std::shared_ptr<Job> job);
    void finished(const std::shared_ptr<Job>& job);
    void layBars();
    QRect barArea() const;
    void refreshParts(const LinesPtr& parted);
    LogTimeline timeline() const;
    // The counts are hidden: there are no times to show.
    void showNoCounts();

    LogView* m_view;
    QPointer<Log> m_log;
    LogHistogramPtr m_counts;
    std::optional<std::pair<std::int64_t, std::int64_t>> m_zoom;
    std::optional<TimeHistogram> m_zoomCounts;
    std::optional<std::pair<std::int64_t, std::int64_t>> m_pendingZoom; // asked for while a count ran
    TimeHistogram::Bars m_bars;
    std::shared_ptr<Job> m_job;
    bool m_dirty = false; // something changed while a count ran
    std::optional<int> m_pressX;
    int m_dragX = 0;
};

} // namespace tlg
