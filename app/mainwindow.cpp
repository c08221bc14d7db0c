#include "app/mainwindow.h"

#include "app/errors.h"
#include "app/fileops.h"
#include "app/icons.h"
#include "app/mastercomputer.h"
#include "app/messages.h"
#include "app/timetext.h"
#include "banner/bannerframe.h"
#include "banner/buildlabel.h"
#include "banner/homepage.h"
#include "banner/urllabel.h"
#include "filelist/addtofilelistdialog.h"
#include "format/formateditor.h"
#include "format/formatfile.h"
#include "log/logview.h"
#include "navigate/finddialog.h"
#include "shell/associate.h"
#include "shell/associationcheck.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
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

QCheckBox* makeCheckBox(QWidget* parent, const char* name, const QString& caption, bool checked)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    box->setChecked(checked);
    return box;
}

// A blue caption bar with bold white text and a flat "X" button at its right end.
QFrame* makeCaptionBar(QWidget* parent, const char* name, const QString& caption,
                       const char* buttonName, QToolButton** button)
{
    auto* bar = new QFrame(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setAutoFillBackground(true);
    QPalette colours = bar->palette();
    colours.setColor(QPalette::Window, kCaptionBlue);
    colours.setColor(QPalette::WindowText, Qt::white);
    colours.setColor(QPalette::ButtonText, Qt::white);
    bar->setPalette(colours);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(6, 2, 2, 2);
    auto* label = new QLabel(caption, bar);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    layout->addWidget(label, 1);
    *button = new QToolButton(bar);
    (*button)->setObjectName(QLatin1String(buttonName));
    (*button)->setText(QStringLiteral("X"));
    (*button)->setFont(bold);
    (*button)->setAutoRaise(true);
    (*button)->setFixedSize(15, 17);
    layout->addWidget(*button, 0, Qt::AlignRight | Qt::AlignVCenter);
    return bar;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
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

    m_stagingText = LogDocument::fromBytes("RichEdit2");
    m_loadBuffer = LogDocument::empty();

    m_openDialog = new QFileDialog(this);
    m_openDialog->setObjectName(QStringLiteral("Open1"));
    m_openDialog->setFileMode(QFileDialog::ExistingFile);
    m_openDialog->setAcceptMode(QFileDialog::AcceptOpen);
    m_openDialog->setSizeGripEnabled(true);
    m_findDialog = new FindDialog(this);

    buildMenus();
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildTopStrip());
    column->addWidget(buildLowerToolBar());

    m_clientSplitter = new QSplitter(Qt::Horizontal, central);
    m_clientSplitter->setObjectName(QStringLiteral("ClientArea"));
    m_clientSplitter->setChildrenCollapsible(false);
    m_clientSplitter->setHandleWidth(13);
    m_clientSplitter->setOpaqueResize(true);
    auto* left = new QWidget(m_clientSplitter);
    auto* leftRow = new QHBoxLayout(left);
    leftRow->setContentsMargins(0, 0, 0, 0);
    leftRow->setSpacing(0);
    leftRow->addWidget(buildViews(), 1);
    leftRow->addWidget(buildOptionsPanel());
    m_clientSplitter->addWidget(left);
    m_clientSplitter->addWidget(buildFileListPanel());
    m_clientSplitter->setStretchFactor(0, 1);
    m_clientSplitter->setStretchFactor(1, 0);
    m_clientSplitter->setSizes({860 - 232 - 13, 232});
    if (QSplitterHandle* handle = m_clientSplitter->handle(1))
        handle->setObjectName(QStringLiteral("Splitter1"));
    column->addWidget(m_clientSplitter, 1);
    setCentralWidget(central);
    buildStatusBar();

    // Both timers run from the start, as the window defines them.
    m_watchTimer = new QTimer(this);
    m_watchTimer->setObjectName(QStringLiteral("Timer1"));
    m_watchTimer->setInterval(2000);
    m_clockTimer = new QTimer(this);
    m_clockTimer->setObjectName(QStringLiteral("Timer2"));
    m_clockTimer->setInterval(1000);
    connectHandlers();
    m_watchTimer->start();
    m_clockTimer->start();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
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
    QMenu* file = addMenu("File1", QStringLiteral("File"));
    m_openFileAction = addItem(file, "OpenFile1", QStringLiteral("Open File"));
    QMenu* options = addMenu("Options1", QStringLiteral("Options"));
    m_showOptionsAction = addItem(options, "ShowOptions1", QStringLiteral("Show Options"));
    m_showTextFormatAction = addItem(options, "ShowTextFormat1", QStringLiteral("Show Text Format"));
    m_associateAction = addItem(options, "AssociatewithLogfiles1", QStringLiteral("Associate with .Log files"));
    m_removeAssociationAction = addItem(options, "Removeassociationlog1", QStringLiteral("Remove association (.log)"));
    QMenu* fileList = addMenu("Filelist1", QStringLiteral("File list"));
    m_addToFileListAction = addItem(fileList, "AddcurrentFiletofilelist1", QStringLiteral("Add current File to File List"));
    QMenu* about = addMenu("About1", QStringLiteral("About"));
    m_aboutViewerAction = addItem(about, "TLGViewer1", QStringLiteral("TLG - Viewer"));
    m_aboutMakerAction = addItem(about, "MarvikWare1", QStringLiteral("MarvikWare"));

    m_viewMenu = new QMenu(this);
    m_viewMenu->setObjectName(QStringLiteral("PopupMenu1"));
    m_refreshAction = addItem(m_viewMenu, "Refresh1", QStringLiteral("Reload/Refresh"));
}

