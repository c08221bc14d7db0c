#include "app/logtabs.h"

#include "app/archivememberdialog.h"
#include "app/logtab.h"
#include "core/errors.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "core/messages.h"
#include "document/archivereader.h"
#include "document/decompression.h"
#include "source/logopening.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tlg {

namespace {

QString absolute(const QString& path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

} // namespace

LogTabs::LogTabs(std::function<LogTab*()> makeTab, QWidget* parent) : QWidget(parent), m_makeTab(std::move(makeTab))
{
    setObjectName(QStringLiteral("LogTabArea"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    column->addWidget(splitter);
    for (int index = 0; index < 2; ++index) {
        auto* tabs = new QTabWidget(splitter);
        tabs->setObjectName(index == 0 ? QStringLiteral("LogTabs") : QStringLiteral("LogTabs2"));
        tabs->setDocumentMode(true);
        tabs->setMovable(true);
        tabs->setTabsClosable(false);
        tabs->setUsesScrollButtons(true);
        tabs->tabBar()->setExpanding(false);
        tabs->tabBar()->setElideMode(Qt::ElideMiddle);
        tabs->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
        tabs->tabBar()->installEventFilter(this);
        connect(tabs, &QTabWidget::currentChanged, this, [this, index] {
            if (index == m_active)
                noticeCurrent();
        });
        connect(tabs->tabBar(), &QTabBar::tabBarClicked, this, [this, index] { activate(index); });
        connect(tabs->tabBar(), &QTabBar::tabMoved, this, &LogTabs::tabsChanged);
        connect(tabs->tabBar(), &QWidget::customContextMenuRequested, this,
                [this, index](const QPoint& at) { showTabMenu(index, at); });
        splitter->addWidget(tabs);
        m_sides[static_cast<std::size_t>(index)] = tabs;
    }
    m_sides[1]->hide();
    // The side with the focus is the side in sight.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        for (int index = 0; index < 2; ++index) {
            if (now && m_sides[static_cast<std::size_t>(index)]->isAncestorOf(now))
                activate(index);
        }
    });
    LogTab* first = LogTabs::makeTab(0);
    m_sides[0]->addTab(first, QStringLiteral("(blank)"));
    noticeCurrent();
}

LogTabs::~LogTabs()
{
    // The dialog uses the icon provider that goes with the tabs.
    delete m_openDialog;
}

LogTab* LogTabs::makeTab(int sideIndex)
{
    LogTab* tab = m_makeTab();
    tab->setParent(m_sides[static_cast<std::size_t>(sideIndex)]);
    connect(tab, &LogTab::newsChanged, this, [this, tab] { showTabLabel(tab); });
    connect(tab, &LogTab::openRequested, this, [this](const QString& path) { open(path, OpenWay::Listed); });
    return tab;
}

LogTab* LogTabs::current() const
{
    return m_current;
}

QList<LogTab*> LogTabs::tabs() const
{
    QList<LogTab*> all;
    for (const QTabWidget* side : m_sides) {
        for (int i = 0; i < side->count(); ++i)
            all << static_cast<LogTab*>(side->widget(i));
    }
    return all;
}

LogTab* LogTabs::tabOf(const QString& path) const
{
    const QString wanted = absolute(path);
    for (LogTab* tab : tabs()) {
        if ((tab->log() && tab->log()->isNamed(path)) || (!tab->log() && absolute(tab->opening()) == wanted))
            return tab;
    }
    return nullptr;
}

int LogTabs::sideOf(const LogTab* tab) const
{
    return m_sides[1]->indexOf(const_cast<LogTab*>(tab)) >= 0 ? 1 : 0;
}

bool LogTabs::busy() const
{
    if (m_openDialog && m_openDialog->isVisible())
        return true;
    for (const LogTab* tab : tabs()) {
        if (!tab->opening().isEmpty() || (tab->log() && tab->log()->busy()))
            return true;
    }
    return false;
}

void LogTabs::setCurrent(LogTab* tab)
{
    const int index = sideOf(tab);
    m_sides[static_cast<std::size_t>(index)]->setCurrentWidget(tab);
    activate(index);
    noticeCurrent();
}

