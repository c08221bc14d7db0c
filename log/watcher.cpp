// The change watcher: each tick of Timer1 samples the open log's age stamp and size, reloads
// it when either changed, and runs the colouring that a load made due. Handlers of the main
// window.

#include "app/fileops.h"
#include "app/mainwindow.h"
#include "app/timetext.h"
#include "log/logview.h"
#include "log/watchstate.h"

#include <QCheckBox>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

namespace tlg {

void MainWindow::ScrollToLine(LogView* view, LineNumber line)
{
    view->setFocus();
    // A line past the end puts the caret at the end of the text.
    view->setSelection(view->lineIndex(std::max<LineNumber>(line, 0)), 0);
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
    const bool colouringOn = m_colourBox->isChecked();
    if (TakeFirstViewBack(m_watch, colouringOn))
        ShowFirstView();
    if (!m_watch.FileOpen || m_opening)
        return;
    UpdatePositionIndicator();
    const std::string path = nativePath();
    SampleFile(m_watch, path);

    if (TakeColouringTick(m_watch, colouringOn, m_watchTimer->interval())) {
        m_watchTimer->stop();
        if (m_scrollToBottomBox->isChecked())
            ScrollToBottom();
        ColorLogText();
        m_watchTimer->start();
        MarkColoured(m_watch);
        if (m_scrollToBottomBox->isChecked())
            ScrollToBottom();
        setStatusText(1, QStringLiteral("Format ") + dateTimeText());
    }

    if (!ChangeSeen(m_watch))
        return;
    setReloadAlert(true);
    m_watchTimer->stop();
    if (m_watch.AutoRefresh) {
        if (IsFileLocked(path)) {
            // The next tick sees the same difference and tries again.
            setStatusText(0, QStringLiteral("File is Locked :") + dateTimeText());
        } else if (AgeStamp(path) != -1) {
            try {
                pumpEvents();
                setReloadAlert(false);
                if (m_unicodeButton->isChecked())
                    ConvertUnicode();
                else
                    LoadIntoBufferAfter(); // only the new bytes of a log that grew
                if (colouringOn) {
                    // The shown view keeps its text until the colouring of a later tick.
                    m_stagingText = m_loadBuffer;
                    MarkColouringDue(m_watch);
                } else {
                    m_view1->setDocument(m_loadBuffer);
                    if (m_scrollToBottomBox->isChecked())
                        ScrollToBottom();
                    else
                        RestoreCaretLine();
                }
                StoreSampled(m_watch);
                focusMainWindow();
                setStatusText(0, QStringLiteral("Last Update :") + dateTimeText());
            } catch (const std::exception&) {
                setStatusText(0, QStringLiteral("File Locked, will retry"));
                setReloadAlert(true);
            }
        }
    }
    m_watchTimer->start();
}

void MainWindow::TrackBar1Change()
{
    m_watchTimer->setInterval(m_intervalSlider->value() * 1000);
}

void MainWindow::ToolButton17Click()
{
    if (m_autoRefreshButton->isChecked()) {
        m_watch.AutoRefresh = true;
        m_autoRefreshBox->setChecked(true);
        if (!m_watchTimer->isActive())
            m_watchTimer->start();
    } else {
        m_autoRefreshBox->setChecked(false);
        m_watch.AutoRefresh = false;
    }
}

void MainWindow::CheckBox5Click()
{
    m_watch.AutoRefresh = m_autoRefreshBox->isChecked();
}

void MainWindow::ToolButton14Click()
{
    m_scrollToBottomBox->setChecked(m_gotoBottomButton->isChecked());
}

void MainWindow::CheckBox3Click()
{
    m_gotoBottomButton->setChecked(m_scrollToBottomBox->isChecked());
}

} // namespace tlg
