#pragma once

// Where the caret goes when the program moves it.

#include "document/linesource.h"

namespace tlg {

class LogView;

// Gives the view the focus, puts the caret at the start of the line (a line past the end puts
// it at the end of the text, a negative one at the start) and scrolls it into sight.
void ScrollToLine(LogView* view, LineNumber line);

// The same for a line the reader asked to go to (go to line, a listed match): the line shows
// with about a third of the view above it, so what follows it is in sight too.
void ShowLineInContext(LogView* view, LineNumber line);

} // namespace tlg