QWidget* MainWindow::buildTopStrip()
{
    auto* strip = new QFrame(this);
    m_topStrip = strip;
    strip->setObjectName(QStringLiteral("Panel2"));
    strip->setFixedHeight(81);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 4, 0);
    row->setSpacing(0);

    m_banner = new BannerFrame(strip);
    m_banner->setObjectName(QStringLiteral("Frame11"));
    row->addWidget(m_banner, 0, Qt::AlignTop);

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
    m_searchButton = makeToolButton(toolBar, "ToolButton15", QStringLiteral("Search"), 6, false, false);
    m_fileListButton = makeToolButton(toolBar, "ToolButton13", QStringLiteral("File list"), 13, true, true);
    m_formatTextButton = makeToolButton(toolBar, "ToolButton24", QStringLiteral("Format Text"), 7, true, false);
    m_optionsButton = makeToolButton(toolBar, "ToolButton20", QStringLiteral("Options"), 5, true, false);
    m_unicodeButton = makeToolButton(toolBar, "ToolButton16", QStringLiteral("View Unicode"), 10, true, false);
    const QList<QToolButton*> buttons = {m_searchButton, m_fileListButton, m_formatTextButton,
                                         m_optionsButton, m_unicodeButton};
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

    m_showErrorsButton = makeToolButton(bar, "ToolButton1", QString(), 0, true, true);
    m_showErrorsButton->setToolTip(QStringLiteral("Show Errors"));
    m_showInfoButton = makeToolButton(bar, "ToolButton2", QString(), 2, true, true);
    m_showInfoButton->setToolTip(QStringLiteral("Show warnings"));
    bar->addWidget(m_showErrorsButton);
    bar->addWidget(m_showInfoButton);
    auto* gap = new QWidget(bar);
    gap->setFixedWidth(12);
    bar->addWidget(gap);

    m_reloadButton = makeToolButton(bar, "ToolButton12", QStringLiteral("Reload"), 12, false, false);
    // The hint is kept with the button but not shown on hover.
    m_reloadButton->setAccessibleDescription(QStringLiteral("Reload and Refresh the current file"));
    m_autoRefreshButton = makeToolButton(bar, "ToolButton17", QStringLiteral("Auto refresh"), 11, true, true);
    m_gotoBottomButton = makeToolButton(bar, "ToolButton14", QStringLiteral("Goto Bottom"), 9, true, false);
    m_gotoBottomButton->setToolTip(QStringLiteral("Automatic Scroll to the bottom on Reload"));
    for (QToolButton* button : {m_reloadButton, m_autoRefreshButton, m_gotoBottomButton}) {
        button->setMinimumWidth(86);
        bar->addWidget(button);
    }

    m_intervalSlider = new QSlider(Qt::Horizontal, bar);
    m_intervalSlider->setObjectName(QStringLiteral("TrackBar1"));
    m_intervalSlider->setRange(1, 10);
    m_intervalSlider->setValue(2);
    m_intervalSlider->setSingleStep(1);
    m_intervalSlider->setPageStep(1);
    m_intervalSlider->setTickPosition(QSlider::TicksAbove);
    m_intervalSlider->setTickInterval(1);
    m_intervalSlider->setFixedWidth(150);
    m_intervalSlider->setToolTip(QStringLiteral("requence for looking for File Changes (1-10 secs)"));
    bar->addWidget(m_intervalSlider);
    return bar;
}

