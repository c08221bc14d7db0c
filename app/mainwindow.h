#pragma once

// The main window: builds the tabs of open logs, both tool bars, the options panel, the
// file-list panel, the status bar and the menus, creates the subsystems that own the behaviour
// (the colouring switches, find, the file list) and connects them. The window's switches, title
// and status bar speak for the tab in sight, and its handlers act on it.

#include "navigate/filterstackrunner.h"

#include "source/session.h"

#include <QMainWindow>
#include <QThreadPool>
#include <QStringList>

#include "journal/journalreader.h"

#include <memory>
#include <optional>
#include <vector>

class QAction;
class QFrame;
class QMenu;
class QSplitter;
class QTimer;
class QToolButton;

namespace tlg {

class AddToFileListDialog;
class BannerFrame;
class Colouring;
struct CommandLine;
class FileListPanel;
class FilterPane;
class FindAllResults;
class Finder;
class FormatEditor;
class LogController;
class LogSaving;
class LogTab;
class LogTabs;
class GotoLineDialog;
class GotoTimeDialog;
class LogView;
class OverviewStrip;
class PositionIndicator;
class RecentLogs;
class StatusPanels;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The creation handler: offers the .log association, accepts dropped files, reads or
    // records the master computer name and fills the file list. A failure is shown in the
    // error box and skips the rest of the handler; the window still works.
    void FormCreate();
    // Once the window is on screen, the logs the command line names (`line`, an Open line)
    // open, each in a tab, with its filter stack: merged as one with --merge, a blank or
    // missing name passed over, "-" standard input; --journal opens the journal first. Without
    // any, the last session's logs open again, unless that is turned off.
    void openStartLogs(const CommandLine& line);

    // The format editor and the add dialog, which the window reaches once they exist.
    void setCompanionWindows(FormatEditor* formatEditor, AddToFileListDialog* addDialog);

    // Paths handed over by another start of the program: each opens, and the window comes
    // to the front.
    void openLogs(const QStringList& paths);

    // The subsystems; the log, filter pane, line indicator and overview strip of the tab in
    // sight.
    LogTabs* tabs() const { return m_tabs; }
    LogController* log() const;
    Finder* finder() const { return m_finder; }
    FindAllResults* findAllResults() const { return m_findAll; }
    FilterPane* filterPane() const;
    PositionIndicator* positionIndicator() const;
    FileListPanel* fileListPanel() const { return m_fileListPanel; }
    OverviewStrip* overviewStrip() const;
    RecentLogs& recentLogs() { return *m_recent; }
    // File > "Save As...".
    LogSaving* logSaving() const { return m_saving; }

public slots:
    void Timer2Timer();
    void ToolButton7Click();
    void SpeedButton1Click();
    void ShowOptions1Click();
    void ShowTextFormat1Click();
    void ToolButton10Click();
    // Go to line (Ctrl+G): the caret to the start of the line asked for, in sight.
    void GotoLineClick();
    // View > "Go to Time..." (Ctrl+T): asks for a time; the caret goes to the first line at or
    // after it, in sight.
    void goToTimeClick();
    void goToTime(std::int64_t time);
    // The log font's size, by steps of a point in the view (0: the size at start).
    void zoomBy(int steps);
    // F8 and Shift+F8 (errors), F7 and Shift+F7 (infos): the caret goes to the next (or the
    // previous) line that holds such a label, as the overview strip marks them.
    void goToLabelLine(bool error, bool forward);
    void zoomReset();
    // The link label and About > "MarvikWare" open the home page in the user's browser.
    void URLLabel1Click();
    void MarvikWare1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct Controls;

    void buildMenus();
    QWidget* buildTopStrip();
    QWidget* buildLowerToolBar();
    QWidget* buildOptionsPanel();
    QWidget* buildViews();
    void buildStatusBar();
    void createSubsystems();
    void connectHandlers();
    void showFileListPanel(bool show);
    // File > Recent Logs, filled each time it opens; a missing log shows greyed and is taken
    // out of the list when picked.
    void fillRecentMenu();
    void openRecent(const std::string& path);
    // The window's size and place, and the splitter's, kept in $XDG_CONFIG_HOME/tlgview/window.
    void restoreWindowGeometry();
    // Makes the window fit the available area of the screen it opens on, frame included.
    void fitOnScreen();
    // The reader's preferences (font size, word wrap, Goto Bottom, the panels shown, the
    // filter's pattern), kept in the settings folder at exit and set again at start.
    void restorePreferences();
    void savePreferences() const;
    void saveWindowGeometry() const;
    // The open tabs, kept in the settings folder after every change of tabs and at the close.
    void saveSession();
    void keepSessionSoon();
    std::vector<SessionLog> sessionLogs() const;
    void restoreSession();
    // A tab was made: it follows the window's switches and reports to the window while in sight.
    void wireTab(LogTab* tab);
    // Another tab came into sight: the window's switches, title and status bar speak for it.
    void showTab(LogTab* now, LogTab* before);
    LogView* shownView() const;
    // "Hide lines like this" and "Show only lines like this": the selection, or the caret's
    // line, as a row of the filter stack of the log in sight.
    void filterLinesLike(FilterRow::Kind kind);
    // Find with "All open logs": every tab's log is searched beside the GUI thread.
    void findInAllLogs();
    // The show handler, run once when the window first appears.
    void FormShow();

    std::unique_ptr<Controls> m_controls; // the window's own controls, by design name
    std::unique_ptr<StatusPanels> m_status;
    LogTabs* m_tabs = nullptr;
    FindAllResults* m_findAll = nullptr; // the matches of a find in every open log
    Colouring* m_colouring = nullptr;
    Finder* m_finder = nullptr;
    FileListPanel* m_fileListPanel = nullptr; // Panel4
    FormatEditor* m_formatEditor = nullptr;   // TForm2
    AddToFileListDialog* m_addDialog = nullptr; // TForm3
    LogSaving* m_saving = nullptr;
    GotoLineDialog* m_gotoLineDialog = nullptr;
    GotoTimeDialog* m_gotoTimeDialog = nullptr;
    std::unique_ptr<RecentLogs> m_recent;
    int m_zoomPoints; // the font size of the view in sight, and of a new tab
    bool m_shownOnce = false;
    bool m_restoring = false; // the last session's logs are opening
    QTimer* m_sessionTimer = nullptr;
    QThreadPool m_sessionWriter; // last: waits for its write as the window goes
};

} // namespace tlg
