#include "app/viewer.h"

#include "app/commandline.h"
#include "app/mainwindow.h"
#include "core/errors.h"
#include "core/messages.h"
#include "filelist/addtofilelistdialog.h"
#include "format/formateditor.h"

namespace tlg {

QMainWindow* startViewer(const QStringList& arguments)
{
    const CommandLine line = ReadCommandLine(QStringList{QStringLiteral("tlgview")} + arguments);
    if (line.action != CommandLine::Open)
        throw Failure(line.text.trimmed().toStdString());
    auto* mainWindow = new MainWindow();
    // The creation handler runs before the other windows exist and must not touch them.
    mainWindow->prepareStart();
    auto* formatEditor = new FormatEditor(mainWindow);
    auto* addDialog = new AddToFileListDialog(mainWindow);
    mainWindow->setCompanionWindows(formatEditor, addDialog);
    mainWindow->show();
    // The logs named on the command line load once the window is on screen, so that the
    // window paints (and shows the progress) while a large log loads.
    runGuarded(mainWindow, [mainWindow, &line] { mainWindow->openStartLogs(line); });
    return mainWindow;
}

} // namespace tlg
