#include "app/mainwindow.h"

#include "app/journalbinding.h"
#include "source/journalsource.h"

#include "app/icons.h"
#include "banner/bannerframe.h"
#include "banner/buildlabel.h"
#include "banner/homepage.h"
#include "banner/urllabel.h"
#include "core/controls.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "document/pipespool.h"
#include "core/messages.h"
#include "core/statuspanels.h"
#include "core/timetext.h"
#include "filelist/addtofilelistdialog.h"
#include "filelist/filelistpanel.h"
#include "filelist/mastercomputer.h"
#include "format/colouring.h"
#include "format/formateditor.h"
#include "format/formatfile.h"
#include "app/logcontroller.h"
#include "app/logsaving.h"
#include "app/logtab.h"
#include "app/logtabs.h"
#include "source/mergedsource.h"
#include "source/session.h"
#include "search/overview.h"
#include "view/caretplacement.h"
#include "view/logview.h"
#include "view/overviewstrip.h"
#include "source/recentlogs.h"
#include "navigate/filterstackbar.h"
#include "navigate/findall.h"
#include "navigate/finddialog.h"
#include "navigate/gotolinedialog.h"
#include "navigate/gototimedialog.h"
#include "navigate/logtimes.h"
#include "navigate/filterpane.h"
#include "navigate/finder.h"
#include "navigate/positionindicator.h"
#include "shell/associate.h"
#include "shell/associationcheck.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QHash>
#include <QScreen>
#include <QShortcut>

#include <algorithm>
#include <QSignalBlocker>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>
#include <filesystem>
#include <optional>
#include <tuple>
#include <utility>

