#pragma once

#include "journal/journalreader.h"
#include "navigate/filterstackrunner.h"

#include <QStringList>

#include <optional>
#include <vector>

class QMainWindow;

namespace tlg {

// Starts the viewer as the program does before its event loop: creates the main window (its
// creation handler runs with `arguments`, the command-line arguments after the program's
// name), then the format editor and the add dialog, and shows the main window (its show
// handler runs). The logs open as `start` says. Returns the main window, which owns the other
// two; a QApplication must exist.
struct ViewerStart {
    std::vector<StackRow> filters;       // the filter stack the logs open with
    bool merge = false;                  // the logs open as one, merged by time
    std::optional<JournalQuery> journal; // opens too, in place of the last session's logs
};
QMainWindow* startViewer(const QStringList& arguments, const ViewerStart& start = {});

} // namespace tlg
