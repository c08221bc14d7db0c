#include "app/mainwindow.h"

#include "app/commandline.h"
#include "app/logpresenter.h"
#include "app/logsaving.h"
#include "app/logtab.h"
#include "app/logtabs.h"
#include "app/navigationcommands.h"
#include "app/recentmenu.h"
#include "app/switchbinding.h"
#include "app/windowcontrols.h"
#include "app/windowsettings.h"
#include "banner/bannerframe.h"
#include "banner/homepage.h"
#include "banner/urllabel.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "core/messages.h"
#include "core/statuspanels.h"
#include "core/timetext.h"
#include "document/pipespool.h"
#include "filelist/addtofilelistdialog.h"
#include "filelist/filelistpanel.h"
#include "filelist/mastercomputer.h"
#include "format/colouring.h"
#include "format/formateditor.h"
#include "format/formatfile.h"
#include "navigate/filterpane.h"
#include "navigate/filterstackbar.h"
#include "navigate/filterstackrunner.h"
#include "navigate/findall.h"
#include "navigate/finddialog.h"
#include "navigate/finder.h"
#include "shell/associate.h"
#include "shell/associationcheck.h"
#include "source/follower.h"
#include "source/log.h"
#include "view/caretplacement.h"
#include "view/logview.h"
#include "view/overviewstrip.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLayout>
#include <QMimeData>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <optional>
#include <utility>

namespace tlg {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_controls(std::make_unique<WindowControls>(this))
{
    // Both timers run from the start, as the window defines them: the watcher's is the open
    // log's, the clock is the window's.
    createSubsystems();
    connectHandlers();
    m_controls->clockTimer->start();