void LogTabs::activate(int sideIndex)
{
    if (m_sides[static_cast<std::size_t>(sideIndex)]->count() == 0 || sideIndex == m_active)
        return;
    m_active = sideIndex;
    noticeCurrent();
}

void LogTabs::noticeCurrent()
{
    QTabWidget* side = m_sides[static_cast<std::size_t>(m_active)];
    if (side->count() == 0) {
        m_active = 1 - m_active;
        side = m_sides[static_cast<std::size_t>(m_active)];
    }
    auto* now = static_cast<LogTab*>(side->currentWidget());
    if (now == m_current)
        return;
    LogTab* before = m_current;
    m_current = now;
    if (before)
        before->setInSight(false);
    if (now) {
        now->setInSight(true);
        // Whoever looks for the view of the log in sight by its name finds this one first.
        now->lower();
        side->lower();
        showTabLabel(now);
    }
    emit currentChanged(now, before);
}

void LogTabs::showTabLabel(LogTab* tab)
{
    QTabWidget* side = m_sides[static_cast<std::size_t>(sideOf(tab))];
    const int index = side->indexOf(tab);
    if (index < 0)
        return;
    const QString name = tab->displayName();
    // A log that grew out of sight says so with a dot, red when a new line holds an error.
    const bool news = tab->news() != LogTab::News::None;
    side->setTabText(index, (news ? QStringLiteral("\u25CF ") : QString()) + QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
    const QStringList files = tab->log() ? tab->log()->files() : QStringList{tab->opening()};
    side->setTabToolTip(index, files.join(QLatin1Char('\n')));
    side->tabBar()->setTabTextColor(index, tab->news() == LogTab::News::GrewWithError ? QColor(230, 0, 0) : QColor());
}

// --- Opening ---------------------------------------------------------------------------------

void LogTabs::open(const QString& path, OpenWay way, std::function<void(LogTab*)> done,
                   const std::function<void(LogTab*)>& prepare)
{
    if (LogTab* open = tabOf(path)) {
        setCurrent(open);
        emit broughtToFront(open->path());
        if (done)
            done(open);
        return;
    }
    Log* log = MakeLogAt(path, way);
    if (LogTab* before = current())
        log->setPreviousPath(before->path());
    openInTab(log, path, std::move(done), prepare);
}

void LogTabs::openInTab(Log* log, const QString& opening, std::function<void(LogTab*)> done,
                        const std::function<void(LogTab*)>& prepare)
{
    // A log that shows what a tab shows already (the same journal asked again) comes to the front.
    for (LogTab* tab : tabs()) {
        if (tab->log() && tab->log()->sameAs(*log)) {
            delete log;
            setCurrent(tab);
            emit broughtToFront(tab->path());
            if (done)
                done(tab);
            return;
        }
    }
    QPointer<LogTab> previous = current();
    bool made = false;
    LogTab* target = tabToOpenIn(made);
    target->setOpening(opening);
    if (prepare)
        prepare(target);
    setCurrent(target);
    showTabLabel(target);
    connect(target, &LogTab::opened, this, [this, target, made, previous, done](bool opened) {
        if (!opened) {
            if (made)
                dropFailedTab(target, previous);
            else
                target->close();
        }
        if (opened || !made)
            showTabLabel(target);
        emit tabsChanged();
        if (done)
            done(opened ? target : nullptr);
    }, Qt::SingleShotConnection);
    target->open(log);
}

LogTab* LogTabs::tabToOpenIn(bool& made)
{
    LogTab* before = current();
    LogTab* target = before && before->blank() ? before : nullptr;
    for (LogTab* tab : tabs()) {
        if (!target && tab->blank())
            target = tab;
    }
    made = !target;
    if (made) {
        target = makeTab(m_active);
        QTabWidget* side = m_sides[static_cast<std::size_t>(m_active)];
        side->insertTab(before ? side->indexOf(before) + 1 : side->count(), target, QString());
    }
    return target;
}

void LogTabs::openJournal(const JournalQuery& query, std::function<void(LogTab*)> done,
                          const std::function<void(LogTab*)>& prepare)
{
    openInTab(MakeJournalLog(query), QString(), std::move(done), prepare);
}

void LogTabs::dropFailedTab(LogTab* target, const QPointer<LogTab>& previous)
{
    // No tab for a log that cannot be read: the one in sight before comes back, saying why.
    const QString why = target->status().text(0);
    removeTab(target);
    if (previous) {
        setCurrent(previous);
        previous->status().setText(0, why);
    }
}

void LogTabs::openPipe(FileHandle input, std::function<void(LogTab*)> done, const std::function<void(LogTab*)>& prepare,
                       PipeSpool::Options options)
{
    openInTab(MakePipeLog(std::move(input), std::move(options)), QString(), std::move(done), prepare);
}

void LogTabs::openListed(const std::string& path)
{
    LogTab* tab = current();
    if (upperAscii(path) == upperAscii(QFile::encodeName(tab->path()).toStdString())) {
        tab->status().setText(0, QStringLiteral("File already loaded"));
        return;
    }
    // PreviousPath: what was open before the pick, which a Reload of a log gone goes back to.
    if (tab->log())
        tab->log()->setPreviousPath(tab->path());
    const QString named = QFile::decodeName(QByteArray::fromStdString(path));
    if (AgeStamp(path) == -1) {
        tab->status().setText(0, QFileInfo(named).isDir() ? QStringLiteral("Cannot open file %1: it is a folder").arg(named)
                                                           : QStringLiteral("FILE DOES NOT EXIST"));
        return;
    }
    open(named, OpenWay::Listed);
}

void LogTabs::openDropped(const QList<QUrl>& urls)
{
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            throw Failure("Only files on this computer can be opened: " + url.toDisplayString().toStdString());
    }
    for (const QUrl& url : urls)
        openGiven(url.toLocalFile());
}

