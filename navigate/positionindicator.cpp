#include "navigate/positionindicator.h"

#include "core/statuspanels.h"
#include "source/logfollower.h"
#include "view/logview.h"

namespace tlg {

PositionIndicator::PositionIndicator(LogFollower* follower, StatusPanels* status, QObject* parent)
    : QObject(parent), m_follower(follower), m_status(status)
{
    for (LogView* view : {follower->view1(), follower->view3()}) {
        connect(view, &LogView::keyPressed, this, [this](int key) { RichEdit1KeyDown(key); });
        connect(view, &LogView::mousePressed, this, [this] { RichEdit1MouseDown(); });
    }
}

void PositionIndicator::UpdatePositionIndicator()
{
    WatchState& watch = m_follower->watchState();
    // The caret's height as the view that holds it reports it (the shown one).
    watch.CaretPixelY = m_follower->shownView()->caretPixelPos().y();
    watch.SavedCaretLine = m_follower->markedView()->caretLine();
    const LogView* shown = m_follower->shownView();
    m_status->setText(2, QStringLiteral("Line : %1/%2").arg(shown->caretLine()).arg(shown->lineCount()));
}

void PositionIndicator::RichEdit1KeyDown(int key)
{
    UpdatePositionIndicator();
    WatchState& watch = m_follower->watchState();
    LogView* marked = m_follower->markedView();
    const int h = marked->lineHeight();
    const int height = m_follower->shownView()->viewport()->height();
    const LineNumber rowsInView = height / h;
    // Computed lines are kept inside the text: the view is never sent past either end.
    auto inText = [marked](LineNumber line) {
        return std::clamp<LineNumber>(line, 0, std::max<LineCount>(marked->lineCount() - 1, 0));
    };
    if (key == Qt::Key_Down) {
        if (watch.CaretPixelY < height - 3 * h) {
            // The line at the bottom of the view when the caret line is at its top.
            m_follower->ScrollToLine(marked, inText(marked->caretLine() + rowsInView - 1));
            watch.CaretPixelY = m_follower->view1()->viewport()->height() - h;
        }
    } else if (key == Qt::Key_Up) {
        if (watch.CaretPixelY > 2 * h) {
            watch.CaretPixelY = 0;
            // The line at the top of the view when the caret line is at its bottom.
            m_follower->ScrollToLine(marked, inText(marked->caretLine() + 1 - rowsInView));
        }
    }
}

void PositionIndicator::RichEdit1MouseDown()
{
    UpdatePositionIndicator();
}

} // namespace tlg