    m_settings = std::make_unique<WindowSettings>(this, *m_controls);
    m_settings->restoreGeometry();
    m_settings->restorePreferences(*tab(), *filterPane(), *m_navigation);
    m_switches->showSwitches();
}

MainWindow::~MainWindow() = default;

void MainWindow::createSubsystems()
{
    m_status = std::make_unique<StatusPanels>(m_controls->statusPanels);
    m_fileListPanel = m_controls->fileListPanel;
    m_colouring = new Colouring(m_controls->showErrorsButton, m_controls->showInfoButton,
                                m_controls->colourBox, this);
    m_recent = new RecentMenu(
        m_controls->recentMenu, this, [this](const std::string& path) { m_tabs->openListed(path); },
        [this](const QString& text) { m_tabs->current()->status().setText(0, text); });
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
    m_navigation = new NavigationCommands(this, m_tabs, m_finder, m_findAll);
    m_session = std::make_unique<SessionKeeper>(static_cast<SessionKeeper::Tabs&>(*this), *m_status);
    m_switches = new SwitchBinding(this,
                                   {m_controls->autoRefreshButton, m_controls->autoRefreshBox, m_controls->gotoBottomButton,
                                    m_controls->scrollToBottomBox, m_controls->unicodeButton, m_controls->wordWrapBox},
                                   this);
    connect(m_tabs, &LogTabs::currentChanged, this, &MainWindow::showTab);
    connect(m_tabs, &LogTabs::broughtToFront, m_recent, &RecentMenu::add);
    connect(m_tabs, &LogTabs::tabsChanged, m_session.get(), &SessionKeeper::tabsChanged);
    showTab(m_tabs->current(), nullptr);
}

Log* MainWindow::log() const
{
    return m_tabs->current()->log();
}

LogTab* MainWindow::tab() const
{
    return m_tabs->current();
}

FilterPane* MainWindow::filterPane() const
{
    return m_tabs->current()->filterPane();
}

PositionIndicator* MainWindow::positionIndicator() const
{
    return m_tabs->current()->position();
}

OverviewStrip* MainWindow::overviewStrip() const
{
    return m_tabs->current()->overview();
}

RecentLogs& MainWindow::recentLogs()
{
    return m_recent->logs();
}

LogView* MainWindow::shownView() const
{
    return m_tabs->current()->view();
}

void MainWindow::wireTab(LogTab* tab)
{
    // A new tab starts with the switches of the tab in sight, and the window's.
    if (m_tabs && m_tabs->current()) {
        const TabSwitches& shown = m_tabs->current()->switches();
        tab->setGotoBottom(shown.gotoBottom, false);
        tab->setWordWrap(shown.wordWrap);
        tab->setConvertUnicode(shown.convertUnicode);
        tab->chooseEncoding(shown.encoding);
    }
    tab->follower()->setIntervalSeconds(m_controls->intervalSlider->value());
    tab->follower()->setFollowInstantly(m_controls->followInstantlyBox->isChecked());
    tab->view()->setLineNumbersShown(m_controls->lineNumbersBox->isChecked());
    // The first tab comes before the navigation commands: at the size a view starts with.
    tab->view()->setFontPointSize(m_navigation ? m_navigation->zoomPoints() : LogView::kDefaultPointSize);
    tab->presenter()->showRulesNow();

    const auto inSight = [this, tab] { return m_tabs && m_tabs->current() == tab; };
    connect(tab, &LogTab::titleChanged, this, [this, inSight](const QString& title) {
        if (inSight())
            setWindowTitle(title);
    });
    connect(tab, &LogTab::reloadAlertChanged, this, [this, inSight](bool alert) {
        if (inSight())
            m_controls->showReloadAlert(alert);
    });
    // "Apply Now" records the path as the top strip's accessible name (it has no caption).
    connect(tab->presenter(), &LogPresenter::formatApplied, m_controls->topStrip, &QWidget::setAccessibleName);
    connect(m_colouring, &Colouring::rulesChanged, tab->presenter(), &LogPresenter::showRulesNow);
    connect(tab->view(), &LogView::zoomRequested, this, [this](int steps) { m_navigation->zoomBy(steps); });
    connect(tab->overview(), &OverviewStrip::lineClicked, this, [this, tab](LineNumber line) {
        runGuarded(this, [&] { ScrollToLine(tab->view(), line); });
    });
    connect(tab, &LogTab::opened, this, [this, tab](bool ok) {
        // A log of a file joins the recent ones.
        if (ok && tab->log() && !tab->log()->path().isEmpty())
            m_recent->add(tab->log()->path());
    });
}

void MainWindow::reloadLogInSight()
{
    // Refresh1Click and ToolButton12Click.
    Log* shown = log();
    if (!shown) {
        tab()->status().setText(0, QStringLiteral("File Could not be located"));
        return;
    }
    shown->reload();
}

void MainWindow::showTab(LogTab* now, LogTab* before)
{
    if (before)
        before->status().hide();
    m_switches->bind(now);
    if (!now)
        return;
    // Whoever looks for a control of the log in sight by its name (its view RichEdit1, its
    // watcher's Timer1) finds this tab's first: its line of parents comes first among theirs.
    for (QWidget* up = now; up && up != this; up = up->parentWidget())
        up->lower();
    now->status().show(m_controls->statusPanels);
    setWindowTitle(now->title());
    m_controls->showReloadAlert(now->reloadAlert());
    const EncodingChoice choice = now->switches().encoding;
    for (const auto& [action, offered] : std::as_const(m_controls->encodingActions)) {
        if (offered.automatic == choice.automatic && (choice.automatic || offered.forced == choice.forced))
            action->setChecked(true);
    }
    const std::optional<TimeForm> form = now->log() ? now->log()->timeFormChoice() : std::nullopt;
    for (const auto& [action, offered] : std::as_const(m_controls->timeFormActions)) {
        if (offered == form)
            action->setChecked(true);
    }
    m_navigation->followView(now->view());
    m_finder->setView(now->view());
}

void MainWindow::connectHandlers()
{
    WindowControls& c = *m_controls;
    // The open log.
    connect(c.openFileAction, &QAction::triggered, this, guarded(this, [this] { m_tabs->openFromDialog(); }));
    m_saving = new LogSaving(this, [this](const QString& text) { m_tabs->current()->status().setText(0, text); });
    connect(c.saveAsAction, &QAction::triggered, this, guarded(this, [this] { m_saving->saveAs(log()); }));
    connect(c.openMergedAction, &QAction::triggered, this, guarded(this, [this] { m_tabs->openMergedFromDialog(); }));
    // The local machine's journal, as much of it as the user may read.
    connect(c.systemJournalAction, &QAction::triggered, this,
            [this] { runGuarded(this, [this] { m_tabs->openJournal(JournalQuery{}); }); });
    connect(c.refreshAction, &QAction::triggered, this, guarded(this, [this] { reloadLogInSight(); }));
    connect(c.reloadButton, &QToolButton::clicked, this, guarded(this, [this] { reloadLogInSight(); }));
    // A banner fetch waits while a log loads, so that it never holds the load up.
    c.banner->setBusyCheck([this] { return m_tabs->busy(); });
    // The switches every tab shares, and the ones of the tab in sight.
    connect(c.intervalSlider, &QSlider::valueChanged, this, [this](int seconds) {
        for (LogTab* tab : m_tabs->tabs())
            tab->follower()->setIntervalSeconds(seconds);
    });
    connect(c.followInstantlyBox, &QCheckBox::toggled, this, [this](bool on) {
        for (LogTab* tab : m_tabs->tabs())
            tab->follower()->setFollowInstantly(on);
    });
    for (const auto& [action, form] : std::as_const(c.timeFormActions))
        connect(action, &QAction::triggered, this, [this, form = form] {
            if (Log* shown = log())
                shown->chooseTimeForm(form);
        });
    for (const auto& [action, choice] : std::as_const(c.encodingActions))
        connect(action, &QAction::triggered, this, guarded(this, [this, choice = choice] { tab()->chooseEncoding(choice); }));

    // The tabs: Ctrl+W closes the one in sight, Ctrl+Tab and Ctrl+PgDn go to the next one,
    // Ctrl+Shift+Tab and Ctrl+PgUp to the one before; View > Split shows two side by side.
    connect(c.closeTabAction, &QAction::triggered, this, [this] { m_tabs->close(m_tabs->current()); });
    for (const auto& [key, step] : {std::pair{QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
                                    std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
                                    std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
                                    std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
                                    std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1}}) {
        connect(new QShortcut(key, this), &QShortcut::activated, this, [this, step = step] { m_tabs->cycle(step); });
    }
    connect(c.splitAction, &QAction::toggled, this, [this](bool on) { m_tabs->setSplit(on); });

    // The window's own panels and windows. ToolButton7Click, SpeedButton1Click and
    // ShowOptions1Click keep the options panel and its button in step.
    connect(c.optionsButton, &QToolButton::clicked, this,
            guarded(this, [this] { m_controls->showOptionsPanel(m_controls->optionsButton->isChecked()); }));
    connect(c.closeOptionsButton, &QToolButton::clicked, this, guarded(this, [this] { m_controls->showOptionsPanel(false); }));
    connect(c.showOptionsAction, &QAction::triggered, this, guarded(this, [this] { m_controls->showOptionsPanel(true); }));
    // The menu shows the editor without pressing the button.
    connect(c.showTextFormatAction, &QAction::triggered, this, guarded(this, [this] { showFormatEditor(true); }));
    connect(c.formatTextButton, &QToolButton::clicked, this,
            [this] { showFormatEditor(m_controls->formatTextButton->isChecked()); });
    connect(c.clockTimer, &QTimer::timeout, this, guarded(this, [this] { showClock(); }));
    // URLLabel1Click and MarvikWare1Click: the home page in the user's browser.
    connect(c.homeLink, &URLLabel::clicked, this, guarded(this, [] { OpenHomePage(); }));
    connect(c.aboutMakerAction, &QAction::triggered, this, guarded(this, [] { OpenHomePage(); }));

    // The association with .log files.
    connect(c.associateAction, &QAction::triggered, this, guarded(this, [] { AssociateWithLogFiles(ExecutablePath()); }));
    connect(c.removeAssociationAction, &QAction::triggered, this, guarded(this, [] { RemoveLogAssociation(); }));

    // The file list: shown and hidden together with its splitter; a pick opens through the
    // tabs.
    connect(c.fileListButton, &QToolButton::clicked, this,
            [this] { m_controls->showFileListPanel(m_controls->fileListButton->isChecked()); });
    connect(m_fileListPanel->closeButton(), &QToolButton::clicked, this, [this] {
        m_controls->showFileListPanel(false);
        m_controls->fileListButton->setChecked(false);
    });
    connect(m_fileListPanel, &FileListPanel::openRequested, this,
            [this](const std::string& path) { runGuarded(this, [&] { m_tabs->openListed(path); }); });
    for (QAction* add : {c.addToFileListAction, m_fileListPanel->addCurrentFileAction()}) {
        connect(add, &QAction::triggered, this,
                guarded(this, [this] { m_fileListPanel->showAddDialog(tab()->path()); }));
    }

    // Find, in the log in sight or in every open log, and the filter pane.
    connect(c.searchButton, &QToolButton::clicked, m_finder, &Finder::showFindDialog);
    connect(c.findPreviousAction, &QAction::triggered, m_finder, guarded(this, [this] { m_finder->findPrevious(); }));
    connect(c.filterButton, &QToolButton::clicked, this, [this] { filterPane()->toggle(); });
    connect(m_finder, &Finder::findAllRequested, this, guarded(this, [this] { m_navigation->findInAllLogs(); }));
    connect(m_findAll, &FindAllResults::resultActivated, m_navigation, &NavigationCommands::showFoundLine);
    // The strip marks the text last searched for.
    connect(m_finder->findDialog(), &FindDialog::findNext, m_navigation, &NavigationCommands::markFindText);
    connect(c.hideLinesLikeAction, &QAction::triggered, this, [this] { m_navigation->filterLinesLike(FilterRow::Hide); });
    connect(c.showOnlyLinesLikeAction, &QAction::triggered, this,
            [this] { m_navigation->filterLinesLike(FilterRow::ShowOnly); });

    // Reading comfort: the window's keys, the gutter, the font's size, go to line or time and
    // the label lines.
    connect(c.quitAction, &QAction::triggered, this, &QWidget::close);
    connect(c.copyAction, &QAction::triggered, this, [this] { shownView()->copy(); });
    connect(c.selectAllAction, &QAction::triggered, this, [this] { shownView()->selectAll(); });
    connect(c.gotoLineAction, &QAction::triggered, this, guarded(this, [this] { m_navigation->goToLine(); }));
    connect(c.gotoTimeAction, &QAction::triggered, this, guarded(this, [this] { m_navigation->askForTime(); }));
    connect(c.zoomInAction, &QAction::triggered, this, [this] { m_navigation->zoomBy(1); });
    connect(c.zoomOutAction, &QAction::triggered, this, [this] { m_navigation->zoomBy(-1); });
    connect(c.zoomResetAction, &QAction::triggered, m_navigation, &NavigationCommands::zoomReset);
    connect(c.lineNumbersBox, &QCheckBox::toggled, this, [this](bool on) {
        for (LogTab* tab : m_tabs->tabs())
            tab->view()->setLineNumbersShown(on);
    });
    for (const auto& [key, error] : {std::pair{Qt::Key_F8, true}, std::pair{Qt::Key_F7, false}}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this,
                [this, error = error] { m_navigation->goToLabelLine(error, true); });
        connect(new QShortcut(QKeySequence(Qt::SHIFT | key), this), &QShortcut::activated, this,
                [this, error = error] { m_navigation->goToLabelLine(error, false); });
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
    connect(m_formatEditor, &FormatEditor::applyNow, this, guarded(this, [this] {
        if (Log* shown = log())
            shown->readAgain();
    }));
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

// --- Start-up ----------------------------------------------------------------------------

void MainWindow::prepareStart()
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
}

void MainWindow::openStartLogs(const CommandLine& line)
{
    std::vector<StackRow> filters;
    for (const CommandLine::Filter& filter : line.filters)
        filters.push_back({filter.pattern, true, !filter.ignoreCase,
                           filter.show ? FilterRow::ShowOnly : FilterRow::Hide, true});
    const auto withStartFilters = [filters](LogTab* tab) {
        if (!filters.empty())
            tab->setFilterRows(filters);
    };
    if (line.journal) {
        runGuarded(this, [&] {
            m_tabs->openJournal(*line.journal, {}, withStartFilters);
        });
        if (line.logs.isEmpty())
            return;
    }
    if (line.logs.isEmpty()) {
        if (m_controls->reopenSessionAction->isChecked())
            m_session->restore();
        return;
    }
    bool pipeTaken = false;
    QStringList merged;
    for (const QString& path : line.logs) {
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
        if (line.merge) {
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

void MainWindow::finishStartOnScreen()
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

// --- The session's view of the tabs ------------------------------------------------------

std::vector<SessionLog> MainWindow::sessionLogs() const
{
    std::vector<SessionLog> logs;
    for (const LogTab* tab : m_tabs->tabs()) {
        if (!tab->log())
            continue;
        if (std::optional<SessionLog> record = tab->log()->sessionRecord(tab->view()->caretLine()))
            logs.push_back(std::move(*record));
    }
    return logs;
}

void MainWindow::reopen(const SessionLog& kept, std::function<void()> done)
{
    const auto followed = [kept, done](LogTab* tab) {
        if (tab)
            tab->setAutoRefresh(kept.followed, true);
        done();
    };
    if (kept.journal) {
        m_tabs->openJournal(*kept.journal, followed);
        return;
    }
    const QString path = QFile::decodeName(QByteArray::fromStdString(kept.path));
    if (!kept.mergedWith.empty()) {
        QStringList paths{path};
        for (const std::string& other : kept.mergedWith)
            paths << QFile::decodeName(QByteArray::fromStdString(other));
        m_tabs->openMerged(paths, OpenWay::Restored, followed);
        return;
    }
    m_tabs->open(
        path, OpenWay::Restored,
        [kept, done](LogTab* tab) {
            if (tab) {
                tab->setAutoRefresh(kept.followed, true);
                ScrollToLine(tab->view(), std::min<std::int64_t>(kept.caretLine, tab->view()->lineCount()));
            }
            done();
        },
        // Each log is read in the encoding chosen for it.
        [kept](LogTab* tab) { tab->chooseEncoding(kept.encoding); });
}

void MainWindow::sayInSight(const QString& text)
{
    m_tabs->current()->status().setText(0, text);
}

// --- Events and small handlers -----------------------------------------------------------

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    finishStartOnScreen();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program: its other windows go with it.
    if (m_formatEditor)
        m_formatEditor->close();
    if (m_addDialog)
        m_addDialog->close();
    // The size and place, the preferences and the open logs are kept only when they can be;
    // closing never fails for it.
    try {
        m_settings->saveGeometry();
    } catch (const Failure&) {
    }
    try {
        m_settings->savePreferences(*filterPane(), m_navigation->zoomPoints());
    } catch (const Failure&) {
    }
    try {
        m_session->keepNow();
    } catch (const Failure&) {
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::showFormatEditor(bool show)
{
    if (show)
        m_formatEditor->show();
    else
        m_formatEditor->close();
}

void MainWindow::showClock()
{
    m_status->setText(3, longTimeText());
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
    QMetaObject::invokeMethod(this, [this, urls] { runGuarded(this, [&] { m_tabs->openDropped(urls); }); },
                              Qt::QueuedConnection);
}

} // namespace tlg
