#include "filelist/addtofilelistdialog.h"

namespace tlg {

AddToFileListDialog::AddToFileListDialog(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName(QStringLiteral("TForm3"));
    setWindowTitle(QStringLiteral("Add to filelist"));
    setFixedSize(431, 155);
    setWindowFlag(Qt::WindowStaysOnTopHint);
}

} // namespace tlg
