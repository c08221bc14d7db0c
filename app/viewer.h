#pragma once

#include <QStringList>

class QMainWindow;

namespace tlg {

// Starts the viewer as the program does before its event loop, the hand-over to a viewer
// already running aside. `arguments` is the command line after the program's name, options
// included (--merge, --hide, --show, --hide-i, --show-i, --journal with -u, -p and -b,
// --new-window, "-" for standard input, "--" and the logs), read by ReadCommandLine. Creates
// the main window (its creation handler runs), then the format editor and the add dialog,
// shows the main window (its show handler runs), and once it is on screen opens the logs
// named with their filter stack, or the last session's logs. Returns the main window, which
// owns the other two; a QApplication must exist.
// A command line that asks for the usage or the version, or that is refused, is main()'s to
// answer: here it throws Failure carrying what main() would print.
QMainWindow* startViewer(const QStringList& arguments);

} // namespace tlg