namespace tlg {

namespace {

const QColor kCaptionBlue(0, 0, 255);

QToolButton* makeToolButton(QWidget* parent, const char* name, const QString& caption,
                            int picture, bool checkable, bool down)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setIcon(toolbarPicture(picture));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setToolButtonStyle(caption.isEmpty() ? Qt::ToolButtonIconOnly
                                                 : Qt::ToolButtonTextBesideIcon);
    button->setCheckable(checkable);
    button->setChecked(down);
    return button;
}

// Runs `handler` on the events of the object it filters; true from it eats the event.
class EventHook : public QObject {
public:
    EventHook(QObject* parent, std::function<bool(QEvent*)> handler) : QObject(parent), m_handler(std::move(handler)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override { return m_handler(event); }

private:
    std::function<bool(QEvent*)> m_handler;
};

} // namespace

// The window's own controls; the subsystems hold pointers to those that drive them.
struct MainWindow::Controls {
    QFrame* topStrip = nullptr;               // Panel2
    BannerFrame* banner = nullptr;            // Frame11
    QWidget* viewArea = nullptr;              // where the tabs go
    QMenu* viewMenu = nullptr;                // PopupMenu1
    QAction* openFileAction = nullptr;        // OpenFile1
    QAction* saveAsAction = nullptr;          // SaveAs1
    QAction* openMergedAction = nullptr;      // OpenMerged1
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
    QMenu* recentMenu = nullptr;
    QAction* closeTabAction = nullptr;
    QAction* splitAction = nullptr;
    QAction* gotoTimeAction = nullptr;
    QList<std::pair<QAction*, std::optional<TimeForm>>> timeFormActions;
    QAction* reopenSessionAction = nullptr;
    QList<std::pair<QAction*, EncodingChoice>> encodingActions;
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
    QSplitter* clientSplitter = nullptr;
    StatusPanels::Labels statusPanels{};      // StatusPanel0 .. StatusPanel4
    QTimer* clockTimer = nullptr;             // Timer2
};

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_controls(std::make_unique<Controls>()),
      m_recent(std::make_unique<RecentLogs>(RecentLogs::defaultFilePath())), m_zoomPoints(LogView::kDefaultPointSize)
{
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral("Log Viewer - blank "));
    QFont windowFont;
    windowFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                            QStringLiteral("Arial")});
    windowFont.setPixelSize(11);
    setFont(windowFont);
    resize(860, 590);
    setMinimumWidth(332);

    buildMenus();
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildTopStrip());
    column->addWidget(buildLowerToolBar());

    m_controls->clientSplitter = new QSplitter(Qt::Horizontal, central);
    m_controls->clientSplitter->setObjectName(QStringLiteral("ClientArea"));
    m_controls->clientSplitter->setChildrenCollapsible(false);
    m_controls->clientSplitter->setHandleWidth(13);
    m_controls->clientSplitter->setOpaqueResize(true);
    auto* left = new QWidget(m_controls->clientSplitter);
    auto* leftRow = new QHBoxLayout(left);
    leftRow->setContentsMargins(0, 0, 0, 0);
    leftRow->setSpacing(0);
    leftRow->addWidget(buildViews(), 1);
    leftRow->addWidget(buildOptionsPanel());
    m_controls->clientSplitter->addWidget(left);
    m_fileListPanel = new FileListPanel(m_controls->clientSplitter);
    m_controls->clientSplitter->addWidget(m_fileListPanel);
    m_controls->clientSplitter->setStretchFactor(0, 1);
    m_controls->clientSplitter->setStretchFactor(1, 0);
    m_controls->clientSplitter->setSizes({860 - 232 - 13, 232});
    if (QSplitterHandle* handle = m_controls->clientSplitter->handle(1))
        handle->setObjectName(QStringLiteral("Splitter1"));
    column->addWidget(m_controls->clientSplitter, 1);
    setCentralWidget(central);
    buildStatusBar();

    // Both timers run from the start, as the window defines them: the watcher's is the open
    // log's, the clock is the window's.
    createSubsystems();
    m_controls->clockTimer = new QTimer(this);
    m_controls->clockTimer->setObjectName(QStringLiteral("Timer2"));
    m_controls->clockTimer->setInterval(1000);
    connectHandlers();
    m_controls->clockTimer->start();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    restoreWindowGeometry();
    fitOnScreen();
    restorePreferences();
    m_recent->load();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    auto addMenu = [&](const char* name, const QString& title) {
        QMenu* menu = bar->addMenu(title);
        menu->setObjectName(QLatin1String(name));
        return menu;
    };
    auto addItem = [&](QMenu* menu, const char* name, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    QMenu* file = addMenu("File1", QStringLiteral("&File"));
    m_controls->openFileAction = addItem(file, "OpenFile1", QStringLiteral("&Open File"));
    m_controls->openMergedAction = addItem(file, "OpenMerged1", QStringLiteral("Open &Merged..."));
    m_controls->openFileAction->setShortcut(QKeySequence::Open);
    m_controls->saveAsAction = addItem(file, "SaveAs1", QStringLiteral("Save &As..."));
    m_controls->saveAsAction->setShortcut(QKeySequence::SaveAs);
    // The local machine's journal, as much of it as the user may read.
    QAction* journal = addItem(file, "SystemJournal1", QStringLiteral("System &Journal"));
    connect(journal, &QAction::triggered, this, [this] { runGuarded(this, [this] { m_tabs->openJournal(JournalQuery{}); }); });
    m_controls->recentMenu = file->addMenu(QStringLiteral("&Recent Logs"));
    m_controls->recentMenu->setObjectName(QStringLiteral("RecentLogs1"));
    file->addSeparator();
    m_controls->closeTabAction = addItem(file, "CloseTab1", QStringLiteral("&Close Tab"));
    m_controls->closeTabAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});
    file->addSeparator();
    m_controls->quitAction = addItem(file, "Quit1", QStringLiteral("&Quit"));
    m_controls->quitAction->setShortcut(QKeySequence::Quit);
    QMenu* view = addMenu("View1", QStringLiteral("&View"));
    m_controls->gotoLineAction = addItem(view, "GotoLine1", QStringLiteral("&Go to Line..."));
    m_controls->gotoLineAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    m_controls->gotoTimeAction = addItem(view, "GotoTime1", QStringLiteral("Go to &Time..."));
    m_controls->gotoTimeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    // The form of the log's time stamps: found from its first lines, one held, or none.
    QMenu* timeFormat = view->addMenu(QStringLiteral("Time &Format"));
    timeFormat->setObjectName(QStringLiteral("TimeFormat1"));
    auto* timeGroup = new QActionGroup(timeFormat);
    const std::pair<const char*, std::optional<TimeForm>> forms[] = {
        {"Auto", std::nullopt},
        {"ISO 8601 (2026-12-07 10:00:01)", TimeForm::Iso},
        {"Syslog (Dec  7 10:00:01)", TimeForm::Syslog},
        {"Web server ([07/Dec/2026:10:00:01 +0000])", TimeForm::WebServer},
        {"2026/12/07 10:00:01", TimeForm::Slashed},
        {"Seconds since 1970", TimeForm::EpochSeconds},
        {"Milliseconds since 1970", TimeForm::EpochMillis},
        {"Off", TimeForm::None}};
    for (const auto& [text, form] : forms) {
        QAction* action = timeFormat->addAction(QLatin1String(text));
        action->setCheckable(true);
        action->setChecked(!form);
        timeGroup->addAction(action);
        m_controls->timeFormActions.append({action, form});
        connect(action, &QAction::triggered, this, [this, form = form] { m_tabs->current()->times()->choose(form); });
    }
    view->addSeparator();
    m_controls->zoomInAction = addItem(view, "ZoomIn1", QStringLiteral("Zoom &In"));
    // Ctrl+= too: on many keyboards plus needs Shift.
    m_controls->zoomInAction->setShortcuts({QKeySequence(QKeySequence::ZoomIn), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    m_controls->zoomOutAction = addItem(view, "ZoomOut1", QStringLiteral("Zoom &Out"));
    m_controls->zoomOutAction->setShortcut(QKeySequence::ZoomOut);
    m_controls->zoomResetAction = addItem(view, "ZoomReset1", QStringLiteral("&Normal Size"));
    m_controls->zoomResetAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    view->addSeparator();
    m_controls->splitAction = addItem(view, "Split1", QStringLiteral("&Split"));
    m_controls->splitAction->setCheckable(true);
    QMenu* options = addMenu("Options1", QStringLiteral("&Options"));
    m_controls->showOptionsAction = addItem(options, "ShowOptions1", QStringLiteral("Show &Options"));
    m_controls->showTextFormatAction = addItem(options, "ShowTextFormat1", QStringLiteral("Show &Text Format"));
    m_controls->associateAction = addItem(options, "AssociatewithLogfiles1", QStringLiteral("&Associate with .Log files"));
    m_controls->removeAssociationAction = addItem(options, "Removeassociationlog1", QStringLiteral("&Remove association (.log)"));
    options->addSeparator();
    m_controls->reopenSessionAction = addItem(options, "ReopenSession1", QStringLiteral("Reopen logs of the &last session"));
    m_controls->reopenSessionAction->setCheckable(true);
    m_controls->reopenSessionAction->setChecked(true);
    QMenu* fileList = addMenu("Filelist1", QStringLiteral("File &list"));
    m_controls->addToFileListAction = addItem(fileList, "AddcurrentFiletofilelist1", QStringLiteral("&Add current File to File List"));
    // Encoding: detection (Auto), or one encoding for this and every later load.
    QMenu* encodingMenu = addMenu("Encoding1", QStringLiteral("&Encoding"));
    auto* encodingGroup = new QActionGroup(encodingMenu);
    const std::pair<const char*, std::optional<Encoding>> encodings[] = {
        {"EncodingAuto1", std::nullopt}, {"EncodingUtf81", Encoding::Utf8},
        {"EncodingWindows12521", Encoding::Windows1252}, {"EncodingIso885911", Encoding::Iso8859_1},
        {"EncodingUtf16le1", Encoding::Utf16Le}, {"EncodingUtf16be1", Encoding::Utf16Be}};
    for (const auto& [name, encoding] : encodings) {
        QAction* action = addItem(encodingMenu, name, encoding ? QString::fromLatin1(EncodingName(*encoding)) : QStringLiteral("Auto"));
        action->setCheckable(true);
        action->setChecked(!encoding);
        encodingGroup->addAction(action);
        const EncodingChoice choice{!encoding, encoding.value_or(Encoding::Windows1252)};
        m_controls->encodingActions.append({action, choice});
        connect(action, &QAction::triggered, this, guarded(this, [this, choice] { log()->chooseEncoding(choice); }));
    }
    QMenu* about = addMenu("About1", QStringLiteral("&About"));
    m_controls->aboutViewerAction = addItem(about, "TLGViewer1", QStringLiteral("&TLG - Viewer"));
    m_controls->aboutMakerAction = addItem(about, "MarvikWare1", QStringLiteral("&MarvikWare"));

    m_controls->viewMenu = new QMenu(this);
    m_controls->viewMenu->setObjectName(QStringLiteral("PopupMenu1"));
    m_controls->refreshAction = addItem(m_controls->viewMenu, "Refresh1", QStringLiteral("Reload/Refresh"));
    m_controls->refreshAction->setShortcut(QKeySequence(Qt::Key_F5));
    addAction(m_controls->refreshAction); // F5 anywhere in the window
    m_controls->viewMenu->addSeparator();
    // The view handles Ctrl+C and Ctrl+A itself; the items show the keys.
    m_controls->copyAction = addItem(m_controls->viewMenu, "Copy1", QStringLiteral("Copy"));
    m_controls->copyAction->setShortcut(QKeySequence::Copy);
    m_controls->copyAction->setShortcutContext(Qt::WidgetShortcut);
    m_controls->selectAllAction = addItem(m_controls->viewMenu, "SelectAll1", QStringLiteral("Select All"));
    m_controls->selectAllAction->setShortcut(QKeySequence::SelectAll);
    m_controls->selectAllAction->setShortcutContext(Qt::WidgetShortcut);
    m_controls->findPreviousAction = addItem(m_controls->viewMenu, "FindPrevious1", QStringLiteral("Find Previous"));
    m_controls->viewMenu->addSeparator();
    // The selection (or the caret's line) as a row of the log's filter stack.
    for (const auto& [name, text, kind] : {std::tuple{"HideLinesLike1", "Hide lines like this", FilterRow::Hide},
                                           std::tuple{"ShowOnlyLinesLike1", "Show only lines like this", FilterRow::ShowOnly}}) {
        connect(addItem(m_controls->viewMenu, name, QLatin1String(text)), &QAction::triggered, this,
                [this, kind = kind] { filterLinesLike(kind); });
    }
}

QWidget* MainWindow::buildTopStrip()
{
    auto* strip = new QFrame(this);
    m_controls->topStrip = strip;
    strip->setObjectName(QStringLiteral("Panel2"));
    strip->setFixedHeight(81);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 4, 0);
    row->setSpacing(0);

    m_controls->banner = new BannerFrame(strip);
    m_controls->banner->setObjectName(QStringLiteral("Frame11"));
    row->addWidget(m_controls->banner, 0, Qt::AlignTop);

    auto* toolBar = new QFrame(strip);
    toolBar->setObjectName(QStringLiteral("ToolBar3"));
    toolBar->setFixedHeight(81);
    toolBar->setMinimumWidth(201);
    toolBar->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette blueText = toolBar->palette();
    blueText.setColor(QPalette::ButtonText, kCaptionBlue);
    toolBar->setPalette(blueText);
    auto* grid = new QGridLayout(toolBar);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(0);
    m_controls->searchButton = makeToolButton(toolBar, "ToolButton15", QStringLiteral("Search"), 6, false, false);
    m_controls->fileListButton = makeToolButton(toolBar, "ToolButton13", QStringLiteral("File list"), 13, true, true);
    m_controls->formatTextButton = makeToolButton(toolBar, "ToolButton24", QStringLiteral("Format Text"), 7, true, false);
    m_controls->optionsButton = makeToolButton(toolBar, "ToolButton20", QStringLiteral("Options"), 5, true, false);
    m_controls->unicodeButton = makeToolButton(toolBar, "ToolButton16", QStringLiteral("View Unicode"), 10, true, false);
    m_controls->filterButton = makeToolButton(toolBar, "FilterButton", QStringLiteral("Filter"), 6, false, false);
    const QList<QToolButton*> buttons = {m_controls->searchButton, m_controls->fileListButton, m_controls->formatTextButton,
                                         m_controls->optionsButton, m_controls->unicodeButton, m_controls->filterButton};
    for (int i = 0; i < buttons.size(); ++i) {
        buttons[i]->setMinimumWidth(93); // wider where the system font needs it
        grid->addWidget(buttons[i], i / 2, i % 2);
    }
    grid->setRowStretch(3, 1);
    row->addWidget(toolBar);
    row->addStretch(1);

    // Top right: the build label over the maker's address.
    auto* corner = new QVBoxLayout();
    corner->setContentsMargins(0, 6, 0, 0);
    corner->setSpacing(2);
    auto* build = new BuildLabel(strip);
    build->setObjectName(QStringLiteral("BuildLabel2"));
    QFont small(QStringLiteral("Small Fonts"));
    small.setPixelSize(8);
    small.setBold(true);
    build->setFont(small);
    build->setAlignment(Qt::AlignRight);
    build->setTextCaption2(QStringLiteral("Build"));
    build->Loaded();
    auto* link = new URLLabel(strip);
    link->setObjectName(QStringLiteral("URLLabel1"));
    link->setText(QStringLiteral("www.marvikware.dk"));
    small.setBold(false);
    small.setPixelSize(9);
    link->setFont(small);
    link->setAlignment(Qt::AlignRight);
    connect(link, &URLLabel::clicked, this, guarded(this, [this] { URLLabel1Click(); }));
    corner->addWidget(build, 0, Qt::AlignRight);
    corner->addWidget(link, 0, Qt::AlignRight);
    corner->addStretch(1);
    row->addLayout(corner);
    return strip;
}

