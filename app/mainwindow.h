#pragma once

// The main window: the log views, both tool bars, the options panel, the file-list panel, the
// status bar and the menus. The window's handlers keep the names the design gives them
// (Timer1Timer, Refresh1Click, ...); opening and reloading live in log/opening.cpp and the
// change watcher in log/watcher.cpp.

#include "filelist/filelist.h"
#include "log/logdocument.h"
#include "log/unicode.h"
#include "log/watchstate.h"

#include <QMainWindow>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <string>

class QAction;
class QCheckBox;
class QFileDialog;
class QFrame;
class QLabel;
class QMenu;
class QSlider;
class QSplitter;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace tlg {

class AddToFileListDialog;
class BannerFrame;
class FindDialog;
class FormatEditor;
class LogView;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The creation handler: accepts dropped files, reads or records the master computer name,
    // and opens the log named by the first argument. A failure is shown in the error box and
    // skips the rest of the handler; the window still works.
    void FormCreate(const QStringList& arguments);

    // The format editor and the add dialog, which the window reaches once they exist.
    void setCompanionWindows(FormatEditor* formatEditor, AddToFileListDialog* addDialog);

    // The path of the open log ("" when none), as the open dialog holds it.
    QString currentPath() const { return m_currentPath; }
    QString previousPath() const { return m_previousPath; }
    const std::string& masterComputerName() const { return m_masterComputerName; }
    WatchState& watchState() { return m_watch; }
    const WatchState& watchState() const { return m_watch; }

    // The view on screen: RichEdit1 unless it is hidden, then RichEdit3.
    LogView* shownView() const;
    LogView* view1() const { return m_view1; }
    LogView* view3() const { return m_view3; }
    // The load buffer (every load reads into it first) and the staging text (the last loaded
    // text, which colouring works on and a manual reload shows).
    const DocumentPtr& loadBuffer() const { return m_loadBuffer; }
    const DocumentPtr& stagingText() const { return m_stagingText; }
    // The kind of 16-bit text that the last detection found.
    UnicodeKind unicodeKind() const { return m_unicodeKind; }

public slots:
    void OpenFile1Click();
    void Refresh1Click();
    void ToolButton12Click();
    void Timer1Timer();
    void Timer2Timer();
    void ToolButton7Click();
    void SpeedButton1Click();
    void ShowOptions1Click();
    void ShowTextFormat1Click();
    void CheckBox1Click();
    void TrackBar1Change();
    void ToolButton17Click();
    void CheckBox5Click();
    void ToolButton14Click();
    void CheckBox3Click();
    void CheckBox6Click();
    // Find (navigate/search.cpp): "Search" shows the find dialog; its Find Next selects the
    // next occurrence in the shown view.
    void ToolButton15Click();
    void FindDialog1Find();
    // The line indicator and the arrow keys (navigate/position.cpp).
    void UpdatePositionIndicator();
    void RichEdit1KeyDown(int key);
    void RichEdit1MouseDown();
    // The file list (filelist/filelistpanel.cpp): rebuilds the panel from the list file; a
    // click opens an entry; "Remove from list" removes the selected entry's line; the add
    // dialog adds the open log.
    void ReloadFileList();
    void ListView1MouseDown(Qt::MouseButton button);
    void Delete1Click();
    void AddcurrentFiletofilelist1Click();
    // The link label and About > "MarvikWare" open the home page in the user's browser.
    void URLLabel1Click();
    void MarvikWare1Click();
    void ToolButton10Click();
    // The format editor's Apply Now: the open log is reloaded by the watcher's next tick and
    // coloured at the tick after, with the labels as they are now.
    void ApplyFormatNow();
    // Opens the one dropped file, or refuses several with a message box.
    void WMDropFiles(const QList<QUrl>& urls);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    QWidget* buildTopStrip();
    QWidget* buildLowerToolBar();
    QWidget* buildOptionsPanel();
    QWidget* buildFileListPanel();
    QWidget* buildViews();
    void buildStatusBar();
    void connectHandlers();

    // The show handler, run once when the window first appears.
    void FormShow();

    // Caret placement in the shown view (log/watcher.cpp).
public:
    // Gives the view the focus, puts the caret at the start of the line (clamped into the
    // text) and scrolls it into sight.
    void ScrollToLine(LogView* view, LineNumber line);
    // ScrollToLine on the shown view with its line count: the end of a text that ends with a
    // line break.
    void ScrollToBottom();
    // ScrollToLine on the shown view with the saved caret line.
    void RestoreCaretLine();
    // The colouring run: the staging text into the hidden view, which then replaces the shown
    // one (format/colouring.cpp).
    void ColorLogText();
    void ShowColoredView(LogView* coloured, LogView* other, bool caretAtTop);

private:
    // Opening and reloading (log/opening.cpp).
    void CommandLineOpen(const QString& path);
    // Makes path the current path and loads it into the load buffer with the Unicode step; on
    // failure the previous path comes back, FileOpen becomes watchBackOnFailure, and the
    // failure goes on to the caller.
    void loadPath(const QString& path, bool watchBackOnFailure);
    // Open File and a drop: loadPath, then the staging text, an empty first view, the reset
    // for a new file, the title, and watching from the next tick.
    void openNewFile(const QString& path, bool watchBackOnFailure);
    void LoadIntoBuffer();        // the plain-text load of the current path into MEMO1
    // The same, reading only what was appended when the file is the one last loaded and only grew.
    void LoadIntoBufferAfter();
    // Runs a read beside the GUI thread with the watcher stopped, reporting progress in the
    // first status panel for a long one; throws what the read threw.
    DocumentPtr readAside(const std::function<DocumentPtr(std::atomic<std::int64_t>&)>& read,
                          std::int64_t total);
    // 16-bit text (log/unicodestep.cpp): detection (which also reloads the buffer), the
    // conversion by the kind last detected, and the step every opening path runs.
    bool DetectUnicode();
    void ConvertUnicode();
    void UnicodeStep();
    void ResetForNewFile();
    void ShowFirstView();
    void SetTitleToPath();
    std::string nativePath() const;

