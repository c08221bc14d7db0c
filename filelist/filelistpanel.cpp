// The file-list panel: the stored logs with their descriptions, opened with a click, filtered
// to the ones reachable from here, removed, and added through the add dialog. Handlers of the
// main window.

#include "app/cp1252.h"
#include "app/fields.h"
#include "app/fileops.h"
#include "app/mainwindow.h"
#include "filelist/addtofilelistdialog.h"
#include "filelist/filelist.h"
#include "log/watchstate.h"

#include <QCheckBox>
#include <QFile>
#include <QTimer>
#include <QTreeWidget>

namespace tlg {

void MainWindow::ReloadFileList()
{
    m_fileListView->clear();
    const std::string folder = ExeFolder();
    const std::string listPath = FindSettingsFile(folder, kFileListName);
    if (AgeStamp(listPath) == -1)
        return; // no list yet: the panel stays empty, the lines as they were
    m_fileListText = ReadWholeFile(listPath);
    m_fileListLines = SplitFileList(m_fileListText);
    m_fileListView->clear();

    const std::string computer =
        m_masterComputerName.empty() ? LocalComputerName() : m_masterComputerName;
    const bool reachableOnly = m_accessibleOnlyBox->isChecked();
    for (std::size_t i = 0; i < m_fileListLines.size(); ++i) {
        const FileListEntry entry = EntryOf(m_fileListLines[i], i, computer, folder);
        // A folder's age stamp is -1 too: only files count as reachable.
        if (reachableOnly && AgeStamp(entry.path) == -1)
            continue;
        auto* item = new QTreeWidgetItem(m_fileListView);
        item->setText(0, QString::fromStdU16String(decodeCp1252(entry.description)));
        item->setText(1, QFile::decodeName(QByteArray::fromStdString(entry.path)));
        item->setData(0, Qt::UserRole, static_cast<qulonglong>(i));
        item->setData(1, Qt::UserRole, QByteArray::fromStdString(entry.path));
    }
}

void MainWindow::ListView1MouseDown(Qt::MouseButton button)
{
    // A right click only selects the entry that the context menu then acts on.
    QTreeWidgetItem* item = m_fileListView->currentItem();
    if (button != Qt::LeftButton || !item || !item->isSelected() || m_opening)
        return;
    const std::string path = item->data(1, Qt::UserRole).toByteArray().toStdString();
    if (upperAscii(path) == upperAscii(nativePath())) {
        setStatusText(0, QStringLiteral("File already loaded"));
        return;
    }
    m_watchTimer->stop();
    m_previousPath = m_currentPath;
    if (AgeStamp(path) != -1) {
        m_currentPath = QFile::decodeName(QByteArray::fromStdString(path));
        ResetForNewFile();
        SetTitleToPath();
        m_watch.FileOpen = true;
        Refresh1Click();
    } else {
        setStatusText(0, QStringLiteral("FILE DOES NOT EXIST"));
    }
    m_watchTimer->start();
}

void MainWindow::Delete1Click()
{
    QTreeWidgetItem* item = m_fileListView->currentItem();
    if (!item || !item->isSelected())
        return;
    // The line of the entry picked, and no other: every other line keeps its bytes.
    const std::size_t index = item->data(0, Qt::UserRole).toULongLong();
    delete item;
    if (index >= m_fileListLines.size())
        return;
    const std::string picked = m_fileListLines[index].text;
    // The file as it is now, in case it changed since the panel was filled: the picked line
    // where it stood, else its first copy; when it is gone, nothing is written.
    const std::string listPath = FindSettingsFile(ExeFolder(), kFileListName);
    if (AgeStamp(listPath) == -1)
        return;
    const std::string text = ReadWholeFile(listPath);
    const std::vector<FileListLine> lines = SplitFileList(text);
    const FileListLine* target = nullptr;
    if (index < lines.size() && lines[index].text == picked)
        target = &lines[index];
    for (std::size_t i = 0; !target && i < lines.size(); ++i) {
        if (lines[i].text == picked)
            target = &lines[i];
    }
    if (target)
        WriteFileAtomically(listPath, RemoveLine(text, *target));
    ReloadFileList();
}

void MainWindow::AddcurrentFiletofilelist1Click()
{
    m_addDialog->prepare(m_currentPath);
    m_addDialog->exec();
}

} // namespace tlg
