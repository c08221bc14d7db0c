#include "app/windowcontrols.h"

#include "app/icons.h"
#include "banner/bannerframe.h"
#include "banner/buildlabel.h"
#include "banner/urllabel.h"
#include "core/controls.h"
#include "filelist/filelistpanel.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

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

} // namespace

WindowControls::WindowControls(QMainWindow* window)
{
    window->setObjectName(QStringLiteral("TForm1"));
    window->setWindowTitle(QStringLiteral("Log Viewer - blank "));
    QFont windowFont;
    windowFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                            QStringLiteral("Arial")});
    windowFont.setPixelSize(11);
    window->setFont(windowFont);
    window->resize(860, 590);
    window->setMinimumWidth(332);

    buildMenus(window);
    buildClientArea(window);
    buildStatusBar(window);
    giveToolButtonsKeys();
    // The clock is the window's; it starts once the window is wired.
    clockTimer = new QTimer(window);
    clockTimer->setObjectName(QStringLiteral("Timer2"));
    clockTimer->setInterval(1000);
}

void WindowControls::buildClientArea(QMainWindow* window)
{
    auto* central = new QWidget(window);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildTopStrip(window));
    column->addWidget(buildLowerToolBar(window));

    clientSplitter = new QSplitter(Qt::Horizontal, central);
    clientSplitter->setObjectName(QStringLiteral("ClientArea"));
    clientSplitter->setChildrenCollapsible(false);
    clientSplitter->setHandleWidth(13);
    clientSplitter->setOpaqueResize(true);
    auto* left = new QWidget(clientSplitter);
    auto* leftRow = new QHBoxLayout(left);
    leftRow->setContentsMargins(0, 0, 0, 0);
    leftRow->setSpacing(0);
    leftRow->addWidget(buildViewArea(window), 1);
    leftRow->addWidget(buildOptionsPanel(window));
    clientSplitter->addWidget(left);
    fileListPanel = new FileListPanel(clientSplitter);
    clientSplitter->addWidget(fileListPanel);
    clientSplitter->setStretchFactor(0, 1);
    clientSplitter->setStretchFactor(1, 0);
    clientSplitter->setSizes({860 - 232 - 13, 232});
    if (QSplitterHandle* handle = clientSplitter->handle(1))
        handle->setObjectName(QStringLiteral("Splitter1"));
    column->addWidget(clientSplitter, 1);
    window->setCentralWidget(central);
}

void WindowControls::buildMenus(QMainWindow* window)
{
    QMenuBar* bar = window->menuBar();
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
    openFileAction = addItem(file, "OpenFile1", QStringLiteral("&Open File"));
    openMergedAction = addItem(file, "OpenMerged1", QStringLiteral("Open &Merged..."));
    openFileAction->setShortcut(QKeySequence::Open);
    saveAsAction = addItem(file, "SaveAs1", QStringLiteral("Save &As..."));
    saveAsAction->setShortcut(QKeySequence::SaveAs);
    // The local machine's journal, as much of it as the user may read.
    systemJournalAction = addItem(file, "SystemJournal1", QStringLiteral("System &Journal"));
    recentMenu = file->addMenu(QStringLiteral("&Recent Logs"));
    recentMenu->setObjectName(QStringLiteral("RecentLogs1"));
    file->addSeparator();
    closeTabAction = addItem(file, "CloseTab1", QStringLiteral("&Close Tab"));
    closeTabAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});
    file->addSeparator();
    quitAction = addItem(file, "Quit1", QStringLiteral("&Quit"));
    quitAction->setShortcut(QKeySequence::Quit);
    QMenu* view = addMenu("View1", QStringLiteral("&View"));
    gotoLineAction = addItem(view, "GotoLine1", QStringLiteral("&Go to Line..."));
    gotoLineAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    gotoTimeAction = addItem(view, "GotoTime1", QStringLiteral("Go to &Time..."));
    gotoTimeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
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
        timeFormActions.append({action, form});
    }
    view->addSeparator();
    zoomInAction = addItem(view, "ZoomIn1", QStringLiteral("Zoom &In"));
    // Ctrl+= too: on many keyboards plus needs Shift.
    zoomInAction->setShortcuts({QKeySequence(QKeySequence::ZoomIn), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    zoomOutAction = addItem(view, "ZoomOut1", QStringLiteral("Zoom &Out"));
    zoomOutAction->setShortcut(QKeySequence::ZoomOut);
    zoomResetAction = addItem(view, "ZoomReset1", QStringLiteral("&Normal Size"));
    zoomResetAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    view->addSeparator();
    splitAction = addItem(view, "Split1", QStringLiteral("&Split"));
    splitAction->setCheckable(true);
    QMenu* options = addMenu("Options1", QStringLiteral("&Options"));
    showOptionsAction = addItem(options, "ShowOptions1", QStringLiteral("Show &Options"));
    showTextFormatAction = addItem(options, "ShowTextFormat1", QStringLiteral("Show &Text Format"));
    associateAction = addItem(options, "AssociatewithLogfiles1", QStringLiteral("&Associate with .Log files"));
    removeAssociationAction = addItem(options, "Removeassociationlog1", QStringLiteral("&Remove association (.log)"));
    options->addSeparator();
    reopenSessionAction = addItem(options, "ReopenSession1", QStringLiteral("Reopen logs of the &last session"));
    reopenSessionAction->setCheckable(true);
    reopenSessionAction->setChecked(true);
    QMenu* fileList = addMenu("Filelist1", QStringLiteral("File &list"));
    addToFileListAction = addItem(fileList, "AddcurrentFiletofilelist1", QStringLiteral("&Add current File to File List"));
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
        encodingActions.append({action, choice});
    }
    QMenu* about = addMenu("About1", QStringLiteral("&About"));
    aboutViewerAction = addItem(about, "TLGViewer1", QStringLiteral("&TLG - Viewer"));
    aboutMakerAction = addItem(about, "MarvikWare1", QStringLiteral("&MarvikWare"));

    viewMenu = new QMenu(window);
    viewMenu->setObjectName(QStringLiteral("PopupMenu1"));
    refreshAction = addItem(viewMenu, "Refresh1", QStringLiteral("Reload/Refresh"));
    refreshAction->setShortcut(QKeySequence(Qt::Key_F5));
    window->addAction(refreshAction); // F5 anywhere in the window
    viewMenu->addSeparator();
    // The view handles Ctrl+C and Ctrl+A itself; the items show the keys.
    copyAction = addItem(viewMenu, "Copy1", QStringLiteral("Copy"));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetShortcut);
    selectAllAction = addItem(viewMenu, "SelectAll1", QStringLiteral("Select All"));
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setShortcutContext(Qt::WidgetShortcut);
    findPreviousAction = addItem(viewMenu, "FindPrevious1", QStringLiteral("Find Previous"));
    viewMenu->addSeparator();
    // The selection (or the caret's line) as a row of the log's filter stack.
    hideLinesLikeAction = addItem(viewMenu, "HideLinesLike1", QStringLiteral("Hide lines like this"));
    showOnlyLinesLikeAction = addItem(viewMenu, "ShowOnlyLinesLike1", QStringLiteral("Show only lines like this"));
}

