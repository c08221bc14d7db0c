// Opening and reloading a log: File > Open File, a drop, the command line and the manual
// reload. Handlers of the open log.

#include "log/logfollower.h"

#include "core/errors.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "core/background.h"
#include "core/messages.h"
#include "core/statuspanels.h"
#include "core/timetext.h"
#include "log/logview.h"
#include "log/textload.h"
#include "log/watchstate.h"

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
    const bool wasOpening = m_opening;
    const QString before = m_status->text(0);
    bool reported = false;
    m_watchTimer->stop();
    m_opening = true;
    const auto restore = qScopeGuard([&] {
        m_opening = wasOpening;
        if (reported)
            setStatusText(0, before);
        if (timerWasRunning)
            m_watchTimer->start();
    });
    DocumentPtr document;
    RunAside([&](std::atomic<std::int64_t>& done) { document = read(done); }, total,
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
    m_loadBuffer = readAside(
        [path, previous](std::atomic<std::int64_t>& done) { return LoadPlainTextAfter(path, previous, &done); },
        FileSizeOf(path) - previous->size());
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
    const bool opening = m_opening;
    m_opening = true;
    m_currentPath = path;
    try {
        LoadIntoBuffer();
        UnicodeStep();
    } catch (...) {
        m_currentPath = previous;
        m_watch.FileOpen = watchBackOnFailure;
        m_opening = opening;
        throw;
    }
    m_opening = opening;
}

void LogFollower::openNewFile(const QString& path, bool watchBackOnFailure)
{
    loadPath(path, watchBackOnFailure);
    m_stagingText = m_loadBuffer;
    m_view1->clear();
    ResetForNewFile();
    SetTitleToPath();
    m_watch.FileOpen = true;
    focusMainWindow();
}

void LogFollower::OpenFile1Click()
{
    if (m_opening)
        return; // a load is under way
    // The watcher leaves the file alone while the modal dialog is up; its timer keeps ticking
    // in the dialog's event loop.
    m_watch.FileOpen = false;
    if (!m_currentPath.isEmpty()) {
        const QFileInfo current(m_currentPath);
        m_openDialog->setDirectory(current.absolutePath());
        m_openDialog->selectFile(current.fileName());
    }
    const bool picked = m_openDialog->exec() == QDialog::Accepted &&
                        !m_openDialog->selectedFiles().isEmpty();
    // The log that was open is watched again after a cancel or a file that cannot be read.
    const bool watchAgain = !trimBlanks(nativePath()).empty();
    if (!picked) {
        m_watch.FileOpen = watchAgain;
        return;
    }
    openNewFile(m_openDialog->selectedFiles().first(), watchAgain);
}

void LogFollower::WMDropFiles(const QList<QUrl>& urls)
{
    if (m_opening)
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
    loadPath(argument, false);
    m_view1->setDocument(m_loadBuffer);
    SetTitleToPath();
    m_watch.FileOpen = true;
}

void LogFollower::Refresh1Click()
{
    if (m_opening)
        return;
    const std::string path = nativePath();
    if (AgeStamp(path) == -1) {
        setStatusText(0, QStringLiteral("File Could not be located"));
        if (trimBlanks(QFile::encodeName(m_previousPath).toStdString()).size() > 1)
            m_currentPath = m_previousPath;
        return;
    }
    SetTitleToPath();
    m_watchTimer->stop();
    m_opening = true;
    try {
        // Sampled before the read, so that a write landing during the load differs from the
        // stored values and the watcher loads it at its next tick.
        const std::int32_t age = AgeStamp(path);
        const std::int64_t size = FileSizeOf(path);
        LoadIntoBuffer();
        setStatusText(0, QStringLiteral("File Loaded ") + longTimeText());
        UnicodeStep();
        m_stagingText = m_loadBuffer;
        shownView()->setDocument(m_stagingText);
        m_watch.StoredAge = age;
        m_watch.StoredSize = size;
        m_watch.FormatPending = true;
        m_watch.FormatTicks = 999;
        m_opening = false;
        m_watchTimer->start();
        setReloadAlert(false);
    } catch (const std::exception&) {
        m_opening = false;
        setStatusText(0, QStringLiteral("File is Locked, try Again"));
        m_watchTimer->start();
    }
}

void LogFollower::OpenListedFile(const std::string& path)
{
    if (m_opening)
        return;
    if (upperAscii(path) == upperAscii(nativePath())) {
        setStatusText(0, QStringLiteral("File already loaded"));
        return;
    }
    m_watchTimer->stop();
    m_previousPath = m_currentPath;
    if (AgeStamp(path) != -1) {
        m_currentPath = QFile::decodeName(QByteArray::fromStdString(path));
        ResetForNewFile();
        SetTitleToPath();
        m_watch.FileOpen = true;
        Refresh1Click();
    } else {
        setStatusText(0, QStringLiteral("FILE DOES NOT EXIST"));
    }
    m_watchTimer->start();
}

void LogFollower::ToolButton12Click()
{
    Refresh1Click();
}

} // namespace tlg