OpenLogDialog* LogTabs::openDialog()
{
    // Made when first needed: a dialog lists its last folder as soon as it exists.
    if (!m_openDialog) {
        m_openDialog = MakeOpenLogDialog(window(), &m_iconProvider);
        m_openDialog->setFileMode(QFileDialog::ExistingFiles);
        m_openDialog->setPicksJournalFolders(true);
    }
    return m_openDialog;
}

void LogTabs::openFromDialog()
{
    if (m_openDialog && m_openDialog->isVisible()) {
        m_openDialog->raise();
        return;
    }
    QPointer<LogTab> tab = current();
    // The watcher leaves the log in sight alone while the dialog is up.
    if (tab->log())
        tab->log()->setWatched(false);
    if (!tab->path().isEmpty()) {
        const QFileInfo shown(tab->path());
        openDialog()->setDirectory(shown.absolutePath());
        openDialog()->selectFile(shown.fileName());
    }
    // Window-modal and answered when the person closes it: the window goes on meanwhile.
    OpenLogDialog* dialog = openDialog();
    connect(dialog, &QDialog::finished, this, guarded(window(), [this, dialog, tab] {
        // The log that was in sight is watched again whatever was picked.
        if (tab && tab->log())
            tab->log()->setWatched(true);
        if (dialog->result() != QDialog::Accepted)
            return;
        for (const QString& path : dialog->picked())
            openGiven(path);
    }), Qt::SingleShotConnection);
    dialog->open();
}

void LogTabs::openArchive(const QString& path)
{
    ArchiveMemberDialog::ask(window(), path, [this, path](const QString& member) {
        ChooseArchiveMember(QFile::encodeName(path).toStdString(), member.toStdString());
        if (LogTab* tab = tabOf(path)) {
            setCurrent(tab);
            if (tab->log())
                tab->log()->reload();
            return;
        }
        open(path, OpenWay::Chosen);
    });
}

void LogTabs::openGiven(const QString& path)
{
    if (IsArchiveFile(QFile::encodeName(path).toStdString()))
        openArchive(path);
    else
        open(path, OpenWay::Chosen);
}

