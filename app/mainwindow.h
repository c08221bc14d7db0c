#pragma once

// The main window: has its controls built (WindowControls), creates the subsystems that own
// the behaviour (the tabs of open logs, the colouring switches, find, the file list, the
// navigation commands, the recent logs, the session keeper, the window's settings) and
// connects them. The window's switches, title and status bar speak for the tab in sight.

#include "app/sessionkeeper.h"

#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <vector>

namespace tlg {

class AddToFileListDialog;
class Colouring;
struct CommandLine;
class FileListPanel;
class FilterPane;
class FindAllResults;
class Finder;
class FormatEditor;
class Log;
class SwitchBinding;
class LogSaving;
class LogTab;
class LogTabs;
class LogView;
class NavigationCommands;
class OverviewStrip;
class PositionIndicator;
class RecentLogs;
class RecentMenu;
class StatusPanels;
class WindowControls;
class WindowSettings;

class MainWindow : public QMainWindow, private SessionKeeper::Tabs {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // FormCreate: offers the .log association, accepts dropped files, reads or records the
    // master computer name and fills the file list. A failure of a step is shown in the error
    // box and start-up goes on with the next; the window still works.
    void prepareStart();
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
    // The log in sight (null while its tab is blank), and its tab.
    Log* log() const;
    LogTab* tab() const;
    Finder* finder() const { return m_finder; }
    FindAllResults* findAllResults() const { return m_findAll; }
    FilterPane* filterPane() const;
    PositionIndicator* positionIndicator() const;
    FileListPanel* fileListPanel() const { return m_fileListPanel; }
    OverviewStrip* overviewStrip() const;
    RecentLogs& recentLogs();
    // Go to line, go to time, the label lines, the font's size, find in all logs.
    NavigationCommands* navigation() const { return m_navigation; }
    // File > "Save As...".
    LogSaving* logSaving() const { return m_saving; }

public slots:
    // Timer2Timer: the clock in the fourth panel.
    void showClock();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createSubsystems();
    void connectHandlers();
    // A tab was made: it follows the window's switches and reports to the window while in sight.
    void wireTab(LogTab* tab);
    // Refresh1Click: the log in sight read again.
    void reloadLogInSight();
    // Another tab came into sight: the window's switches, title and status bar speak for it.
    void showTab(LogTab* now, LogTab* before);
    LogView* shownView() const;
    // ShowTextFormat1Click and ToolButton10Click: the format editor shown or closed.
    void showFormatEditor(bool show);
    // FormShow, once when the window first appears: the format file's defaults written at the
    // first start, its profiles loaded, the banner started.
    void finishStartOnScreen();

    // The session keeper's view of the tabs: every line that reads or sets up a tab for the
    // session is here.
    std::vector<SessionLog> sessionLogs() const override;
    void reopen(const SessionLog& kept, std::function<void()> done) override;
    void sayInSight(const QString& text) override;

    std::unique_ptr<WindowControls> m_controls; // the window's own controls, by design name
    std::unique_ptr<StatusPanels> m_status;
    std::unique_ptr<WindowSettings> m_settings;
    LogTabs* m_tabs = nullptr;
    FindAllResults* m_findAll = nullptr; // the matches of a find in every open log
    Colouring* m_colouring = nullptr;
    SwitchBinding* m_switches = nullptr;
    Finder* m_finder = nullptr;
    FileListPanel* m_fileListPanel = nullptr; // Panel4
    FormatEditor* m_formatEditor = nullptr;   // TForm2
    AddToFileListDialog* m_addDialog = nullptr; // TForm3
    LogSaving* m_saving = nullptr;
    NavigationCommands* m_navigation = nullptr;
    RecentMenu* m_recent = nullptr;
    bool m_shownOnce = false;
    std::unique_ptr<SessionKeeper> m_session; // after m_status, which it writes: goes before it
};

} // namespace tlg
