#pragma once

// The main window's own controls (TForm1's), built with their design names as objectNames: the
// menus and the view's context menu, the top strip (banner, tool bar, build label and link),
// the lower tool bar, the options panel, the client area with the file-list panel, and the
// status bar. Building gives every control its text, picture and key; what a control does is
// wired by the window.

#include "core/statuspanels.h"
#include "document/encoding.h"
#include "document/timestamps.h"

#include <QList>

#include <optional>
#include <utility>

class QAction;
class QCheckBox;
class QFrame;
class QMainWindow;
class QMenu;
class QSlider;
class QSplitter;
class QTimer;
class QToolButton;
class QWidget;

namespace tlg {

class BannerFrame;
class FileListPanel;
class URLLabel;

class WindowControls {
public:
    // Builds every control on `window`, sets its form's title, font and size, and makes its
    // central widget. The view area is left empty for the tabs.
    explicit WindowControls(QMainWindow* window);

    // The options panel shown or hidden, its tool button in step.
    void showOptionsPanel(bool show);
    // The file-list panel shown or hidden together with its splitter's handle.
    void showFileListPanel(bool show);
    // The Reload button's picture: a warning triangle while a change of the log waits.
    void showReloadAlert(bool alert);

    QFrame* topStrip = nullptr;               // Panel2
    BannerFrame* banner = nullptr;            // Frame11
    URLLabel* homeLink = nullptr;             // URLLabel1
    QWidget* viewArea = nullptr;              // where the tabs go
    QMenu* viewMenu = nullptr;                // PopupMenu1
    QAction* openFileAction = nullptr;        // OpenFile1
    QAction* saveAsAction = nullptr;          // SaveAs1
    QAction* openMergedAction = nullptr;      // OpenMerged1
    QAction* systemJournalAction = nullptr;   // SystemJournal1
    QAction* showOptionsAction = nullptr;     // ShowOptions1
    QAction* showTextFormatAction = nullptr;  // ShowTextFormat1
    QAction* associateAction = nullptr;       // AssociatewithLogfiles1
    QAction* removeAssociationAction = nullptr; // Removeassociationlog1
    QAction* addToFileListAction = nullptr;   // AddcurrentFiletofilelist1
    QAction* aboutViewerAction = nullptr;     // TLGViewer1
    QAction* aboutMakerAction = nullptr;      // MarvikWare1
    QAction* refreshAction = nullptr;         // Refresh1
    QAction* copyAction = nullptr;
    QAction* selectAllAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* gotoLineAction = nullptr;
    QAction* zoomInAction = nullptr;
    QAction* zoomOutAction = nullptr;
    QAction* zoomResetAction = nullptr;
    QMenu* recentMenu = nullptr;              // RecentLogs1
    QAction* closeTabAction = nullptr;
    QAction* splitAction = nullptr;
    QAction* gotoTimeAction = nullptr;
    QList<std::pair<QAction*, std::optional<TimeForm>>> timeFormActions;
    QAction* reopenSessionAction = nullptr;
    QList<std::pair<QAction*, EncodingChoice>> encodingActions;
    QAction* hideLinesLikeAction = nullptr;   // HideLinesLike1
    QAction* showOnlyLinesLikeAction = nullptr; // ShowOnlyLinesLike1
    QCheckBox* lineNumbersBox = nullptr;      // CheckBoxLineNumbers
    QAction* findPreviousAction = nullptr;    // FindPrevious1
    QToolButton* filterButton = nullptr;      // FilterButton
    QToolButton* searchButton = nullptr;      // ToolButton15
    QToolButton* fileListButton = nullptr;    // ToolButton13
    QToolButton* formatTextButton = nullptr;  // ToolButton24
    QToolButton* optionsButton = nullptr;     // ToolButton20
    QToolButton* unicodeButton = nullptr;     // ToolButton16
    QToolButton* showErrorsButton = nullptr;  // ToolButton1
    QToolButton* showInfoButton = nullptr;    // ToolButton2
    QToolButton* reloadButton = nullptr;      // ToolButton12
    QToolButton* autoRefreshButton = nullptr; // ToolButton17
    QToolButton* gotoBottomButton = nullptr;  // ToolButton14
    QSlider* intervalSlider = nullptr;        // TrackBar1
    QFrame* optionsPanel = nullptr;           // Panel1
    QToolButton* closeOptionsButton = nullptr; // SpeedButton1
    QCheckBox* autoRefreshBox = nullptr;      // CheckBox5
    QCheckBox* wordWrapBox = nullptr;         // CheckBox1
    QCheckBox* scrollToBottomBox = nullptr;   // CheckBox3
    QCheckBox* colourBox = nullptr;           // CheckBox6
    QCheckBox* followInstantlyBox = nullptr;  // "Follow changes instantly"
    QSplitter* clientSplitter = nullptr;      // ClientArea
    FileListPanel* fileListPanel = nullptr;   // Panel4
    StatusPanels::Labels statusPanels{};      // StatusPanel0 .. StatusPanel4
    QTimer* clockTimer = nullptr;             // Timer2, not started

private:
    void buildMenus(QMainWindow* window);
    QWidget* buildTopStrip(QWidget* parent);
    QWidget* buildLowerToolBar(QWidget* parent);
    QWidget* buildOptionsPanel(QWidget* parent);
    QWidget* buildViewArea(QWidget* parent);
    void buildClientArea(QMainWindow* window);
    void buildStatusBar(QMainWindow* window);
    // Every tool button has a key, named in its tooltip.
    void giveToolButtonsKeys();
};

} // namespace tlg