QWidget* MainWindow::buildLowerToolBar()
{
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setFixedHeight(26);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));

    m_controls->showErrorsButton = makeToolButton(bar, "ToolButton1", QString(), 0, true, true);
    m_controls->showErrorsButton->setToolTip(QStringLiteral("Show Errors"));
    m_controls->showInfoButton = makeToolButton(bar, "ToolButton2", QString(), 2, true, true);
    m_controls->showInfoButton->setToolTip(QStringLiteral("Show warnings"));
    bar->addWidget(m_controls->showErrorsButton);
    bar->addWidget(m_controls->showInfoButton);
    auto* gap = new QWidget(bar);
    gap->setFixedWidth(12);
    bar->addWidget(gap);

    m_controls->reloadButton = makeToolButton(bar, "ToolButton12", QStringLiteral("Reload"), 12, false, false);
    // The hint is kept with the button but not shown on hover.
    m_controls->reloadButton->setAccessibleDescription(QStringLiteral("Reload and Refresh the current file"));
    m_controls->autoRefreshButton = makeToolButton(bar, "ToolButton17", QStringLiteral("Auto refresh"), 11, true, true);
    m_controls->gotoBottomButton = makeToolButton(bar, "ToolButton14", QStringLiteral("Goto Bottom"), 9, true, false);
    m_controls->gotoBottomButton->setToolTip(QStringLiteral("Automatic Scroll to the bottom on Reload"));
    for (QToolButton* button : {m_controls->reloadButton, m_controls->autoRefreshButton, m_controls->gotoBottomButton}) {
        button->setMinimumWidth(86);
        bar->addWidget(button);
    }

    m_controls->intervalSlider = new QSlider(Qt::Horizontal, bar);
    m_controls->intervalSlider->setObjectName(QStringLiteral("TrackBar1"));
    m_controls->intervalSlider->setRange(1, 10);
    m_controls->intervalSlider->setValue(2);
    m_controls->intervalSlider->setSingleStep(1);
    m_controls->intervalSlider->setPageStep(1);
    m_controls->intervalSlider->setTickPosition(QSlider::TicksAbove);
    m_controls->intervalSlider->setTickInterval(1);
    m_controls->intervalSlider->setFixedWidth(150);
    m_controls->intervalSlider->setToolTip(QStringLiteral("requence for looking for File Changes (1-10 secs)"));
    bar->addWidget(m_controls->intervalSlider);
    return bar;
}

QWidget* MainWindow::buildOptionsPanel()
{
    m_controls->optionsPanel = new QFrame(this);
    m_controls->optionsPanel->setObjectName(QStringLiteral("Panel1"));
    m_controls->optionsPanel->setFixedWidth(198);
    m_controls->optionsPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* column = new QVBoxLayout(m_controls->optionsPanel);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(4);
    column->addWidget(makeCaptionBar(m_controls->optionsPanel, "Panel3", QStringLiteral("Options"),
                                     "SpeedButton1", &m_controls->closeOptionsButton));
    m_controls->autoRefreshBox = makeCheckBox(m_controls->optionsPanel, "CheckBox5", QStringLiteral("Automatic Refresh on file change"), true);
    m_controls->wordWrapBox = makeCheckBox(m_controls->optionsPanel, "CheckBox1", QStringLiteral("Word Wrap"), false);
    m_controls->scrollToBottomBox = makeCheckBox(m_controls->optionsPanel, "CheckBox3", QStringLiteral("Scroll to bottom on Load/update"), false);
    m_controls->colourBox = makeCheckBox(m_controls->optionsPanel, "CheckBox6", QStringLiteral("Color Text(format)"), true);
    m_controls->followInstantlyBox = makeCheckBox(m_controls->optionsPanel, "CheckBoxFollowInstantly", QStringLiteral("Follow changes instantly"), true);
    m_controls->lineNumbersBox = makeCheckBox(m_controls->optionsPanel, "CheckBoxLineNumbers", QStringLiteral("Line numbers"), true);
    for (QCheckBox* box : {m_controls->autoRefreshBox, m_controls->wordWrapBox, m_controls->scrollToBottomBox, m_controls->colourBox,
                           m_controls->followInstantlyBox, m_controls->lineNumbersBox})
        column->addWidget(box);
    column->addStretch(1);
    m_controls->optionsPanel->hide();
    return m_controls->optionsPanel;
}

QWidget* MainWindow::buildViews()
{
    // The tabs come in once the colouring they show with exists.
    m_controls->viewArea = new QWidget(this);
    m_controls->viewArea->setObjectName(QStringLiteral("ViewArea"));
    auto* stack = new QVBoxLayout(m_controls->viewArea);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    return m_controls->viewArea;
}

