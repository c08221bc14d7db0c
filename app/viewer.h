#pragma once

#include "navigate/filterstackrunner.h"

#include <QStringList>

#include <vector>

class QMainWindow;

namespace tlg {

// Starts the viewer as the program does before its event loop: creates the main window (its
// creation handler runs with `arguments`, the command-line arguments after the program's
// name), then the format editor and the add dialog, and shows the main window (its show
// handler runs). The logs open with the filter stack `filters`, merged into one log by time
// with `merge`. Returns the main window, which
// owns the other two; a QApplication must exist.
QMainWindow* startViewer(const QStringList& arguments, const std::vector<StackRow>& filters = {}, bool merge = false);

} // namespace tlg
