#pragma once

// One open log in a tab: its view (RichEdit1), the overview strip beside it, its filter pane
// and filter stack, the time histogram, the files' legend and fields panel where the log has
// them, its line indicator and status panels of its own; the presenter that shows the log in
// the view and the follower (Timer1) that looks at it. A tab out of sight goes on following
// its log, and remembers that it grew (and whether a new line holds an error label) until it
// is in sight again. The tab knows its log only through the Log interface.

#include "core/statuspanels.h"
#include "document/encoding.h"
#include "document/linesource.h"
#include "source/log.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <optional>

class QMenu;
class QTimer;

namespace tlg {

class Colouring;
class FieldsPanel;
class FilesLegend;
class FilterPane;
class FilterStackBar;
class FilterStackRunner;
class Follower;
class HistogramStrip;
class LogPresenter;
class LogView;
class OverviewStrip;
class PositionIndicator;
struct StackRow;

// A tab's own switches, shown on the window's controls while it is in sight.
struct TabSwitches {
    bool autoRefreshButton = true; // ToolButton17
    bool autoRefresh = true;       // CheckBox5: the log is followed
    bool gotoBottom = false;       // ToolButton14 and CheckBox3
    bool wordWrap = false;         // CheckBox1
    bool convertUnicode = false;   // ToolButton16, "View Unicode"
    EncodingChoice encoding;       // the Encoding menu's choice
};

class LogTab : public QWidget {
    Q_OBJECT

public:
    // window is the parent of message boxes; viewMenu is the view's context menu.
    LogTab(QWidget* window, QMenu* viewMenu, const Colouring* colouring, QWidget* parent = nullptr);
    ~LogTab() override;

    // Shows `log` in this tab, which must hold none: the tab takes it over and starts it;
    // opened() follows once its first read ended.
    void open(Log* log);
    // The log shown (null while the tab is blank).
    Log* log() const { return m_log; }
    // The log is gone: the tab is blank again.
    void close();

    LogView* view() const { return m_view; }
    OverviewStrip* overview() const { return m_overview; }
    FilterPane* filterPane() const { return m_filterPane; }
    PositionIndicator* position() const { return m_position; }
    StatusPanels& status() { return m_status; }
    FilterStackBar* filterStackBar() const { return m_stackBar; }
    FilterStackRunner* filterStack() const { return m_stack; }
    HistogramStrip* histogram() const { return m_histogram; }
    FieldsPanel* fieldsPanel() const { return m_fields; }
    FilesLegend* filesLegend() const { return m_legend; }
    LogPresenter* presenter() const { return m_presenter; }
    Follower* follower() const { return m_follower; }
    // The watcher's timer, Timer1.
    QTimer* watchTimer() const;

    // Rows given to the filter stack, applied at once (the command line's, a row added).
    void setFilterRows(const std::vector<StackRow>& rows);
    void addFilterRow(const StackRow& row);
    // "Errors only" and "Errors and infos": a row that shows only the lines holding an error
    // label of the profile in force (or an info label), ignoring case as the colouring does.
    void addLevelRow(bool withInfos);

    // The switches of this tab, and their changes (each says whether it came from the tool
    // button, which sets its box too).
    const TabSwitches& switches() const { return m_switches; }
    void setAutoRefresh(bool on, bool fromButton);
    void setGotoBottom(bool on, bool fromButton);
    void setWordWrap(bool on);
    void setConvertUnicode(bool on);
    // The Encoding menu: the choice holds for every later read of this tab's log, which is read
    // again at once.
    void chooseEncoding(const EncodingChoice& choice);

    // The name the tab shows: "(blank)", the log's, or the one being opened.
    QString displayName() const;
    // The log's path ("" while none), or the path being opened.
    QString path() const;
    void setOpening(const QString& path) { m_opening = path; }
    QString opening() const { return m_opening; }
    // Whether the tab holds no log and opens none.
    bool blank() const { return !m_log && m_opening.isEmpty(); }
    // The window's title for this tab, and whether a change of its file waits to be shown.
    QString title() const { return m_title; }
    bool reloadAlert() const { return m_reloadAlert; }
    // The lines of the log, whatever a filter stack shows of them.
    LineCount logLineCount() const;

    // The tab in sight notices nothing; one out of sight keeps what its log did meanwhile.
    void setInSight(bool inSight);
    enum class News { None, Grew, GrewWithError };
    News news() const { return m_news; }

signals:
    // The log's first read ended: `ok`, or it could not be read.
    void opened(bool ok);
    // What the tab's log did out of sight changed (and is cleared once it is in sight).
    void newsChanged();
    // The title, the reload alert or a switch of the tab changed by itself.
    void titleChanged(const QString& title);
    void reloadAlertChanged(bool alert);
    void switchesChanged();
    // The log asks that another be opened.
    void openRequested(const QString& path);

private:
    void logOpened(bool ok);
    // The marks and the filter stack kept for the log.
    void takeKeptSettings();
    void logChanged(const LogChange& change);
    void noteGrowth();
    void showStackState();
    // The stack is kept with the log, for its next open.
    void keepFilterStack();
    void lookForErrors();
    void showEntryFields();

    QWidget* m_window;
    const Colouring* m_colouring;
    QPointer<Log> m_log;
    TabSwitches m_switches;
    FilterStackBar* m_stackBar = nullptr; // FilterStack
    FilterStackRunner* m_stack = nullptr;
    HistogramStrip* m_histogram = nullptr; // TimeHistogram
    LogView* m_view = nullptr;             // RichEdit1
    OverviewStrip* m_overview = nullptr;   // OverviewStrip
    FilterPane* m_filterPane = nullptr;
    FilesLegend* m_legend = nullptr;       // Files
    FieldsPanel* m_fields = nullptr;       // JournalFields, made for a log with fields
    PositionIndicator* m_position = nullptr;
    LogPresenter* m_presenter = nullptr;
    Follower* m_follower = nullptr;
    StatusPanels m_status;
    QString m_opening;
    QString m_title = QStringLiteral("Log Viewer - blank ");
    bool m_reloadAlert = false;
    bool m_inSight = false;
    News m_news = News::None;
    std::int64_t m_newsFrom = 0; // the first line not yet looked at for an error label
    LineNumber m_entryShown = -1; // the first line of the entry the fields panel shows
};

} // namespace tlg