void MainWindow::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setFixedHeight(19);
    const int widths[4] = {300, 300, 150, 50};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        if (i == 3 || i == 2)
            panel->setMinimumWidth(widths[i]); // the clock, and the caret's line with its time, grow to fit
        else
            panel->setFixedWidth(widths[i]);
        if (i == 2)
            panel->setAlignment(Qt::AlignCenter);
        m_controls->statusPanels[i] = panel;
        bar->addWidget(panel);
    }
    // How many lines a filtered log shows, after the clock; empty for a log shown whole.
    auto* shown = new QLabel(bar);
    shown->setObjectName(QStringLiteral("StatusPanel4"));
    shown->setTextFormat(Qt::PlainText);
    m_controls->statusPanels[4] = shown;
    bar->addWidget(shown, 1);
}

void MainWindow::createSubsystems()
{
    m_status = std::make_unique<StatusPanels>(m_controls->statusPanels);
    m_colouring = new Colouring(m_controls->showErrorsButton, m_controls->showInfoButton,
                                m_controls->colourBox, this);
    m_tabs = new LogTabs([this] {
        auto* tab = new LogTab(this, m_controls->viewMenu, m_colouring);
        wireTab(tab);
        return tab;
    }, m_controls->viewArea);
    m_controls->viewArea->layout()->addWidget(m_tabs);
    m_finder = new Finder(shownView(), this, m_status.get());
    m_findAll = new FindAllResults(m_controls->viewArea);
    m_findAll->hide();
    m_controls->viewArea->layout()->addWidget(m_findAll);
    connect(m_finder, &Finder::findAllRequested, this, guarded(this, [this] { findInAllLogs(); }));
    connect(m_findAll, &FindAllResults::resultActivated, this, [this](quint64 key, LineNumber line) {
        for (LogTab* tab : m_tabs->tabs()) {
            if (reinterpret_cast<quintptr>(tab) == key) {
                m_tabs->setCurrent(tab);
                ShowLineInContext(tab->view(), std::min(line, LineNumber(std::max<std::int64_t>(0, tab->view()->lineCount() - 1))));
                tab->view()->setFocus();
                return;
            }
        }
    });
    connect(m_tabs, &LogTabs::currentChanged, this, &MainWindow::showTab);
    connect(m_tabs, &LogTabs::broughtToFront, this, [this](const QString& path) {
        try {
            m_recent->add(QFile::encodeName(path).toStdString());
        } catch (const Failure&) {
        }
    });
    // The open logs are kept a moment after the tabs change (fifty opened at once are one
    // write), written on a thread of their own: a disk flush never holds the window.
    m_sessionWriter.setMaxThreadCount(1);
    m_sessionTimer = new QTimer(this);
    m_sessionTimer->setSingleShot(true);
    m_sessionTimer->setInterval(300);
    connect(m_sessionTimer, &QTimer::timeout, this, &MainWindow::keepSessionSoon);
    connect(m_tabs, &LogTabs::tabsChanged, this, [this] {
        if (!m_restoring)
            m_sessionTimer->start();
    });
    showTab(m_tabs->current(), nullptr);
}

LogController* MainWindow::log() const
{
    return m_tabs->current()->log();
}

FilterPane* MainWindow::filterPane() const
{
    return m_tabs->current()->filterPane();
}

PositionIndicator* MainWindow::positionIndicator() const
{
    return m_tabs->current()->position();
}

LogView* MainWindow::shownView() const
{
    return m_tabs->current()->view();
}

void MainWindow::wireTab(LogTab* tab)
{
    LogController* log = tab->log();
    // A new tab starts with the switches of the tab in sight, and the window's.
    if (m_tabs && m_tabs->current()) {
        const LogController* shown = m_tabs->current()->log();
        log->setGotoBottom(shown->gotoBottom(), false);
        log->setWordWrap(shown->wordWrap());
        log->setConvertAlways(shown->convertAlways());
        log->source()->setEncodingChoice(shown->encodingChoice());
    }
    log->setIntervalSeconds(m_controls->intervalSlider->value());
    log->setFollowInstantly(m_controls->followInstantlyBox->isChecked());
    tab->view()->setLineNumbersShown(m_controls->lineNumbersBox->isChecked());
    tab->view()->setFontPointSize(m_zoomPoints);
    log->showRulesNow();

    const auto inSight = [this, tab] { return m_tabs && m_tabs->current() == tab; };
    connect(log, &LogController::titleChanged, this, [this, inSight](const QString& title) {
        if (inSight())
            setWindowTitle(title);
    });
    connect(log, &LogController::reloadAlert, this, [this, inSight](bool alert) {
        if (!inSight())
            return;
        m_controls->reloadButton->setIcon(toolbarPicture(alert ? 8 : 12));
        m_controls->reloadButton->setProperty("alert", alert);
    });
    // "Apply Now" records the path as the top strip's accessible name (it has no caption).
    connect(log, &LogController::formatApplied, m_controls->topStrip, &QWidget::setAccessibleName);
    connect(m_colouring, &Colouring::rulesChanged, log, &LogController::showRulesNow);
    connect(tab->view(), &LogView::zoomRequested, this, &MainWindow::zoomBy);
    connect(tab->overview(), &OverviewStrip::lineClicked, this, [this, tab](LineNumber line) {
        runGuarded(this, [&] { ScrollToLine(tab->view(), line); });
    });
    connect(log, &LogController::logOpened, this, [this](const QString& path) {
        // The list is a convenience: a config folder that cannot be written does not stop the
        // log from opening, and the list in memory still holds it for this run.
        try {
            m_recent->add(QFile::encodeName(path).toStdString());
        } catch (const Failure&) {
        }
    });
}

void MainWindow::filterLinesLike(FilterRow::Kind kind)
{
    const LogView* view = shownView();
    QString text = view->selectedText(4096);
    if (text.isEmpty() && view->lineCount() > 0)
        text = view->lineText(view->caretLine());
    // A pattern is one line of the log.
    text = text.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char('\r'), 0, 0);
    if (text.isEmpty())
        return;
    m_tabs->current()->addFilterRow({text, false, true, kind, true});
}

void MainWindow::findInAllLogs()
{
    std::vector<FindAllLog> logs;
    for (LogTab* tab : m_tabs->tabs()) {
        if (tab->path().isEmpty() && !tab->journal())
            continue;
        const QString name = tab->path().isEmpty() ? tab->journal()->title() : QFileInfo(tab->path()).fileName();
        logs.push_back({reinterpret_cast<quintptr>(tab), name, tab->view()->document(), tab->view()->encoding()});
    }
    m_findAll->show();
    m_findAll->start(m_finder->findDialog()->query(), std::move(logs));
}

void MainWindow::showTab(LogTab* now, LogTab* before)
{
    if (before) {
        before->log()->unbindControls();
        before->status().hide();
        before->log()->watchTimer()->setParent(before->log());
    }
    if (!now)
        return;
    // The watcher's timer of the log in sight is the window's, as a look for Timer1 finds it.
    now->log()->watchTimer()->setParent(this);
    now->log()->bindControls({m_controls->autoRefreshButton, m_controls->autoRefreshBox, m_controls->gotoBottomButton,
                              m_controls->scrollToBottomBox, m_controls->unicodeButton, m_controls->wordWrapBox,
                              m_controls->followInstantlyBox, m_controls->intervalSlider});
    now->status().show(m_controls->statusPanels);
    setWindowTitle(now->title());
    m_controls->reloadButton->setIcon(toolbarPicture(now->reloadAlert() ? 8 : 12));
    m_controls->reloadButton->setProperty("alert", now->reloadAlert());
    const EncodingChoice choice = now->log()->encodingChoice();
    for (const auto& [action, offered] : std::as_const(m_controls->encodingActions)) {
        if (offered.automatic == choice.automatic && (choice.automatic || offered.forced == choice.forced))
            action->setChecked(true);
    }
    for (const auto& [action, form] : std::as_const(m_controls->timeFormActions)) {
        if (form == now->times()->choice())
            action->setChecked(true);
    }
    m_zoomPoints = now->view()->fontPointSize();
    if (m_finder)
        m_finder->setView(now->view());
}

