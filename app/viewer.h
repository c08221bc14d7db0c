#pragma once

#include "document/journalreader.h"
#include "navigate/filterstackrunner.h"

#include <QStringList>

#include <optional>
#include <vector>

class QMainWindow;

namespace tlg {

// Starts the viewer as the program does before its event loop: creates the main window (its
// creation handler runs with `arguments`, the command-line arguments after the program's
// name), then the format editor and the add dialog, and shows the main window (its show
// handler runs). The logs open with the filter stack `filters`; `journal`, when given, opens
// too, in place of the last session's logs. Returns the main window, which owns the other two;
// a QApplication must exist.
QMainWindow* startViewer(const QStringList& arguments, const std::vector<StackRow>& filters = {},
                         const std::optional<JournalQuery>& journal = std::nullopt);

} // namespace tlg
