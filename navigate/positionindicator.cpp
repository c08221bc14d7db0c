#include "navigate/positionindicator.h"

#include "core/statuspanels.h"
#include "view/caretplacement.h"
#include "view/logview.h"

namespace tlg {

PositionIndicator::PositionIndicator(LogView* view, StatusPanels* status, QObject* parent)
    : QObject(parent), m_view(view), m_status(status)
{
    connect(view, &LogView::keyPressed, this, [this](int key) { jumpCaretToEdge(key); });
    // RichEdit1MouseDown: a click records the caret.
    connect(view, &LogView::mousePressed, this, [this] { UpdatePositionIndicator(); });
}

void PositionIndicator::UpdatePositionIndicator()
{
    m_caretPixelY = m_view->caretPixelPos().y();
    QString text = QStringLiteral("Line : %1/%2").arg(m_view->caretLine()).arg(m_view->lineCount());
    const QString time = m_timeOf && m_view->lineCount() > 0 ? m_timeOf(m_view->caretLine()) : QString();
    if (!time.isEmpty())
        text += QStringLiteral("  ") + time;
    m_status->setText(2, text);
}

void PositionIndicator::jumpCaretToEdge(int key)
{
    UpdatePositionIndicator();
    LogView* marked = m_view;
    const int h = marked->lineHeight();
    const int height = m_view->viewport()->height();
    const LineCount rowsInView = height / h;
    // Computed lines are kept inside the text: the view is never sent past either end.
    auto inText = [marked](LineNumber line) {
        return std::clamp<LineNumber>(line, 0, std::max<LineNumber>(marked->lineCount() - 1, 0));
    };
    if (key == Qt::Key_Down) {
        if (m_caretPixelY < height - 3 * h) {
            // The line at the bottom of the view when the caret line is at its top.
            ScrollToLine(marked, inText(LineNumber(marked->caretLine()) + rowsInView - 1));
            m_caretPixelY = height - h;
        }
    } else if (key == Qt::Key_Up) {
        if (m_caretPixelY > 2 * h) {
            m_caretPixelY = 0;
            // The line at the top of the view when the caret line is at its bottom.
            ScrollToLine(marked, inText(LineNumber(marked->caretLine()) + 1 - rowsInView));
        }
    }
}

} // namespace tlg