void LogTabs::openMerged(const QStringList& paths, OpenWay way, std::function<void(LogTab*)> done,
                         const std::function<void(LogTab*)>& prepare)
{
    if (paths.isEmpty())
        return;
    if (paths.size() == 1) {
        open(paths.front(), way, std::move(done), prepare);
        return;
    }
    QString refusal;
    Log* log = MakeMergedLog(paths, way, &refusal);
    if (!log) {
        if (LogTab* tab = current())
            tab->status().setText(0, refusal);
        return;
    }
    // Always a tab of its own: a blank tab takes it, else a new one after the tab in sight.
    openInTab(log, log->path(), std::move(done), prepare);
}

namespace {

// A rotated set (app.log, app.log.1, app.log.2.gz) picked together is put oldest first, so that
// lines without a time, or of the same time, come in the order they were written. Other
// names keep the order they were picked in.
QStringList OldestRotationFirst(QStringList paths)
{
    static const QRegularExpression rotated(QStringLiteral("^(.*?)(?:\\.(\\d+))?(?:\\.(?:gz|xz|bz2|zst))?$"));
    QString stem;
    for (const QString& path : paths) {
        const QString own = rotated.match(path).captured(1);
        if (!stem.isEmpty() && own != stem)
            return paths;
        stem = own;
    }
    const auto age = [](const QString& path) {
        const QString number = rotated.match(path).captured(2);
        return number.isEmpty() ? -1 : number.toInt();
    };
    std::stable_sort(paths.begin(), paths.end(), [&](const QString& a, const QString& b) { return age(a) > age(b); });
    return paths;
}

} // namespace

