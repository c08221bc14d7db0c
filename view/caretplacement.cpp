#include "view/caretplacement.h"

#include "view/logview.h"

#include <algorithm>

namespace tlg {

void ScrollToLine(LogView* view, LineNumber line)
{
    view->setFocus();
    view->setSelection(view->lineIndex(std::max<LineNumber>(line, 0).value()), 0);
    view->scrollCaretIntoView();
}

void ShowLineInContext(LogView* view, LineNumber line)
{
    ScrollToLine(view, line);
    view->setFirstVisibleLine(std::max<std::int64_t>(view->caretLine() - view->visibleRows() / 3, 0));
}

} // namespace tlg
