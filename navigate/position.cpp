// The line indicator in the status bar, and the arrow keys that first jump the caret to the
// edge of the view so that the view scrolls at once. Handlers of the main window.

#include "app/mainwindow.h"
#include "log/logview.h"

namespace tlg {

void MainWindow::UpdatePositionIndicator()
{
    // The caret's height as the view that holds it reports it (the shown one).
    m_caretPixelY = shownView()->caretPixelPos().y();
    const LogView* marked = (m_watch.ViewToggle % 2 != 0) ? m_view1 : m_view3;
    m_watch.SavedCaretLine = marked->caretLine();
    const LogView* shown = shownView();
    setStatusText(2, QStringLiteral("Line : %1/%2").arg(shown->caretLine()).arg(shown->lineCount()));
}

void MainWindow::RichEdit1KeyDown(int key)
{
    UpdatePositionIndicator();
    LogView* marked = (m_watch.ViewToggle % 2 != 0) ? m_view1 : m_view3;
    const int h = marked->lineHeight();
    const int height = shownView()->viewport()->height();
    const LineNumber rowsInView = height / h;
    // Computed lines are kept inside the text: the view is never sent past either end.
    auto inText = [marked](LineNumber line) {
        return std::clamp<LineNumber>(line, 0, std::max<LineCount>(marked->lineCount() - 1, 0));
    };
    if (key == Qt::Key_Down) {
        if (m_caretPixelY < height - 3 * h) {
            // The line at the bottom of the view when the caret line is at its top.
            ScrollToLine(marked, inText(marked->caretLine() + rowsInView - 1));
            m_caretPixelY = m_view1->viewport()->height() - h;
        }
    } else if (key == Qt::Key_Up) {
        if (m_caretPixelY > 2 * h) {
            m_caretPixelY = 0;
            // The line at the top of the view when the caret line is at its bottom.
            ScrollToLine(marked, inText(marked->caretLine() + 1 - rowsInView));
        }
    }
    // The view then moves its caret one line as it always does.
}

void MainWindow::RichEdit1MouseDown()
{
    UpdatePositionIndicator();
}

} // namespace tlg
