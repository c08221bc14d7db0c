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

} // namespace tlg