void MainWindow::connectHandlers()
{
    // Every tool button has a key, named in its tooltip. Find, the filter pane and Reload have
    // theirs already (Ctrl+F, Ctrl+Shift+F, F5); the others answer to their own.
    const std::pair<QToolButton*, QKeySequence> keys[] = {
        {m_controls->searchButton, QKeySequence::Find},
        {m_controls->filterButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)},
        {m_controls->reloadButton, QKeySequence(Qt::Key_F5)},
        {m_controls->showErrorsButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)},
        {m_controls->showInfoButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W)},
        {m_controls->autoRefreshButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)},
        {m_controls->gotoBottomButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B)},
        {m_controls->fileListButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)},
        {m_controls->formatTextButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T)},
        {m_controls->optionsButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)},
        {m_controls->unicodeButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U)},
    };
    for (const auto& [button, key] : keys) {
        const bool ownKey = button != m_controls->searchButton && button != m_controls->filterButton &&
                            button != m_controls->reloadButton;
        if (ownKey)
            button->setShortcut(key);
        const QString name = button->toolTip().isEmpty() ? button->text() : button->toolTip();
        button->setToolTip(name + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) + QLatin1Char(')'));
    }

    // The open log.
    connect(m_controls->openFileAction, &QAction::triggered, this, guarded(this, [this] { m_tabs->openFromDialog(); }));
    m_saving = new LogSaving(this, [this](const QString& text) { m_tabs->current()->status().setText(0, text); });
    connect(m_controls->saveAsAction, &QAction::triggered, this, guarded(this, [this] { m_saving->saveAs(log()->source()); }));
    connect(m_controls->openMergedAction, &QAction::triggered, this, guarded(this, [this] { m_tabs->openMergedFromDialog(); }));
    connect(m_controls->refreshAction, &QAction::triggered, this, guarded(this, [this] { log()->reloadNow(); }));
    connect(m_controls->reloadButton, &QToolButton::clicked, this, guarded(this, [this] { log()->reloadNow(); }));
    // A banner fetch waits while a log loads, so that it never holds the load up.
    m_controls->banner->setBusyCheck([this] { return m_tabs->busy(); });
    // The switches every tab shares.
    connect(m_controls->intervalSlider, &QSlider::valueChanged, this, [this](int seconds) {
        for (LogTab* tab : m_tabs->tabs())
            tab->log()->setIntervalSeconds(seconds);
    });
    connect(m_controls->followInstantlyBox, &QCheckBox::toggled, this, [this](bool on) {
        for (LogTab* tab : m_tabs->tabs())
            tab->log()->setFollowInstantly(on);
    });

    // The tabs: Ctrl+W closes the one in sight, Ctrl+Tab and Ctrl+PgDn go to the next one,
    // Ctrl+Shift+Tab and Ctrl+PgUp to the one before; View > Split shows two side by side.
    connect(m_controls->closeTabAction, &QAction::triggered, this, [this] { m_tabs->close(m_tabs->current()); });
    for (const auto& [key, step] : {std::pair{QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
                                    std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
                                    std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
                                    std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
                                    std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1}}) {
        connect(new QShortcut(key, this), &QShortcut::activated, this, [this, step = step] { m_tabs->cycle(step); });
    }
    connect(m_controls->splitAction, &QAction::toggled, this, [this](bool on) { m_tabs->setSplit(on); });

    // The window's own panels and windows.
    connect(m_controls->optionsButton, &QToolButton::clicked, this, guarded(this, [this] { ToolButton7Click(); }));
    connect(m_controls->closeOptionsButton, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton1Click(); }));
    connect(m_controls->showOptionsAction, &QAction::triggered, this, guarded(this, [this] { ShowOptions1Click(); }));
    connect(m_controls->showTextFormatAction, &QAction::triggered, this, guarded(this, [this] { ShowTextFormat1Click(); }));
    connect(m_controls->clockTimer, &QTimer::timeout, this, guarded(this, [this] { Timer2Timer(); }));
    connect(m_controls->formatTextButton, &QToolButton::clicked, this, [this] { ToolButton10Click(); });
    connect(m_controls->aboutMakerAction, &QAction::triggered, this, guarded(this, [this] { MarvikWare1Click(); }));

    // The association with .log files.
    connect(m_controls->associateAction, &QAction::triggered, this,
            guarded(this, [] { AssociateWithLogFiles(ExecutablePath()); }));
    connect(m_controls->removeAssociationAction, &QAction::triggered, this, guarded(this, [] { RemoveLogAssociation(); }));

    // The file list: shown and hidden together with its splitter; a pick opens through the
    // open log.
    connect(m_controls->fileListButton, &QToolButton::clicked, this,
            [this] { showFileListPanel(m_controls->fileListButton->isChecked()); });
    connect(m_fileListPanel->closeButton(), &QToolButton::clicked, this, [this] {
        showFileListPanel(false);
        m_controls->fileListButton->setChecked(false);
    });
    connect(m_fileListPanel, &FileListPanel::openRequested, this,
            [this](const std::string& path) { runGuarded(this, [&] { m_tabs->openListed(path); }); });
    for (QAction* add : {m_controls->addToFileListAction, m_fileListPanel->addCurrentFileAction()}) {
        connect(add, &QAction::triggered, this,
                guarded(this, [this] { m_fileListPanel->showAddDialog(log()->currentPath()); }));
    }

    // Find.
    connect(m_controls->searchButton, &QToolButton::clicked, m_finder, &Finder::showFindDialog);
    connect(m_controls->findPreviousAction, &QAction::triggered, m_finder, guarded(this, [this] { m_finder->findPrevious(); }));
    connect(m_controls->filterButton, &QToolButton::clicked, this, [this] { filterPane()->toggle(); });

    // Reading comfort: the window's keys, the gutter, the font's size, go to line, the recent
    // logs and the overview strip.
    connect(m_controls->quitAction, &QAction::triggered, this, &QWidget::close);
    connect(m_controls->copyAction, &QAction::triggered, this, [this] { shownView()->copy(); });
    connect(m_controls->selectAllAction, &QAction::triggered, this, [this] { shownView()->selectAll(); });
    connect(m_controls->gotoLineAction, &QAction::triggered, this, guarded(this, [this] { GotoLineClick(); }));
    connect(m_controls->gotoTimeAction, &QAction::triggered, this, guarded(this, [this] { goToTimeClick(); }));
    connect(m_controls->zoomInAction, &QAction::triggered, this, [this] { zoomBy(1); });
    connect(m_controls->zoomOutAction, &QAction::triggered, this, [this] { zoomBy(-1); });
    connect(m_controls->zoomResetAction, &QAction::triggered, this, &MainWindow::zoomReset);
    connect(m_controls->lineNumbersBox, &QCheckBox::toggled, this, [this](bool on) {
        for (LogTab* tab : m_tabs->tabs())
            tab->view()->setLineNumbersShown(on);
    });
    for (const auto& [key, error] : {std::pair{Qt::Key_F8, true}, std::pair{Qt::Key_F7, false}}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this,
                [this, error = error] { goToLabelLine(error, true); });
        connect(new QShortcut(QKeySequence(Qt::SHIFT | key), this), &QShortcut::activated, this,
                [this, error = error] { goToLabelLine(error, false); });
    }
    // The strip marks the text last searched for.
    connect(m_finder->findDialog(), &FindDialog::findNext, this,
            [this] {
                // An expression's matches are not marked: only a plain text is.
                const FindDialog* dialog = m_finder->findDialog();
                m_tabs->current()->overview()->setFindText(dialog->regex() ? QString() : dialog->findText());
            });
    connect(m_controls->recentMenu, &QMenu::aboutToShow, this, &MainWindow::fillRecentMenu);
    // A missing log's item is greyed, so the menu does not trigger it: its click is taken here.
    m_controls->recentMenu->installEventFilter(new EventHook(m_controls->recentMenu, [this](QEvent* event) {
        if (event->type() != QEvent::MouseButtonRelease)
            return false;
        QAction* action = m_controls->recentMenu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (!action || action->isEnabled() || !action->data().isValid())
            return false;
        const std::string path = action->data().toByteArray().toStdString();
        m_controls->recentMenu->close();
        for (QWidget* up = m_controls->recentMenu->parentWidget(); qobject_cast<QMenu*>(up); up = up->parentWidget())
            up->close();
        runGuarded(this, [&] { openRecent(path); });
        return true;
    }));
}

