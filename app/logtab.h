#pragma once

// One open log in a tab: its view (RichEdit1), the overview strip beside it, its filter pane,
// its line indicator and the controller that reads and follows it, with status panels of its
// own. A tab out of sight goes on following its log, and remembers that it grew (and whether
// a new line holds an error label) until it is in sight again.

#include "core/statuspanels.h"
#include "document/linesource.h"

#include <QWidget>

#include <cstdint>
#include <optional>

namespace tlg {

class Colouring;
class FilterPane;
class FilterStackBar;
class FilterStackRunner;
class HistogramStrip;
struct StackRow;
class FilesLegend;
class LogController;
class LogTimes;
class MergedSource;
class LogView;
class OverviewStrip;
class PositionIndicator;

class LogTab : public QWidget {
    Q_OBJECT

public:
    // window is the parent of message boxes; viewMenu is the view's context menu.
    LogTab(QWidget* window, QMenu* viewMenu, const Colouring* colouring, QWidget* parent = nullptr);
    ~LogTab() override;

    LogController* log() const { return m_log; }
    LogView* view() const { return m_view; }
    OverviewStrip* overview() const { return m_overview; }
    FilterPane* filterPane() const { return m_filterPane; }
    PositionIndicator* position() const { return m_position; }
    StatusPanels& status() { return m_status; }
    FilterStackBar* filterStackBar() const { return m_stackBar; }
    FilterStackRunner* filterStack() const { return m_stack; }
    // The times of the log's lines.
    LogTimes* times() const { return m_times; }
    // The time histogram above the view.
    HistogramStrip* histogram() const { return m_histogram; }
    // A row added to the filter stack, applied at once.
    void addFilterRow(const StackRow& row);
    // "Errors only" and "Errors and infos": a row that shows only the lines holding an error
    // label of the profile in force (or an info label), ignoring case as the colouring does.
    void addLevelRow(bool withInfos);

    // A log made of several files, merged by time: the tab's own log reads paths[0], and the
    // others are opened and followed beside it. Called before the first file is opened.
    void mergeFiles(const QStringList& paths);
    // The merge of a merged tab (null for a tab of one file).
    MergedSource* merged() const { return m_merged; }
    // The name the tab shows: the file's, or the merged files' ("a.log + 2").
    QString displayName() const;

    // Times, for the log's own lines (the merged rows of a merged log): the last time, the
    // first line at or after a time, and the time a line carries. Nothing while they are read,
    // or without stamps.
    std::optional<std::int64_t> lastTime() const;
    std::optional<std::int64_t> firstLogLineAtOrAfter(std::int64_t time) const;
    std::optional<std::int64_t> timeOfLogLine(std::int64_t line) const;
    // Whether the times are still being read.
    bool readingTimes() const;
    // The lines of the log, whatever a filter stack shows of them: a merged log's rows.
    LineCount logLineCount() const;

    // The log's path ("" while none is open), the path being opened ("" when none), and
    // whether the tab holds no log and opens none.
    QString path() const;
    QString opening() const { return m_opening; }
    void setOpening(const QString& path) { m_opening = path; }
    bool blank() const;
    // The window's title for this tab, and whether a change of its file waits to be shown.
    QString title() const { return m_title; }
    bool reloadAlert() const { return m_reloadAlert; }

    // The tab in sight notices nothing; one out of sight keeps what its log did meanwhile.
    void setInSight(bool inSight);
    enum class News { None, Grew, GrewWithError };
    News news() const { return m_news; }

signals:
    // What the tab's log did out of sight changed (and is cleared once it is in sight).
    void newsChanged();

private:
    void noteGrowth();
    void showStackState();
    // The stack is kept with the log, for its next open.
    void keepFilterStack();
    void lookForErrors();

    const Colouring* m_colouring;
    FilterStackBar* m_stackBar = nullptr; // FilterStack
    FilterStackRunner* m_stack = nullptr;
    LogTimes* m_times = nullptr;
    HistogramStrip* m_histogram = nullptr; // TimeHistogram
    LogView* m_view = nullptr;           // RichEdit1
    OverviewStrip* m_overview = nullptr; // OverviewStrip
    FilterPane* m_filterPane = nullptr;
    LogController* m_log = nullptr;
    MergedSource* m_merged = nullptr;
    FilesLegend* m_legend = nullptr; // Files
    PositionIndicator* m_position = nullptr;
    StatusPanels m_status;
    QString m_opening;
    QString m_title = QStringLiteral("Log Viewer - blank ");
    bool m_reloadAlert = false;
    bool m_inSight = false;
    News m_news = News::None;
    std::int64_t m_newsFrom = 0; // the first line not yet looked at for an error label
};

} // namespace tlg
