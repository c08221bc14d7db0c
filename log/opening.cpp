// Opening and reloading a log: File > Open File, a drop, the command line and the manual
// reload. Handlers of the main window.

#include "app/errors.h"
#include "app/fields.h"
#include "app/fileops.h"
#include "app/mainwindow.h"
#include "app/messages.h"
#include "app/timetext.h"
#include "log/logview.h"
#include "log/textload.h"
#include "log/watchstate.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

namespace tlg {

std::string MainWindow::nativePath() const
{
    return QFile::encodeName(m_currentPath).toStdString();
}

void MainWindow::LoadIntoBuffer()
{
    m_loadBuffer = LoadPlainText(nativePath());
}

void MainWindow::ShowFirstView()
{
    m_view1->show();
    m_view1->raise();
    m_view3->hide();
}

void MainWindow::ResetForNewFile()
{
    tlg::ResetForNewFile(m_watch);
    ShowFirstView();
}

void MainWindow::SetTitleToPath()
{
    setWindowTitle(QStringLiteral("Log Viewer - ") + m_currentPath);
}

void MainWindow::OpenFile1Click()
{
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
    if (!picked) {
        // The log that was open is watched again.
        m_watch.FileOpen = !trimBlanks(nativePath()).empty();
        return;
    }
    m_currentPath = m_openDialog->selectedFiles().first();
    m_watch.FileOpen = false;
    LoadIntoBuffer();
    UnicodeStep();
    m_stagingText = m_loadBuffer;
    m_view1->clear();
    ResetForNewFile();
    SetTitleToPath();
    m_watch.FileOpen = true;
    focusMainWindow();
}

void MainWindow::WMDropFiles(const QList<QUrl>& urls)
{
    if (urls.size() != 1) {
        showMessage(this, {QStringLiteral("More Than One file dragged. Only drag ONE file to Log "
                                          "viewer to open it"),
                           QStringLiteral("More than one file dragged"), QMessageBox::Ok,
                           QMessageBox::NoIcon});
        return;
    }
    if (!urls.first().isLocalFile())
        throw Failure("Only files on this computer can be opened: " +
                      urls.first().toDisplayString().toStdString());
    m_currentPath = urls.first().toLocalFile();
    LoadIntoBuffer();
    UnicodeStep();
    m_stagingText = m_loadBuffer;
    m_view1->clear();
    ResetForNewFile();
    SetTitleToPath();
    m_watch.FileOpen = true;
    focusMainWindow();
}

void MainWindow::CommandLineOpen(const QString& argument)
{
    const std::string path = QFile::encodeName(argument).toStdString();
    if (trimBlanks(path).empty() || AgeStamp(path) == -1)
        return; // nothing to open, and nothing to say
    m_currentPath = argument;
    LoadIntoBuffer();
    UnicodeStep();
    m_view1->setDocument(m_loadBuffer);
    SetTitleToPath();
    m_watch.FileOpen = true;
}

void MainWindow::Refresh1Click()
{
    const std::string path = nativePath();
    if (AgeStamp(path) == -1) {
        setStatusText(0, QStringLiteral("File Could not be located"));
        if (trimBlanks(QFile::encodeName(m_previousPath).toStdString()).size() > 1)
            m_currentPath = m_previousPath;
        return;
    }
    SetTitleToPath();
    m_watchTimer->stop();
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
        m_watchTimer->start();
        setReloadAlert(false);
    } catch (const std::exception&) {
        setStatusText(0, QStringLiteral("File is Locked, try Again"));
        m_watchTimer->start();
    }
}

void MainWindow::ToolButton12Click()
{
    Refresh1Click();
}

} // namespace tlg