OverviewStrip* MainWindow::overviewStrip() const
{
    return m_tabs->current()->overview();
}

void MainWindow::GotoLineClick()
{
    if (!m_gotoLineDialog)
        m_gotoLineDialog = new GotoLineDialog(this);
    // Lines are numbered as in the log: on a filtered log a hidden line goes to the next one
    // shown.
    LogView* view = shownView();
    const LinesPtr shown = view->document();
    const LineCount inLog = m_tabs->current()->logLineCount();
    const LineNumber caret = view->lineCount() > 0 ? shown->lineInLog(view->caretLine()) : LineNumber(0);
    if (const std::optional<LineNumber> line = m_gotoLineDialog->ask(std::max(inLog, LineCount(view->lineCount())), caret)) {
        const LineNumber row = shown->lineShowing(*line);
        ShowLineInContext(view, std::min(row.value(), std::max<std::int64_t>(0, view->lineCount() - 1)));
    }
}

void MainWindow::goToTimeClick()
{
    LogTab* tab = m_tabs->current();
    const std::optional<std::int64_t> last = tab->lastTime();
    if (!last) {
        tab->status().setText(0, tab->readingTimes() ? QStringLiteral("Still reading the times of the log's lines")
                                                     : QStringLiteral("No time stamps found in this log"));
        return;
    }
    if (!m_gotoTimeDialog) {
        m_gotoTimeDialog = new GotoTimeDialog(this);
        connect(m_gotoTimeDialog, &GotoTimeDialog::timeChosen, this, [this](std::int64_t time) { goToTime(time); });
    }
    m_gotoTimeDialog->ask(*last);
}

void MainWindow::goToTime(std::int64_t time)
{
    LogTab* tab = m_tabs->current();
    LogView* view = tab->view();
    // A journal is searched through its own index of times, without waiting for the times
    // of its lines.
    if (JournalBinding* journal = tab->journal()) {
        const JournalLinesPtr lines = journal->source()->lines();
        if (lines && !lines->partial()) {
            const LineNumber inLog = lines->lineAtTime(static_cast<std::uint64_t>(std::max<std::int64_t>(0, time + 999) / 1000));
            if (inLog >= EndLine(lines->lineCount())) {
                tab->status().setText(0, QStringLiteral("No line at or after ") + GotoTimeDialog::timeText(time));
                return;
            }
            const LineNumber row = view->document()->lineShowing(inLog);
            ShowLineInContext(view, std::min(row.value(), std::max<std::int64_t>(0, view->lineCount() - 1)));
            return;
        }
    }
    // The first line at or after the time, or the next one the view shows.
    const std::optional<std::int64_t> inLog = tab->firstLogLineAtOrAfter(time);
    if (!inLog) {
        tab->status().setText(0, QStringLiteral("No line at or after ") + GotoTimeDialog::timeText(time));
        return;
    }
    const LineNumber row = view->document()->lineShowing(*inLog);
    ShowLineInContext(view, std::min(row.value(), std::max<std::int64_t>(0, view->lineCount() - 1)));
}

void MainWindow::goToLabelLine(bool error, bool forward)
{
    LogView* view = shownView();
    const OverviewStrip* overview = overviewStrip();
    const std::vector<std::uint8_t>& marks = overview->lineMarks();
    if (!overview->idle() || static_cast<std::int64_t>(marks.size()) != view->lineCount()) {
        m_tabs->current()->status().setText(0, QStringLiteral("Still looking through the log for its labels"));
        return;
    }
    const std::uint8_t wanted = error ? kMarkError : kMarkInfo;
    const auto count = static_cast<std::int64_t>(marks.size());
    for (std::int64_t line = view->caretLine() + (forward ? 1 : -1); line >= 0 && line < count;
         line += forward ? 1 : -1) {
        if (marks[static_cast<std::size_t>(line)] & wanted) {
            ShowLineInContext(view, line);
            return;
        }
    }
    m_tabs->current()->status().setText(0, error ? QStringLiteral("No more error lines") : QStringLiteral("No more info lines"));
}

void MainWindow::zoomBy(int steps)
{
    m_zoomPoints = std::clamp(m_zoomPoints + steps, LogView::kMinPointSize, LogView::kMaxPointSize);
    shownView()->setFontPointSize(m_zoomPoints);
}

void MainWindow::zoomReset()
{
    zoomBy(LogView::kDefaultPointSize - m_zoomPoints);
}

void MainWindow::fillRecentMenu()
{
    QMenu* menu = m_controls->recentMenu;
    menu->clear();
    if (m_recent->paths().empty()) {
        menu->addAction(QStringLiteral("(none)"))->setEnabled(false);
        return;
    }
    int number = 0;
    for (const std::string& path : m_recent->paths()) {
        ++number;
        // "&1" .. "&9", "1&0": a key for each.
        const QString key = number < 10 ? QStringLiteral("&%1").arg(number) : QStringLiteral("1&0");
        QAction* action = menu->addAction(key + QStringLiteral("  ") + QFile::decodeName(QByteArray::fromStdString(path)).replace(QLatin1Char('&'), QStringLiteral("&&")));
        action->setData(QByteArray::fromStdString(path));
        action->setEnabled(RecentLogs::present(path));
        connect(action, &QAction::triggered, this, [this, path] { runGuarded(this, [&] { openRecent(path); }); });
    }
}

void MainWindow::openRecent(const std::string& path)
{
    if (!RecentLogs::present(path)) {
        m_tabs->current()->status().setText(0, QStringLiteral("File Could not be located"));
        try {
            m_recent->remove(path);
        } catch (const Failure&) {
        }
        return;
    }
    m_tabs->openListed(path);
}

namespace {

std::string geometryFilePath()
{
    return UserConfigSettingsFolder() + "window";
}

} // namespace

void MainWindow::restoreWindowGeometry()
{
    std::string text;
    try {
        text = ReadSettingsFile(geometryFilePath());
    } catch (const Failure&) {
        return; // first run, or nothing usable: the built-in size and place
    }
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
        const QByteArray entry = line.trimmed();
        const qsizetype equals = entry.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = entry.left(equals);
        const QByteArray value = QByteArray::fromBase64(entry.mid(equals + 1));
        if (key == "Geometry")
            restoreGeometry(value);
        else if (key == "Splitter")
            m_controls->clientSplitter->restoreState(value);
    }
}

