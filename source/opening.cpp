// Opening and reloading a log: File > Open File, a drop, the command line and the manual
// reload. Handlers of the open log.

#include "source/logfollower.h"
#include "format/colouring.h"

#include "core/errors.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "core/background.h"
#include "core/messages.h"
#include "core/statuspanels.h"
#include "core/timetext.h"
#include "view/logview.h"
#include "document/textcheck.h"
#include "document/textload.h"
#include "source/watchstate.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>
#include <QScopeGuard>
#include <QUrl>

namespace tlg {

std::string LogFollower::nativePath() const
{
    return QFile::encodeName(m_currentPath).toStdString();
}

DocumentPtr LogFollower::readAside(const std::function<DocumentPtr(std::atomic<std::int64_t>&)>& read,
                                  std::int64_t total)
{
    // The watcher sits out the load, and a report of progress gives way to the text that was
    // there once the load is over.
    const bool timerWasRunning = m_watchTimer->isActive();
    const QString before = m_status->text(0);
    bool reported = false;
    m_watchTimer->stop();
    const OpeningScope opening(*this);
    const auto restore = qScopeGuard([&] {
        if (reported)
            setStatusText(0, before);
        if (timerWasRunning)
            m_watchTimer->start();
    });
    DocumentPtr document;
    const std::function<void()> hook = m_readHook;
    RunAside([&](std::atomic<std::int64_t>& done) {
                 if (hook)
                     hook();
                 document = read(done);
             },
             total,
             [&](int percent) {
                 reported = true;
                 setStatusText(0, QStringLiteral("Loading %1%").arg(percent));
             });
    return document;
}

void LogFollower::LoadIntoBuffer()
{
    const std::string path = nativePath();
    m_loadBuffer = readAside([path](std::atomic<std::int64_t>& done) { return LoadPlainText(path, &done); },
                             FileSizeOf(path));
}

void LogFollower::LoadIntoBufferAfter()
{
    const std::string path = nativePath();
    const DocumentPtr previous = m_loadBuffer;
    // The bytes already held must still be the file's, or the whole file is read again: an
    // edit in place is never shown stale.
    // A tick that a change notification started compares nothing, so that a log written in a
    // burst costs no more than the bytes it gained; the next regular tick compares it all.
    const bool differs = m_textDiffers;
    const bool compare = !m_inNotifiedTick || differs;
    TextCheck check = m_textCheck;
    m_loadBuffer = readAside(
        [&, path, previous](std::atomic<std::int64_t>& done) {
            if (!compare)
                return LoadPlainTextAfter(path, previous, &done);
            return LoadFollowedText(path, previous, check, differs, &done);
        },
        FileSizeOf(path) - previous->size());
    if (!compare)
        check.unchecked = m_loadBuffer->size();
    m_textDiffers = false;
    m_textCheck = check;
}

bool LogFollower::CheckLoadedText()
{
    const std::string path = nativePath();
    const DocumentPtr held = m_loadBuffer;
    TextCheck check = m_textCheck;
    bool same = true;
    readAside(
        [&, path, held](std::atomic<std::int64_t>&) {
            same = TextStillInFile(path, *held, check);
            return held;
        },
        0);
    m_textCheck = check;
    return same;
}

void LogFollower::ShowFirstView()
{
    m_view1->show();
    m_view1->raise();
    m_view3->hide();
}

void LogFollower::ResetForNewFile()
{
    tlg::ResetForNewFile(m_watch);
    ShowFirstView();
}

void LogFollower::SetTitleToPath()
{
    emit titleChanged(QStringLiteral("Log Viewer - ") + m_currentPath);
}

void LogFollower::loadPath(const QString& path, bool watchBackOnFailure)
{
    // Loaded first and switched after: a file that cannot be read leaves the log that was
    // open as it was, shown, named in the title and watched.
    const QString previous = m_currentPath;
    const DocumentPtr heldBefore = m_loadBuffer;
    const OpeningScope opening(*this);
    m_currentPath = path;
    try {
        LoadIntoBuffer();
        UnicodeStep();
    } catch (...) {
        m_currentPath = previous;
        m_loadBuffer = heldBefore;
        m_watch.FileOpen = watchBackOnFailure;
        throw;
    }
    m_textCheck = {};
}

void LogFollower::openNewFile(const QString& path, bool watchBackOnFailure)
{
    // Sampled before the read, so that a write landing during the load is loaded at the next
    // tick.
    const FileSample sample = sampleFile(QFile::encodeName(path).toStdString());
    loadPath(path, watchBackOnFailure);
    m_stagingText = m_loadBuffer;
    m_view1->clear();
    ResetForNewFile();
    SetTitleToPath();
    m_watch.FileOpen = true;
    focusMainWindow();
    storeSample(sample);
    showLoadedText();
    watchOpenLog();
    emit logOpened(m_currentPath);
}

void LogFollower::OpenFile1Click()
{
    if (deferWhileOpening([this] { OpenFile1Click(); }))
        return;
    // The watcher leaves the file alone while the modal dialog is up; its timer keeps ticking
    // in the dialog's event loop.
    m_watch.FileOpen = false;
    if (!m_currentPath.isEmpty()) {
        const QFileInfo current(m_currentPath);
        openDialog()->setDirectory(current.absolutePath());
        openDialog()->selectFile(current.fileName());
    }
    const bool picked = openDialog()->exec() == QDialog::Accepted &&
                        !openDialog()->selectedFiles().isEmpty();
    // The log that was open is watched again after a cancel or a file that cannot be read.
    const bool watchAgain = !trimBlanks(nativePath()).empty();
    if (!picked) {
        m_watch.FileOpen = watchAgain;
        return;
    }
    openNewFile(openDialog()->selectedFiles().first(), watchAgain);
}

void LogFollower::WMDropFiles(const QList<QUrl>& urls)
{
    if (deferWhileOpening([this, urls] { WMDropFiles(urls); }))
        return;
    if (urls.size() != 1) {
        showMessage(m_window, {QStringLiteral("More Than One file dragged. Only drag ONE file to Log "
                                          "viewer to open it"),
                           QStringLiteral("More than one file dragged"), QMessageBox::Ok,
                           QMessageBox::NoIcon});
        return;
    }
    if (!urls.first().isLocalFile())
        throw Failure("Only files on this computer can be opened: " +
                      urls.first().toDisplayString().toStdString());
    openNewFile(urls.first().toLocalFile(), m_watch.FileOpen);
}

void LogFollower::CommandLineOpen(const QString& argument)
{
    const std::string path = QFile::encodeName(argument).toStdString();
    if (trimBlanks(path).empty() || AgeStamp(path) == -1)
        return; // nothing to open, and nothing to say
    m_commandLinePath = argument;
}

void LogFollower::LoadCommandLineLog()
{
    if (m_commandLinePath.isEmpty())
        return;
    const QString argument = std::exchange(m_commandLinePath, QString());
    const FileSample sample = sampleFile(QFile::encodeName(argument).toStdString());
    loadPath(argument, false);
    m_view1->setDocument(m_loadBuffer);
    SetTitleToPath();
    m_watch.FileOpen = true;
    storeSample(sample);
    m_stagingText = m_loadBuffer;
    showLoadedText();
    watchOpenLog();
    emit logOpened(m_currentPath);
}

LogFollower::FileSample LogFollower::loadForReload()
{
    const OpeningScope opening(*this);
    const std::string path = nativePath();
    // Sampled before the read, so that a write landing during the load differs from the
    // stored values and the watcher loads it at its next tick.
    const FileSample sample = sampleFile(path);
    LoadIntoBuffer();
    setStatusText(0, QStringLiteral("File Loaded ") + longTimeText());
    UnicodeStep();
    m_textCheck = {};
    return sample;
}

LogFollower::FileSample LogFollower::sampleFile(const std::string& path)
{
    return {AgeStamp(path), FileSizeOf(path), StampOf(path)};
}

void LogFollower::storeSample(const FileSample& sample)
{
    m_watch.StoredAge = sample.age;
    m_watch.StoredSize = sample.size;
    m_watch.StoredStamp = sample.stamp;
}

void LogFollower::showReloaded(const FileSample& sample)
{
    m_stagingText = m_loadBuffer;
    shownView()->setDocument(m_stagingText);
    storeSample(sample);
    // Coloured at once; with colouring off it waits until colouring is on again.
    m_watch.FormatPending = true;
    m_watch.FormatTicks = 999;
    if (m_colouring->colouringOn())
        colourLoadedText();
    setReloadAlert(false);
}

void LogFollower::Refresh1Click()
{
    if (deferWhileOpening([this] { Refresh1Click(); }))
        return;
    if (AgeStamp(nativePath()) == -1) {
        setStatusText(0, QStringLiteral("File Could not be located"));
        // Back to the log that was open before the last file-list pick, opened under its own
        // name: the title, the path and the text always belong to one file.
        const std::string previous = QFile::encodeName(m_previousPath).toStdString();
        if (trimBlanks(previous).size() > 1 && m_previousPath != m_currentPath && AgeStamp(previous) != -1)
            OpenListedFile(previous);
        return;
    }
    SetTitleToPath();
    m_watchTimer->stop();
    try {
        showReloaded(loadForReload());
    } catch (const std::exception&) {
        setStatusText(0, QStringLiteral("File is Locked, try Again"));
    }
    m_watchTimer->start();
}

void LogFollower::OpenListedFile(const std::string& path)
{
    if (deferWhileOpening([this, path] { OpenListedFile(path); }))
        return;
    if (upperAscii(path) == upperAscii(nativePath())) {
        setStatusText(0, QStringLiteral("File already loaded"));
        return;
    }
    m_watchTimer->stop();
    m_previousPath = m_currentPath;
    if (AgeStamp(path) == -1) {
        setStatusText(0, QStringLiteral("FILE DOES NOT EXIST"));
        m_watchTimer->start();
        return;
    }
    // Loaded first and switched after: a file that cannot be read leaves the log that was
    // open as it was, shown, named in the title and watched.
    const QString before = m_currentPath;
    const DocumentPtr heldBefore = m_loadBuffer;
    m_currentPath = QFile::decodeName(QByteArray::fromStdString(path));
    try {
        const FileSample sample = loadForReload();
        ResetForNewFile();
        SetTitleToPath();
        m_watch.FileOpen = true;
        showReloaded(sample);
        watchOpenLog();
        emit logOpened(m_currentPath);
    } catch (const std::exception&) {
        m_currentPath = before;
        m_loadBuffer = heldBefore;
        setStatusText(0, QStringLiteral("File is Locked, try Again"));
    }
    m_watchTimer->start();
}

bool LogFollower::deferWhileOpening(std::function<void()> request)
{
    if (!m_opening)
        return false;
    m_pending = std::move(request); // the last request wins
    return true;
}

void LogFollower::runPending()
{
    if (!m_pending)
        return;
    std::function<void()> request = std::move(m_pending);
    m_pending = nullptr;
    // After the handler that ended the load has returned, as if the click came now.
    QMetaObject::invokeMethod(this, [this, request] { runGuarded(m_window, request); }, Qt::QueuedConnection);
}

LogFollower::OpeningScope::OpeningScope(LogFollower& follower)
    : m_follower(follower), m_wasOpening(follower.m_opening)
{
    follower.m_opening = true;
}

LogFollower::OpeningScope::~OpeningScope()
{
    m_follower.m_opening = m_wasOpening;
    if (!m_wasOpening)
        m_follower.runPending();
}

QFileDialog* LogFollower::openDialog()
{
    // Made when first needed: a dialog lists its last folder as soon as it exists.
    if (!m_openDialog) {
        m_openDialog = new QFileDialog(m_window);
        m_openDialog->setObjectName(QStringLiteral("Open1"));
        m_openDialog->setFileMode(QFileDialog::ExistingFile);
        m_openDialog->setAcceptMode(QFileDialog::AcceptOpen);
        m_openDialog->setSizeGripEnabled(true);
        m_iconProvider.preparePictures();
        m_openDialog->setIconProvider(&m_iconProvider);
    }
    return m_openDialog;
}

void LogFollower::ToolButton12Click()
{
    Refresh1Click();
}

} // namespace tlg
