#include "app/viewer.h"

#include "app/mainwindow.h"
#include "filelist/addtofilelistdialog.h"
#include "format/formateditor.h"


namespace tlg {

QMainWindow* startViewer(const QStringList& arguments)
{
    auto* mainWindow = new MainWindow();
    // The creation handler runs before the other windows exist and must not touch them.
    mainWindow->FormCreate(arguments);
    auto* formatEditor = new FormatEditor(mainWindow);
    auto* addDialog = new AddToFileListDialog(mainWindow);
    mainWindow->setCompanionWindows(formatEditor, addDialog);
    mainWindow->show();
    return mainWindow;
}

} // namespace tlg