namespace {

constexpr const char* kPreferencesName = "Preferences.TLG";

} // namespace

void MainWindow::restorePreferences()
{
    std::string text;
    try {
        text = ReadSettingsFile(SettingsFileToRead(kPreferencesName));
    } catch (const Failure&) {
        return; // none kept yet: the defaults
    }
    QHash<QByteArray, QByteArray> kept;
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
        const QByteArray entry = line.trimmed();
        const qsizetype equals = entry.indexOf('=');
        if (equals > 0)
            kept.insert(entry.left(equals), entry.mid(equals + 1));
    }
    const auto on = [&kept](const char* key) { return kept.value(key) == "1"; };
    if (kept.contains("FontSize"))
        zoomBy(kept.value("FontSize").toInt() - m_zoomPoints);
    log()->setWordWrap(on("WordWrap"));
    log()->setGotoBottom(on("GotoBottom"), false);
    if (kept.contains("ReopenSession"))
        m_controls->reopenSessionAction->setChecked(on("ReopenSession"));
    if (kept.contains("OptionsPanel")) {
        m_controls->optionsPanel->setVisible(on("OptionsPanel"));
        m_controls->optionsButton->setChecked(on("OptionsPanel"));
    }
    if (kept.contains("FileListPanel")) {
        m_controls->fileListButton->setChecked(on("FileListPanel"));
        showFileListPanel(on("FileListPanel"));
    }
    // The pattern as UTF-8, with what would break its line escaped.
    filterPane()->setPattern(QString::fromUtf8(QByteArray::fromPercentEncoding(kept.value("FilterPattern"))),
                             on("FilterCase"), on("FilterRegex"));
}

void MainWindow::savePreferences() const
{
    const auto flag = [](bool on) { return on ? QByteArrayLiteral("1") : QByteArrayLiteral("0"); };
    const QByteArray text = "FontSize=" + QByteArray::number(m_zoomPoints) + "\r\n" +
                            "WordWrap=" + flag(m_controls->wordWrapBox->isChecked()) + "\r\n" +
                            "GotoBottom=" + flag(m_controls->gotoBottomButton->isChecked()) + "\r\n" +
                            "OptionsPanel=" + flag(m_controls->optionsButton->isChecked()) + "\r\n" +
                            "FileListPanel=" + flag(m_controls->fileListButton->isChecked()) + "\r\n" +
                            "FilterPattern=" + filterPane()->pattern().toUtf8().toPercentEncoding() + "\r\n" +
                            "FilterCase=" + flag(filterPane()->matchCase()) + "\r\n" +
                            "FilterRegex=" + flag(filterPane()->regex()) + "\r\n" +
                            "ReopenSession=" + flag(m_controls->reopenSessionAction->isChecked()) + "\r\n";
    WriteFileAtomically(SettingsFileToWrite(kPreferencesName), text.toStdString());
}

void MainWindow::fitOnScreen()
{
    if (isMaximized() || isFullScreen())
        return;
    const QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // The window manager's frame, or room for a title bar and borders while it is not known.
    QMargins frame(frameGeometry().left() - geometry().left(), frameGeometry().top() - geometry().top(),
                   frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    if (frame.isNull())
        frame = QMargins(-4, -32, 4, 4);
    const QSize room(area.width() + frame.left() - frame.right(), area.height() + frame.top() - frame.bottom());
    const QSize size = this->size().boundedTo(room).expandedTo(minimumSize());
    resize(size);
    // The frame's top left (what move() places) keeps the whole frame in the area where it can.
    const QSize outer(size.width() - frame.left() + frame.right(), size.height() - frame.top() + frame.bottom());
    const int x = std::clamp(pos().x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width()));
    const int y = std::clamp(pos().y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height()));
    move(x, y);
}

void MainWindow::saveWindowGeometry() const
{
    const QByteArray text = "Geometry=" + saveGeometry().toBase64() + "\r\n" +
                            "Splitter=" + m_controls->clientSplitter->saveState().toBase64() + "\r\n";
    std::error_code ignored;
    std::filesystem::create_directories(UserConfigSettingsFolder(), ignored);
    WriteFileAtomically(geometryFilePath(), text.toStdString());
}

void MainWindow::showFileListPanel(bool show)
{
    QSplitterHandle* splitter = m_controls->clientSplitter->handle(1);
    if (show) {
        m_fileListPanel->show();
        splitter->show();
    } else {
        splitter->hide();
        m_fileListPanel->hide();
    }
}

void MainWindow::setCompanionWindows(FormatEditor* formatEditor, AddToFileListDialog* addDialog)
{
    m_formatEditor = formatEditor;
    m_addDialog = addDialog;
    m_colouring->setFormatEditor(formatEditor);
    m_fileListPanel->setAddDialog(addDialog);
    // Closing the editor raises its button.
    connect(m_formatEditor, &FormatEditor::closed, this, [this] { m_controls->formatTextButton->setChecked(false); });
    connect(m_formatEditor, &FormatEditor::applyNow, this, guarded(this, [this] { log()->applyFormatNow(); }));
}