void LogTabs::openMergedFromDialog(LogTab* with)
{
    QPointer<LogTab> base = with;
    auto* dialog = MakeOpenLogDialog(window(), &m_iconProvider);
    dialog->setObjectName(QStringLiteral("OpenMergedDialog"));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setWindowTitle(with ? QStringLiteral("Merge with") : QStringLiteral("Open Merged"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (LogTab* tab = with ? with : current(); tab && !tab->path().isEmpty())
        dialog->setDirectory(QFileInfo(tab->path()).absolutePath());
    connect(dialog, &QDialog::finished, this, guarded(window(), [this, dialog, base, with] {
        if (dialog->result() != QDialog::Accepted || (with && !base))
            return;
        QStringList paths;
        if (base && base->log())
            paths = base->log()->files();
        for (const QString& path : dialog->selectedFiles())
            if (!paths.contains(absolute(path)))
                paths << absolute(path);
        openMerged(OldestRotationFirst(paths), OpenWay::Chosen);
    }));
    dialog->open();
}

// --- Closing, moving between tabs, and the split -----------------------------------------------

void LogTabs::removeTab(LogTab* tab)
{
    // It speaks for the window no more, from now on rather than when it is gone.
    tab->status().hide();
    QTabWidget* side = m_sides[static_cast<std::size_t>(sideOf(tab))];
    side->removeTab(side->indexOf(tab));
    tab->hide();
    tab->setParent(nullptr);
    tab->deleteLater();
    if (tabs().isEmpty()) {
        // The window always shows a log view: the last tab closed leaves a blank one.
        m_active = 0;
        m_sides[0]->addTab(makeTab(0), QStringLiteral("(blank)"));
    }
    if (m_current == tab)
        m_current = nullptr;
    noticeCurrent();
}

void LogTabs::close(LogTab* tab)
{
    if (!tab)
        return;
    // Its log stops following as it goes.
    tab->watchTimer()->stop();
    tab->close();
    removeTab(tab);
    emit tabsChanged();
}

void LogTabs::closeOthers(LogTab* tab)
{
    for (LogTab* other : tabs()) {
        if (other != tab)
            close(other);
    }
    setCurrent(tab);
}

void LogTabs::cycle(int step)
{
    const QList<LogTab*> all = tabs();
    if (all.size() < 2)
        return;
    const auto at = static_cast<int>(all.indexOf(current()));
    setCurrent(all[((at + step) % all.size() + all.size()) % all.size()]);
}

bool LogTabs::split() const
{
    return !m_sides[1]->isHidden();
}

void LogTabs::moveToOtherSide(LogTab* tab)
{
    if (!split())
        setSplit(true);
    const int from = sideOf(tab);
    QTabWidget* source = m_sides[static_cast<std::size_t>(from)];
    QTabWidget* target = m_sides[static_cast<std::size_t>(1 - from)];
    // The first side never stands empty while the second holds tabs.
    if (from == 0 && source->count() == 1)
        return;
    const QString text = source->tabText(source->indexOf(tab));
    source->removeTab(source->indexOf(tab));
    target->addTab(tab, text);
    target->setCurrentWidget(tab);
    showTabLabel(tab);
    m_active = sideOf(tab);
    m_current = nullptr;
    noticeCurrent();
    emit tabsChanged();
}

void LogTabs::setSplit(bool on)
{
    if (on == split())
        return;
    if (on) {
        m_sides[1]->show();
        // The tab after the one in sight goes beside it, when there is one.
        const QList<LogTab*> left = tabs();
        const auto at = static_cast<int>(left.indexOf(current()));
        if (left.size() >= 2) {
            LogTab* keep = current();
            moveToOtherSide(left[at + 1 < left.size() ? at + 1 : at - 1]);
            setCurrent(keep);
        }
        return;
    }
    LogTab* keep = current();
    while (m_sides[1]->count() > 0) {
        auto* tab = static_cast<LogTab*>(m_sides[1]->widget(0));
        const QString text = m_sides[1]->tabText(0);
        m_sides[1]->removeTab(0);
        m_sides[0]->addTab(tab, text);
    }
    m_sides[1]->hide();
    m_active = 0;
    if (keep)
        m_sides[0]->setCurrentWidget(keep);
    m_current = nullptr;
    noticeCurrent();
    emit tabsChanged();
}

void LogTabs::showTabMenu(int sideIndex, const QPoint& at)
{
    QTabBar* bar = m_sides[static_cast<std::size_t>(sideIndex)]->tabBar();
    const int index = bar->tabAt(at);
    if (index < 0)
        return;
    QPointer<LogTab> tab = static_cast<LogTab*>(m_sides[static_cast<std::size_t>(sideIndex)]->widget(index));
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("TabMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("&Close"), this, [this, tab] {
        if (tab)
            close(tab);
    });
    menu->addAction(QStringLiteral("Close &Others"), this, [this, tab] {
        if (tab)
            closeOthers(tab);
    });
    menu->addSeparator();
    QAction* copy = menu->addAction(QStringLiteral("Copy &Path"), this, [tab] {
        if (tab)
            QApplication::clipboard()->setText(tab->path());
    });
    QAction* folder = menu->addAction(QStringLiteral("Open Containing &Folder"), this, [tab] {
        if (tab)
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(tab->path()).absolutePath()));
    });
    copy->setEnabled(!tab->path().isEmpty());
    folder->setEnabled(!tab->path().isEmpty());
    QAction* merge = menu->addAction(QStringLiteral("Merge &with..."), this, [this, tab] {
        if (tab)
            openMergedFromDialog(tab);
    });
    merge->setObjectName(QStringLiteral("MergeWith1"));
    merge->setEnabled(tab->log() && tab->log()->abilities().mergeWith);
    menu->addAction(QStringLiteral("&Move to Other Side"), this, [this, tab] {
        if (tab)
            moveToOtherSide(tab);
    });
    menu->popup(bar->mapToGlobal(at));
}

bool LogTabs::eventFilter(QObject* watched, QEvent* event)
{
    // A middle click closes the tab under the pointer.
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* bar = qobject_cast<QTabBar*>(watched);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (bar && mouse->button() == Qt::MiddleButton) {
            const int index = bar->tabAt(mouse->position().toPoint());
            const int sideIndex = bar == m_sides[1]->tabBar() ? 1 : 0;
            if (index >= 0) {
                close(static_cast<LogTab*>(m_sides[static_cast<std::size_t>(sideIndex)]->widget(index)));
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tlg