QWidget* MainWindow::buildOptionsPanel()
{
    m_optionsPanel = new QFrame(this);
    m_optionsPanel->setObjectName(QStringLiteral("Panel1"));
    m_optionsPanel->setFixedWidth(198);
    m_optionsPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* column = new QVBoxLayout(m_optionsPanel);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(4);
    column->addWidget(makeCaptionBar(m_optionsPanel, "Panel3", QStringLiteral("Options"),
                                     "SpeedButton1", &m_closeOptionsButton));
    m_autoRefreshBox = makeCheckBox(m_optionsPanel, "CheckBox5", QStringLiteral("Automatic Refresh on file change"), true);
    m_wordWrapBox = makeCheckBox(m_optionsPanel, "CheckBox1", QStringLiteral("Word Wrap"), false);
    m_scrollToBottomBox = makeCheckBox(m_optionsPanel, "CheckBox3", QStringLiteral("Scroll to bottom on Load/update"), false);
    m_colourBox = makeCheckBox(m_optionsPanel, "CheckBox6", QStringLiteral("Color Text(format)"), true);
    for (QCheckBox* box : {m_autoRefreshBox, m_wordWrapBox, m_scrollToBottomBox, m_colourBox})
        column->addWidget(box);
    column->addStretch(1);
    m_optionsPanel->hide();
    return m_optionsPanel;
}

QWidget* MainWindow::buildFileListPanel()
{
    m_fileListPanel = new QFrame(this);
    m_fileListPanel->setObjectName(QStringLiteral("Panel4"));
    m_fileListPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_fileListPanel->setMinimumWidth(60);
    auto* column = new QVBoxLayout(m_fileListPanel);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(2);
    QFrame* caption = makeCaptionBar(m_fileListPanel, "Panel5", QStringLiteral("File List"),
                                     "SpeedButton2", &m_closeFileListButton);
    caption->setFixedHeight(33);
    column->addWidget(caption);
    m_accessibleOnlyBox = makeCheckBox(m_fileListPanel, "CheckBox7", QStringLiteral("Only show Accessable files from this PC"), false);
    column->addWidget(m_accessibleOnlyBox);

    m_fileListView = new QTreeWidget(m_fileListPanel);
    m_fileListView->setObjectName(QStringLiteral("ListView1"));
    m_fileListView->setColumnCount(2);
    m_fileListView->setHeaderLabels({QStringLiteral("Description"), QStringLiteral("FilePath")});
    m_fileListView->setColumnWidth(0, 200);
    m_fileListView->setColumnWidth(1, 350);
    m_fileListView->setRootIsDecorated(false);
    m_fileListView->setFrameShape(QFrame::NoFrame);
    m_fileListView->setMouseTracking(true);
    m_fileListView->viewport()->setCursor(Qt::PointingHandCursor);
    m_fileListView->header()->setSectionsClickable(false);
    m_fileListView->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(m_fileListView, 1);

    m_fileListMenu = new QMenu(this);
    m_fileListMenu->setObjectName(QStringLiteral("PopupMenu2"));
    m_removeFromListAction = m_fileListMenu->addAction(QStringLiteral("Remove from list"));
    m_removeFromListAction->setObjectName(QStringLiteral("Delete1"));
    m_addCurrentFileAction = m_fileListMenu->addAction(QStringLiteral("Add Current File "));
    m_addCurrentFileAction->setObjectName(QStringLiteral("AddCurrentFile1"));
    connect(m_fileListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_fileListMenu->exec(m_fileListView->viewport()->mapToGlobal(at));
    });
    // The view has selected the pressed entry when this runs.
    connect(m_fileListView, &QAbstractItemView::pressed, this, guarded(this, [this] {
        const Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
        ListView1MouseDown(buttons & Qt::LeftButton ? Qt::LeftButton
                           : buttons & Qt::RightButton ? Qt::RightButton : Qt::NoButton);
    }));
    return m_fileListPanel;
}

