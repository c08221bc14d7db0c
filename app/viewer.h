#pragma once

#include <QStringList>

class QMainWindow;

namespace tlg {

// Starts the viewer as the program does before its event loop: creates the main window (its
// creation handler runs with `arguments`, the command-line arguments after the program's
// name), then the format editor and the add dialog, and shows the main window (its show
// handler runs). Returns the main window, which owns the other two; a QApplication must exist.
QMainWindow* startViewer(const QStringList& arguments);

} // namespace tlg