void MainWindow::openLogs(const QStringList& paths)
{
    for (const QString& path : paths)
        runGuarded(this, [&] { m_tabs->open(path, OpenWay::Chosen); });
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

// --- Creation and show -------------------------------------------------------------------

void MainWindow::FormCreate(const QStringList& arguments)
{
    // Each step on its own: a settings file that cannot be read or written is said once, and
    // start-up goes on with what can be had.
    runGuarded(this, [&] { OfferLogAssociation(this, ExecutablePath()); });
    setAcceptDrops(true);
    m_fileListPanel->setMasterComputerName({});
    runGuarded(this, [&] {
        m_fileListPanel->setMasterComputerName(
            ReadOrCreateMasterComputerName(FolderOf(SettingsFileToRead(kMasterComputerFileName))));
    });
    runGuarded(this, [&] { m_fileListPanel->ReloadFileList(); }); // after the master computer's name, which it puts in place
    m_startLogs = arguments;
}

void MainWindow::openStartLogs()
{
    const QStringList named = std::exchange(m_startLogs, QStringList());
    if (const std::optional<JournalQuery> journal = std::exchange(m_startJournal, std::nullopt)) {
        runGuarded(this, [&] {
            m_tabs->openJournal(*journal, {}, [this](LogTab* tab) {
                tab->filterStackBar()->setRows(m_startFilters);
                tab->filterStack()->setRows(m_startFilters);
            });
        });
        if (named.isEmpty())
            return;
    }
    if (named.isEmpty()) {
        if (m_controls->reopenSessionAction->isChecked())
            restoreSession();
        return;
    }
    const auto withStartFilters = [this](LogTab* tab) {
        if (m_startFilters.empty())
            return;
        tab->filterStackBar()->setRows(m_startFilters);
        tab->filterStack()->setRows(m_startFilters);
    };
    bool pipeTaken = false;
    QStringList merged;
    for (const QString& path : named) {
        // "-" is standard input, read once however often it is named.
        if (path == QLatin1String("-")) {
            if (!std::exchange(pipeTaken, true))
                runGuarded(this, [&] { m_tabs->openPipe(TakeStandardInput(), {}, withStartFilters); });
            continue;
        }
        // CommandLineOpen: nothing to open and nothing to say for a blank or missing name; a
        // folder or a file that cannot be read is tried all the same, and the open says why not.
        if (trimBlanks(QFile::encodeName(path).toStdString()).empty() || !QFileInfo::exists(path))
            continue;
        if (m_startMerged) {
            merged << path;
            continue;
        }
        runGuarded(this, [&] { m_tabs->open(path, OpenWay::Chosen, {}, withStartFilters); });
    }
    if (!merged.isEmpty()) {
        runGuarded(this, [&] {
            m_tabs->openMerged(merged, OpenWay::Chosen, [withStartFilters](LogTab* tab) {
                if (tab)
                    withStartFilters(tab);
            });
        });
    }
}

void MainWindow::keepSessionSoon()
{
    const std::string path = SettingsFileToWrite(kSessionFileName);
    const std::string text = SessionText(sessionLogs());
    QPointer<MainWindow> window = this;
    m_sessionWriter.start([window, path, text] {
        try {
            WriteFileAtomically(path, text);
        } catch (const Failure& failure) {
            const QString why = QString::fromLocal8Bit(failure.what());
            QMetaObject::invokeMethod(qApp, [window, why] {
                if (window)
                    window->m_status->setText(0, QStringLiteral("Open logs not kept: ") + why);
            });
        }
    });
}

std::vector<SessionLog> MainWindow::sessionLogs() const
{
    std::vector<SessionLog> logs;
    for (const LogTab* tab : m_tabs->tabs()) {
        const LogController* log = tab->log();
        if (tab->path().isEmpty() && tab->journal()) {
            // The local machine's journal, by the matches it was opened with; what was ticked
            // in its fields panel is the reader's passing choice.
            JournalQuery query = tab->journal()->source()->query();
            query.fields.clear();
            if (query.where == JournalQuery::Where::Local)
                logs.push_back({{}, 0, log->watchState().AutoRefresh, {}, {}, std::move(query)});
            continue;
        }
        if (tab->path().isEmpty())
            continue;
        logs.push_back({QFile::encodeName(tab->path()).toStdString(), tab->view()->caretLine(),
                        log->watchState().AutoRefresh, log->encodingChoice(), {}, {}});
        if (tab->merged()) {
            for (const QString& other : tab->merged()->paths().mid(1))
                logs.back().mergedWith.push_back(QFile::encodeName(other).toStdString());
        }
    }
    return logs;
}

void MainWindow::saveSession()
{
    // After any write under way, so that the last one stays.
    m_sessionTimer->stop();
    m_sessionWriter.waitForDone();
    WriteFileAtomically(SettingsFileToWrite(kSessionFileName), SessionText(sessionLogs()));
}

void MainWindow::restoreSession()
{
    std::string text;
    try {
        text = ReadSettingsFile(SettingsFileToRead(kSessionFileName));
    } catch (const Failure&) {
        return; // no session kept yet
    }
    const std::vector<SessionLog> logs = ReadSessionText(text);
    QStringList gone;
    auto remaining = std::make_shared<int>(1); // one more until every open has been asked
    m_restoring = true;
    // Once every log has opened (or failed), the tabs are kept again and a log that has gone
    // is named once.
    const auto oneDone = [this, remaining, gone = std::make_shared<QStringList>()](const QStringList* missing) {
        if (missing)
            *gone = *missing;
        if (--*remaining > 0)
            return;
        m_restoring = false;
        keepSessionSoon();
        if (!gone->isEmpty())
            m_tabs->current()->status().setText(0, QStringLiteral("Not found any more: ") + gone->join(QStringLiteral(", ")));
    };
    for (const SessionLog& kept : logs) {
        if (kept.journal) {
            ++*remaining;
            m_tabs->openJournal(*kept.journal, [kept, oneDone](LogTab* tab) {
                if (tab)
                    tab->log()->setAutoRefresh(kept.followed, true);
                oneDone(nullptr);
            });
            continue;
        }
        const QString path = QFile::decodeName(QByteArray::fromStdString(kept.path));
        // A folder is a journal's (AgeStamp knows files only).
        if (AgeStamp(kept.path) == -1 && !QFileInfo(path).isDir()) {
            gone << path;
            continue;
        }
        ++*remaining;
        if (!kept.mergedWith.empty()) {
            QStringList paths{path};
            for (const std::string& other : kept.mergedWith)
                paths << QFile::decodeName(QByteArray::fromStdString(other));
            m_tabs->openMerged(paths, OpenWay::Restored, [kept, oneDone](LogTab* tab) {
                if (tab)
                    tab->log()->setAutoRefresh(kept.followed, true);
                oneDone(nullptr);
            });
            continue;
        }
        m_tabs->open(
            path, OpenWay::Restored,
            [kept, oneDone](LogTab* tab) {
                if (tab) {
                    tab->log()->setAutoRefresh(kept.followed, true);
                    ScrollToLine(tab->view(), std::min<std::int64_t>(kept.caretLine, tab->view()->lineCount()));
                }
                oneDone(nullptr);
            },
            // Each log is read in the encoding chosen for it.
            [kept](LogTab* tab) { tab->log()->source()->setEncodingChoice(kept.encoding); });
    }
    oneDone(&gone);
}

void MainWindow::FormShow()
{
    // The defaults are written at the first start, so that they are in force from then on.
    // Each step on its own, as at creation: a file that cannot be written is said once.
    bool writeFailed = false;
    if (AgeStamp(SettingsFileToRead(kFormatFileName)) == -1) {
        writeFailed = true;
        runGuarded(this, [&writeFailed] {
            WriteFileAtomically(SettingsFileToWrite(kFormatFileName), FormatEditor::defaultText());
            writeFailed = false;
        });
    }
    runGuarded(this, [this, writeFailed] { m_formatEditor->LoadFormatProfiles(writeFailed); });
    runGuarded(this, [this] { m_controls->banner->startRotation(QStringLiteral("tlg"), QStringLiteral("Log Viewer"), 10000); });
}

void MainWindow::URLLabel1Click()
{
    OpenHomePage();
}

void MainWindow::MarvikWare1Click()
{
    OpenHomePage();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    FormShow();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program: its other windows go with it.
    if (m_formatEditor)
        m_formatEditor->close();
    if (m_addDialog)
        m_addDialog->close();
    // The size and place are kept only when they can be; closing never fails for it.
    try {
        saveWindowGeometry();
    } catch (const Failure&) {
    }
    try {
        savePreferences();
    } catch (const Failure&) {
    }
    try {
        saveSession();
    } catch (const Failure&) {
    }
    QMainWindow::closeEvent(event);
}

// --- Small handlers ----------------------------------------------------------------------

void MainWindow::ToolButton7Click()
{
    m_controls->optionsPanel->setVisible(m_controls->optionsButton->isChecked());
}

void MainWindow::SpeedButton1Click()
{
    m_controls->optionsPanel->hide();
    m_controls->optionsButton->setChecked(false);
}

void MainWindow::ShowOptions1Click()
{
    m_controls->optionsPanel->show();
    m_controls->optionsButton->setChecked(true);
}

void MainWindow::ShowTextFormat1Click()
{
    m_formatEditor->show();
}

void MainWindow::ToolButton10Click()
{
    if (m_controls->formatTextButton->isChecked())
        m_formatEditor->show();
    else
        m_formatEditor->close();
}

void MainWindow::Timer2Timer()
{
    m_status->setText(3, longTimeText());
}

// --- Drag and drop ---------------------------------------------------------------------

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    // Only files can be opened: a drop that carries anything but local files is refused
    // before it lands.
    const QMimeData* data = event->mimeData();
    if (!data->hasUrls() || data->urls().isEmpty())
        return;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return;
    }
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    // The drop is done for the program it came from at once; the file opens just after.
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    QMetaObject::invokeMethod(this, [this, urls] { runGuarded(this, [&] { m_tabs->openDropped(urls); }); },
                              Qt::QueuedConnection);
}

} // namespace tlg