QWidget* MainWindow::buildViews()
{
    // Both views fill the same place; one is shown at a time.
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("ViewArea"));
    auto* stack = new QGridLayout(area);
    stack->setContentsMargins(0, 0, 0, 0);
    m_view1 = new LogView(area);
    m_view1->setObjectName(QStringLiteral("RichEdit1"));
    m_view3 = new LogView(area);
    m_view3->setObjectName(QStringLiteral("RichEdit3"));
    for (LogView* view : {m_view1, m_view3}) {
        view->setContextMenu(m_viewMenu);
        stack->addWidget(view, 0, 0);
    }
    m_view3->hide();
    return area;
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
        if (i == 3)
            panel->setMinimumWidth(widths[i]); // the clock grows to fit a long time format
        else
            panel->setFixedWidth(widths[i]);
        if (i == 2)
            panel->setAlignment(Qt::AlignCenter);
        m_statusPanels[i] = panel;
        bar->addWidget(panel);
    }
}

void MainWindow::connectHandlers()
{
    connect(m_openFileAction, &QAction::triggered, this, guarded(this, [this] { OpenFile1Click(); }));
    connect(m_refreshAction, &QAction::triggered, this, guarded(this, [this] { Refresh1Click(); }));
    connect(m_reloadButton, &QToolButton::clicked, this, guarded(this, [this] { ToolButton12Click(); }));
    connect(m_optionsButton, &QToolButton::clicked, this, guarded(this, [this] { ToolButton7Click(); }));
    connect(m_closeOptionsButton, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton1Click(); }));
    connect(m_showOptionsAction, &QAction::triggered, this, guarded(this, [this] { ShowOptions1Click(); }));
    connect(m_showTextFormatAction, &QAction::triggered, this, guarded(this, [this] { ShowTextFormat1Click(); }));
    connect(m_wordWrapBox, &QCheckBox::clicked, this, guarded(this, [this] { CheckBox1Click(); }));
    connect(m_intervalSlider, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
    connect(m_autoRefreshButton, &QToolButton::clicked, this, [this] { ToolButton17Click(); });
    connect(m_autoRefreshBox, &QCheckBox::clicked, this, [this] { CheckBox5Click(); });
    connect(m_gotoBottomButton, &QToolButton::clicked, this, [this] { ToolButton14Click(); });
    connect(m_scrollToBottomBox, &QCheckBox::clicked, this, [this] { CheckBox3Click(); });
    // The watcher reports in the status bar and never shows a message box; whatever happens
    // in a tick, the timer runs on.
    connect(m_watchTimer, &QTimer::timeout, this, [this] {
        try {
            Timer1Timer();
        } catch (const std::exception&) {
            setStatusText(0, QStringLiteral("File Locked, will retry"));
        }
        if (!m_watchTimer->isActive())
            m_watchTimer->start();
    });
    connect(m_clockTimer, &QTimer::timeout, this, guarded(this, [this] { Timer2Timer(); }));

    // Showing and hiding the file-list panel together with its splitter.
    connect(m_fileListButton, &QToolButton::clicked, this, [this] {
        QSplitterHandle* splitter = m_clientSplitter->handle(1);
        if (m_fileListButton->isChecked()) {
            m_fileListPanel->show();
            splitter->show();
        } else {
            splitter->hide();
            m_fileListPanel->hide();
        }
    });
    connect(m_closeFileListButton, &QToolButton::clicked, this, [this] {
        m_clientSplitter->handle(1)->hide();
        m_fileListPanel->hide();
        m_fileListButton->setChecked(false);
    });
    connect(m_formatTextButton, &QToolButton::clicked, this, [this] { ToolButton10Click(); });
    connect(m_aboutMakerAction, &QAction::triggered, this, guarded(this, [this] { MarvikWare1Click(); }));
    connect(m_associateAction, &QAction::triggered, this,
            guarded(this, [] { AssociateWithLogFiles(ExecutablePath()); }));
    connect(m_removeAssociationAction, &QAction::triggered, this, guarded(this, [] { RemoveLogAssociation(); }));
    connect(m_accessibleOnlyBox, &QCheckBox::clicked, this, guarded(this, [this] { ReloadFileList(); }));
    connect(m_removeFromListAction, &QAction::triggered, this, guarded(this, [this] { Delete1Click(); }));
    for (QAction* add : {m_addToFileListAction, m_addCurrentFileAction})
        connect(add, &QAction::triggered, this, guarded(this, [this] { AddcurrentFiletofilelist1Click(); }));

    // Find: the button, Ctrl+F and F3 anywhere in the main window, and the dialog's Find Next.
    connect(m_searchButton, &QToolButton::clicked, this, [this] { ToolButton15Click(); });
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] { ToolButton15Click(); });
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this,
            guarded(this, [this] { FindDialog1Find(); }));
    connect(m_findDialog, &FindDialog::findNext, this, guarded(this, [this] { FindDialog1Find(); }));
    for (LogView* view : {m_view1, m_view3}) {
        connect(view, &LogView::keyPressed, this, [this](int key) { RichEdit1KeyDown(key); });
        connect(view, &LogView::mousePressed, this, [this] { RichEdit1MouseDown(); });
    }
    connect(m_colourBox, &QCheckBox::clicked, this, [this] { CheckBox6Click(); });
}

