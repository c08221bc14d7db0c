#include "app/viewer.h"

#include "app/mainwindow.h"
#include "core/messages.h"
#include "filelist/addtofilelistdialog.h"
#include "format/formateditor.h"


namespace tlg {

QMainWindow* startViewer(const QStringList& arguments, const ViewerStart& start)
{
    auto* mainWindow = new MainWindow();
    mainWindow->setStartFilters(start.filters);
    mainWindow->setStartMerged(start.merge);
    mainWindow->setStartJournal(start.journal);
    // The creation handler runs before the other windows exist and must not touch them.
    mainWindow->FormCreate(arguments);
    auto* formatEditor = new FormatEditor(mainWindow);
    auto* addDialog = new AddToFileListDialog(mainWindow);
    mainWindow->setCompanionWindows(formatEditor, addDialog);
    mainWindow->show();
    // The logs named on the command line load once the window is on screen, so that the
    // window paints (and shows the progress) while a large log loads.
    runGuarded(mainWindow, [mainWindow] { mainWindow->openStartLogs(); });
    return mainWindow;
}

} // namespace tlg
