#pragma once

// The main window: builds the log views, both tool bars, the options panel, the file-list
// panel, the status bar and the menus, creates the subsystems that own the behaviour (the open
// log, the colouring switches, find, the line indicator, the file list) and connects them.

#include <QMainWindow>
#include <QStringList>

#include <memory>

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
class FileListPanel;
class FilterPane;
class Finder;
class FormatEditor;
class LogController;
class GotoLineDialog;
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
    // records the master computer name, fills the file list, and opens the log named by the
    // first argument. A failure is shown in the error box and skips the rest of the handler;
    // the window still works.
    void FormCreate(const QStringList& arguments);

    // The format editor and the add dialog, which the window reaches once they exist.
    void setCompanionWindows(FormatEditor* formatEditor, AddToFileListDialog* addDialog);

    // Paths handed over by another start of the program: each opens, and the window comes
    // to the front.
    void openLogs(const QStringList& paths);

    // The subsystems.
    LogController* log() const { return m_log; }
    Finder* finder() const { return m_finder; }
    FilterPane* filterPane() const { return m_filterPane; }
    PositionIndicator* positionIndicator() const { return m_position; }
    FileListPanel* fileListPanel() const { return m_fileListPanel; }
    OverviewStrip* overviewStrip() const;
    RecentLogs& recentLogs() { return *m_recent; }

public slots:
    void Timer2Timer();
    void ToolButton7Click();
    void SpeedButton1Click();
    void ShowOptions1Click();
    void ShowTextFormat1Click();
    void ToolButton10Click();
    // Go to line (Ctrl+G): the caret to the start of the line asked for, in sight.
    void GotoLineClick();
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
    // The show handler, run once when the window first appears.
    void FormShow();

    std::unique_ptr<Controls> m_controls; // the window's own controls, by design name
    std::unique_ptr<StatusPanels> m_status;
    LogController* m_log = nullptr;
    Colouring* m_colouring = nullptr;
    Finder* m_finder = nullptr;
    FilterPane* m_filterPane = nullptr;
    PositionIndicator* m_position = nullptr;
    FileListPanel* m_fileListPanel = nullptr; // Panel4
    FormatEditor* m_formatEditor = nullptr;   // TForm2
    AddToFileListDialog* m_addDialog = nullptr; // TForm3
    GotoLineDialog* m_gotoLineDialog = nullptr;
    std::unique_ptr<RecentLogs> m_recent;
    int m_zoomPoints;
    bool m_shownOnce = false;
};

} // namespace tlg