void MainWindow::setCompanionWindows(FormatEditor* formatEditor, AddToFileListDialog* addDialog)
{
    m_formatEditor = formatEditor;
    m_addDialog = addDialog;
    // Closing the editor raises its button.
    connect(m_formatEditor, &FormatEditor::closed, this, [this] { m_formatTextButton->setChecked(false); });
}

// --- Creation and show -------------------------------------------------------------------

void MainWindow::FormCreate(const QStringList& arguments)
{
    runGuarded(this, [&] {
        OfferLogAssociation(this, ExecutablePath());
        setAcceptDrops(true);
        m_masterComputerName.clear();
        m_masterComputerName = ReadOrCreateMasterComputerName(ExeFolder());
        ReloadFileList(); // after the master computer's name, which it puts in place
        if (!arguments.isEmpty())
            CommandLineOpen(arguments.first());
    });
}

void MainWindow::FormShow()
{
    // The defaults are written at the first start, so that they are in force from then on.
    const std::string folder = ExeFolder();
    if (AgeStamp(FindSettingsFile(folder, kFormatFileName)) == -1)
        WriteFileAtomically(folder + kFormatFileName, FormatEditor::defaultText());
    m_formatEditor->LoadFormatProfiles();
    m_banner->Start_Reklame(QStringLiteral("tlg"), QStringLiteral("Log Viewer"), 10000);
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
    runGuarded(this, [this] { FormShow(); });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program: its other windows go with it.
    if (m_formatEditor)
        m_formatEditor->close();
    if (m_addDialog)
        m_addDialog->close();
    QMainWindow::closeEvent(event);
}

// --- Small handlers ----------------------------------------------------------------------

void MainWindow::ToolButton7Click()
{
    m_optionsPanel->setVisible(m_optionsButton->isChecked());
}

void MainWindow::SpeedButton1Click()
{
    m_optionsPanel->hide();
    m_optionsButton->setChecked(false);
}

void MainWindow::ShowOptions1Click()
{
    m_optionsPanel->show();
    m_optionsButton->setChecked(true);
}

void MainWindow::ShowTextFormat1Click()
{
    m_formatEditor->show();
}

void MainWindow::ToolButton10Click()
{
    if (m_formatTextButton->isChecked())
        m_formatEditor->show();
    else
        m_formatEditor->close();
}

void MainWindow::CheckBox1Click()
{
    const bool wrap = m_wordWrapBox->isChecked();
    m_view1->setWordWrap(wrap);
    m_view3->setWordWrap(wrap);
    // Back to the caret's line, which the wrap change may have moved out of sight.
    RestoreCaretLine();
}

void MainWindow::Timer2Timer()
{
    setStatusText(3, longTimeText());
}

// --- Helpers -----------------------------------------------------------------------------

LogView* MainWindow::shownView() const
{
    return m_view1->isHidden() ? m_view3 : m_view1;
}

void MainWindow::pumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::focusMainWindow()
{
    if (QApplication::activeWindow())
        activateWindow();
}

void MainWindow::setStatusText(int panel, const QString& text)
{
    m_statusPanels[panel]->setText(text);
}

void MainWindow::setReloadAlert(bool alert)
{
    m_reloadButton->setIcon(toolbarPicture(alert ? 8 : 12));
    m_reloadButton->setProperty("alert", alert);
}

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
    QMetaObject::invokeMethod(this, [this, urls] { runGuarded(this, [&] { WMDropFiles(urls); }); },
                              Qt::QueuedConnection);
}

} // namespace tlg
