#pragma once

// The dialog that adds the open log to the file list under a description.

#include <QDialog>

namespace tlg {

class AddToFileListDialog : public QDialog {
    Q_OBJECT

public:
    explicit AddToFileListDialog(QWidget* mainWindow);
};

} // namespace tlg