QWidget* WindowControls::buildTopStrip(QWidget* parent)
{
    auto* strip = new QFrame(parent);
    topStrip = strip;
    strip->setObjectName(QStringLiteral("Panel2"));
    strip->setFixedHeight(81);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 4, 0);
    row->setSpacing(0);

    banner = new BannerFrame(strip);
    banner->setObjectName(QStringLiteral("Frame11"));
    row->addWidget(banner, 0, Qt::AlignTop);

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
    searchButton = makeToolButton(toolBar, "ToolButton15", QStringLiteral("Search"), 6, false, false);
    fileListButton = makeToolButton(toolBar, "ToolButton13", QStringLiteral("File list"), 13, true, true);
    formatTextButton = makeToolButton(toolBar, "ToolButton24", QStringLiteral("Format Text"), 7, true, false);
    optionsButton = makeToolButton(toolBar, "ToolButton20", QStringLiteral("Options"), 5, true, false);
    unicodeButton = makeToolButton(toolBar, "ToolButton16", QStringLiteral("View Unicode"), 10, true, false);
    filterButton = makeToolButton(toolBar, "FilterButton", QStringLiteral("Filter"), 6, false, false);
    const QList<QToolButton*> buttons = {searchButton, fileListButton, formatTextButton,
                                         optionsButton, unicodeButton, filterButton};
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
    homeLink = new URLLabel(strip);
    URLLabel* link = homeLink;
    link->setObjectName(QStringLiteral("URLLabel1"));
    link->setText(QStringLiteral("www.marvikware.dk"));
    small.setBold(false);
    small.setPixelSize(9);
    link->setFont(small);
    link->setAlignment(Qt::AlignRight);
    corner->addWidget(build, 0, Qt::AlignRight);
    corner->addWidget(link, 0, Qt::AlignRight);
    corner->addStretch(1);
    row->addLayout(corner);
    return strip;
}

QWidget* WindowControls::buildLowerToolBar(QWidget* parent)
{
    auto* bar = new QToolBar(parent);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setFixedHeight(26);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));

    showErrorsButton = makeToolButton(bar, "ToolButton1", QString(), 0, true, true);
    showErrorsButton->setToolTip(QStringLiteral("Show Errors"));
    showInfoButton = makeToolButton(bar, "ToolButton2", QString(), 2, true, true);
    showInfoButton->setToolTip(QStringLiteral("Show warnings"));
    bar->addWidget(showErrorsButton);
    bar->addWidget(showInfoButton);
    auto* gap = new QWidget(bar);
    gap->setFixedWidth(12);
    bar->addWidget(gap);

    reloadButton = makeToolButton(bar, "ToolButton12", QStringLiteral("Reload"), 12, false, false);
    // The hint is kept with the button but not shown on hover.
    reloadButton->setAccessibleDescription(QStringLiteral("Reload and Refresh the current file"));
    autoRefreshButton = makeToolButton(bar, "ToolButton17", QStringLiteral("Auto refresh"), 11, true, true);
    gotoBottomButton = makeToolButton(bar, "ToolButton14", QStringLiteral("Goto Bottom"), 9, true, false);
    gotoBottomButton->setToolTip(QStringLiteral("Automatic Scroll to the bottom on Reload"));
    for (QToolButton* button : {reloadButton, autoRefreshButton, gotoBottomButton}) {
        button->setMinimumWidth(86);
        bar->addWidget(button);
    }

    intervalSlider = new QSlider(Qt::Horizontal, bar);
    intervalSlider->setObjectName(QStringLiteral("TrackBar1"));
    intervalSlider->setRange(1, 10);
    intervalSlider->setValue(2);
    intervalSlider->setSingleStep(1);
    intervalSlider->setPageStep(1);
    intervalSlider->setTickPosition(QSlider::TicksAbove);
    intervalSlider->setTickInterval(1);
    intervalSlider->setFixedWidth(150);
    intervalSlider->setToolTip(QStringLiteral("requence for looking for File Changes (1-10 secs)"));
    bar->addWidget(intervalSlider);
    return bar;
}

