#pragma once

// The file-list panel (Panel4): the stored logs with their descriptions, opened with a click,
// filtered to the ones reachable from here, removed, and added through the add dialog.

#include "filelist/filelist.h"

#include <QFrame>

#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QMenu;
class QToolButton;
class QTreeWidget;

namespace tlg {

class AddToFileListDialog;

class FileListPanel : public QFrame {
    Q_OBJECT

public:
    explicit FileListPanel(QWidget* parent);

    // The add dialog (TForm3), which exists from after the creation handler on; the panel is
    // reloaded whenever it adds an entry.
    void setAddDialog(AddToFileListDialog* dialog);
    // The master computer's name, which "%computername%" in a path stands for (empty: this
    // computer's).
    void setMasterComputerName(const std::string& name) { m_masterComputerName = name; }
    const std::string& masterComputerName() const { return m_masterComputerName; }

    QToolButton* closeButton() const { return m_closeButton; }
    QAction* addCurrentFileAction() const { return m_addCurrentFileAction; }

public slots:
    // Rebuilds the panel from the list file; a missing list leaves it empty, and so does one
    // that cannot be read (ReadSettingsFile), which is shown in the error box.
    void ReloadFileList();
    // ListView1MouseDown: a left click on a selected entry asks for its log to be opened
    // (openRequested); a right click only selects the entry that the context menu then acts on.
    void openPressedEntry(Qt::MouseButton button);
    // Delete1Click: "Remove from list" removes the selected entry's own line and keeps every
    // other byte.
    void removeSelectedEntry();
    // AddcurrentFiletofilelist1Click: shows the add dialog for the open log.
    void showAddDialog(const QString& currentPath);

signals:
    // An entry was picked: path is its path with the placeholders put in place, as bytes.
    void openRequested(const std::string& path);

private:
    std::string m_masterComputerName;
    std::string m_fileListText;                // the list file as the panel was filled from it
    std::vector<FileListLine> m_fileListLines; // its lines, one per entry
    AddToFileListDialog* m_addDialog = nullptr; // TForm3

    QToolButton* m_closeButton = nullptr;        // SpeedButton2
    QCheckBox* m_accessibleOnlyBox = nullptr;    // CheckBox7
    QTreeWidget* m_fileListView = nullptr;       // ListView1
    QMenu* m_fileListMenu = nullptr;             // PopupMenu2
    QAction* m_removeFromListAction = nullptr;   // Delete1
    QAction* m_addCurrentFileAction = nullptr;   // AddCurrentFile1
};

} // namespace tlg
