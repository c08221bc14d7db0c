// The colouring run that the watcher starts one tick after a load: the staging text goes into
// the hidden view, which then takes the place of the shown one. Handlers of the main window.

#include "app/mainwindow.h"
#include "log/logview.h"

namespace tlg {

void MainWindow::ColorLogText()
{
    // Keyword colours come with the format profiles; until then the pass shows the staging
    // text as it is, through the same swap of views.
    LogView* target = (m_watch.ViewToggle % 2 != 0) ? m_view3 : m_view1;
    LogView* other = target == m_view3 ? m_view1 : m_view3;
    target->setDocument(m_stagingText);
    ++m_watch.ViewToggle;
    ShowColoredView(target, other);
}

void MainWindow::ShowColoredView(LogView* coloured, LogView* other)
{
    // The reader's line in the view they have been reading.
    m_watch.SavedCaretLine = static_cast<std::int32_t>(other->caretLine());
    other->setDocument(coloured->document());
    coloured->show();
    coloured->raise();
    ScrollToLine(coloured, m_watch.SavedCaretLine);
    other->hide();
}

} // namespace tlg
