// The change watcher: a tick of Timer1 samples the open log's age stamp and size and reloads
// it when either changed. Handlers of the main window.

#include "app/fileops.h"
#include "app/mainwindow.h"
#include "app/timetext.h"
#include "log/logview.h"
#include "log/textload.h"

#include <QTimer>

namespace tlg {

void MainWindow::ScrollToLine(LogView* view, LineNumber line)
{
    view->setFocus();
    const LineNumber clamped = std::clamp<LineNumber>(line, 0, view->lineCount());
    view->setSelection(view->lineIndex(clamped), 0);
    view->scrollCaretIntoView();
}

void MainWindow::ScrollToBottom()
{
    LogView* view = shownView();
    ScrollToLine(view, view->lineCount());
}

void MainWindow::RestoreCaretLine()
{
    ScrollToLine(shownView(), m_watch.SavedCaretLine);
}

void MainWindow::Timer1Timer()
{
    if (!m_watch.FileOpen)
        return;
    m_watch.SavedCaretLine = static_cast<std::int32_t>(shownView()->caretLine());
    const std::string path = nativePath();
    m_watch.SampledAge = AgeStamp(path);
    m_watch.SampledSize = FileSizeOf(path);
    if (m_watch.SampledAge == m_watch.StoredAge && m_watch.SampledSize == m_watch.StoredSize)
        return;

    m_watchTimer->stop();
    if (IsFileLocked(path)) {
        setStatusText(0, QStringLiteral("File is Locked :") + dateTimeText());
    } else if (m_watch.SampledAge != -1) {
        try {
            LoadIntoBuffer();
            m_stagingText = m_loadBuffer;
            m_view1->setDocument(m_loadBuffer);
            RestoreCaretLine();
            // The values read before the load, so that a write during it shows at the next tick.
            m_watch.StoredAge = m_watch.SampledAge;
            m_watch.StoredSize = m_watch.SampledSize;
            setStatusText(0, QStringLiteral("Last Update :") + dateTimeText());
        } catch (const std::exception&) {
            setStatusText(0, QStringLiteral("File Locked, will retry"));
        }
    }
    m_watchTimer->start();
}

} // namespace tlg