    // Lets pending paint and timer events run in the middle of a long step; input waits until
    // the step is over, so no handler starts inside another.
    void pumpEvents();
    // Brings the main window forward when the program is the active one; never takes the
    // focus from another program.
    void focusMainWindow();
    void setStatusText(int panel, const QString& text);
    void setReloadAlert(bool alert);

    // State of the open log.
    QString m_currentPath;
    QString m_previousPath;
    std::string m_masterComputerName;
    WatchState m_watch;
    DocumentPtr m_loadBuffer;   // MEMO1
    DocumentPtr m_stagingText;  // RichEdit2
    UnicodeKind m_unicodeKind = UnicodeKind::SingleByte;
    bool m_shownOnce = false;
    // A file is being opened or reloaded: a watcher tick that comes in the middle (while
    // pending events run) leaves the file alone.
    bool m_opening = false;

    FormatEditor* m_formatEditor = nullptr;    // TForm2
    AddToFileListDialog* m_addDialog = nullptr; // TForm3
    std::int32_t m_caretPixelY = 0;            // the caret's height in the view, as last recorded
    FindDialog* m_findDialog = nullptr;        // FindDialog1
    bool m_searching = false;                  // a search of a large text is under way
    std::string m_fileListText;                 // the list file as the panel was filled from it
    std::vector<FileListLine> m_fileListLines;  // its lines, one per entry

    // Controls, with the design's names as object names.
    QFileDialog* m_openDialog = nullptr;        // Open1
    QFrame* m_topStrip = nullptr;               // Panel2
    BannerFrame* m_banner = nullptr;            // Frame11
    LogView* m_view1 = nullptr;                 // RichEdit1
    LogView* m_view3 = nullptr;                 // RichEdit3
    QMenu* m_viewMenu = nullptr;                // PopupMenu1
    QAction* m_openFileAction = nullptr;        // OpenFile1
    QAction* m_showOptionsAction = nullptr;     // ShowOptions1
    QAction* m_showTextFormatAction = nullptr;  // ShowTextFormat1
    QAction* m_associateAction = nullptr;       // AssociatewithLogfiles1
    QAction* m_removeAssociationAction = nullptr; // Removeassociationlog1
    QAction* m_addToFileListAction = nullptr;   // AddcurrentFiletofilelist1
    QAction* m_aboutViewerAction = nullptr;     // TLGViewer1
    QAction* m_aboutMakerAction = nullptr;      // MarvikWare1
    QAction* m_refreshAction = nullptr;         // Refresh1
    QToolButton* m_searchButton = nullptr;      // ToolButton15
    QToolButton* m_fileListButton = nullptr;    // ToolButton13
    QToolButton* m_formatTextButton = nullptr;  // ToolButton24
    QToolButton* m_optionsButton = nullptr;     // ToolButton20
    QToolButton* m_unicodeButton = nullptr;     // ToolButton16
    QToolButton* m_showErrorsButton = nullptr;  // ToolButton1
    QToolButton* m_showInfoButton = nullptr;    // ToolButton2
    QToolButton* m_reloadButton = nullptr;      // ToolButton12
    QToolButton* m_autoRefreshButton = nullptr; // ToolButton17
    QToolButton* m_gotoBottomButton = nullptr;  // ToolButton14
    QSlider* m_intervalSlider = nullptr;        // TrackBar1
    QFrame* m_optionsPanel = nullptr;           // Panel1
    QToolButton* m_closeOptionsButton = nullptr; // SpeedButton1
    QCheckBox* m_autoRefreshBox = nullptr;      // CheckBox5
    QCheckBox* m_wordWrapBox = nullptr;         // CheckBox1
    QCheckBox* m_scrollToBottomBox = nullptr;   // CheckBox3
    QCheckBox* m_colourBox = nullptr;           // CheckBox6
    QSplitter* m_clientSplitter = nullptr;
    QFrame* m_fileListPanel = nullptr;          // Panel4
    QToolButton* m_closeFileListButton = nullptr; // SpeedButton2
    QCheckBox* m_accessibleOnlyBox = nullptr;   // CheckBox7
    QTreeWidget* m_fileListView = nullptr;      // ListView1
    QMenu* m_fileListMenu = nullptr;            // PopupMenu2
    QAction* m_removeFromListAction = nullptr;  // Delete1
    QAction* m_addCurrentFileAction = nullptr;  // AddCurrentFile1
    QLabel* m_statusPanels[4] = {};             // StatusPanel0 .. StatusPanel3
    QTimer* m_watchTimer = nullptr;             // Timer1
    QTimer* m_clockTimer = nullptr;             // Timer2
};

} // namespace tlg