QWidget* WindowControls::buildOptionsPanel(QWidget* parent)
{
    optionsPanel = new QFrame(parent);
    optionsPanel->setObjectName(QStringLiteral("Panel1"));
    optionsPanel->setFixedWidth(198);
    optionsPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* column = new QVBoxLayout(optionsPanel);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(4);
    column->addWidget(makeCaptionBar(optionsPanel, "Panel3", QStringLiteral("Options"),
                                     "SpeedButton1", &closeOptionsButton));
    autoRefreshBox = makeCheckBox(optionsPanel, "CheckBox5", QStringLiteral("Automatic Refresh on file change"), true);
    wordWrapBox = makeCheckBox(optionsPanel, "CheckBox1", QStringLiteral("Word Wrap"), false);
    scrollToBottomBox = makeCheckBox(optionsPanel, "CheckBox3", QStringLiteral("Scroll to bottom on Load/update"), false);
    colourBox = makeCheckBox(optionsPanel, "CheckBox6", QStringLiteral("Color Text(format)"), true);
    followInstantlyBox = makeCheckBox(optionsPanel, "CheckBoxFollowInstantly", QStringLiteral("Follow changes instantly"), true);
    lineNumbersBox = makeCheckBox(optionsPanel, "CheckBoxLineNumbers", QStringLiteral("Line numbers"), true);
    for (QCheckBox* box : {autoRefreshBox, wordWrapBox, scrollToBottomBox, colourBox,
                           followInstantlyBox, lineNumbersBox})
        column->addWidget(box);
    column->addStretch(1);
    optionsPanel->hide();
    return optionsPanel;
}

QWidget* WindowControls::buildViewArea(QWidget* parent)
{
    // The tabs come in once the colouring they show with exists.
    viewArea = new QWidget(parent);
    viewArea->setObjectName(QStringLiteral("ViewArea"));
    auto* stack = new QVBoxLayout(viewArea);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    return viewArea;
}

void WindowControls::buildStatusBar(QMainWindow* window)
{
    QStatusBar* bar = window->statusBar();
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
        statusPanels[i] = panel;
        bar->addWidget(panel);
    }
    // How many lines a filtered log shows, after the clock; empty for a log shown whole.
    auto* shown = new QLabel(bar);
    shown->setObjectName(QStringLiteral("StatusPanel4"));
    shown->setTextFormat(Qt::PlainText);
    statusPanels[4] = shown;
    bar->addWidget(shown, 1);
}

void WindowControls::giveToolButtonsKeys()
{
    // Find, the filter pane and Reload have their keys already (Ctrl+F, Ctrl+Shift+F, F5); the
    // others answer to their own.
    const std::pair<QToolButton*, QKeySequence> keys[] = {
        {searchButton, QKeySequence::Find},
        {filterButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)},
        {reloadButton, QKeySequence(Qt::Key_F5)},
        {showErrorsButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)},
        {showInfoButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W)},
        {autoRefreshButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)},
        {gotoBottomButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B)},
        {fileListButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)},
        {formatTextButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T)},
        {optionsButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)},
        {unicodeButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U)},
    };
    for (const auto& [button, key] : keys) {
        const bool ownKey = button != searchButton && button != filterButton && button != reloadButton;
        if (ownKey)
            button->setShortcut(key);
        const QString name = button->toolTip().isEmpty() ? button->text() : button->toolTip();
        button->setToolTip(name + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) + QLatin1Char(')'));
    }
}

void WindowControls::showOptionsPanel(bool show)
{
    optionsPanel->setVisible(show);
    optionsButton->setChecked(show);
}

void WindowControls::showFileListPanel(bool show)
{
    QSplitterHandle* splitter = clientSplitter->handle(1);
    if (show) {
        fileListPanel->show();
        splitter->show();
    } else {
        splitter->hide();
        fileListPanel->hide();
    }
}

void WindowControls::showReloadAlert(bool alert)
{
    reloadButton->setIcon(toolbarPicture(alert ? 8 : 12));
    reloadButton->setProperty("alert", alert);
}

} // namespace tlg
