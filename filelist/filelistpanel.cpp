#include "filelist/filelistpanel.h"

#include "core/controls.h"
#include "core/cp1252.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "core/messages.h"
#include "filelist/addtofilelistdialog.h"
#include "filelist/filelist.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tlg {

FileListPanel::FileListPanel(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Panel4"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setMinimumWidth(60);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(2);
    QFrame* caption = makeCaptionBar(this, "Panel5", QStringLiteral("File List"), "SpeedButton2",
                                     &m_closeButton);
    caption->setFixedHeight(33);
    column->addWidget(caption);
    m_accessibleOnlyBox = makeCheckBox(this, "CheckBox7", QStringLiteral("Only show Accessable files from this PC"), false);
    column->addWidget(m_accessibleOnlyBox);

    m_fileListView = new QTreeWidget(this);
    m_fileListView->setObjectName(QStringLiteral("ListView1"));
    m_fileListView->setColumnCount(2);
    m_fileListView->setHeaderLabels({QStringLiteral("Description"), QStringLiteral("FilePath")});
    m_fileListView->setColumnWidth(0, 200);
    m_fileListView->setColumnWidth(1, 350);
    m_fileListView->setRootIsDecorated(false);
    m_fileListView->setFrameShape(QFrame::NoFrame);
    m_fileListView->setMouseTracking(true);
    m_fileListView->viewport()->setCursor(Qt::PointingHandCursor);
    m_fileListView->header()->setSectionsClickable(false);
    m_fileListView->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(m_fileListView, 1);

    m_fileListMenu = new QMenu(this);
    m_fileListMenu->setObjectName(QStringLiteral("PopupMenu2"));
    m_removeFromListAction = m_fileListMenu->addAction(QStringLiteral("Remove from list"));
    m_removeFromListAction->setObjectName(QStringLiteral("Delete1"));
    m_addCurrentFileAction = m_fileListMenu->addAction(QStringLiteral("Add Current File "));
    m_addCurrentFileAction->setObjectName(QStringLiteral("AddCurrentFile1"));
    connect(m_fileListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_fileListMenu->exec(m_fileListView->viewport()->mapToGlobal(at));
    });
    // The view has selected the pressed entry when this runs.
    connect(m_fileListView, &QAbstractItemView::pressed, this, guarded(this, [this] {
        const Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
        openPressedEntry(buttons & Qt::LeftButton ? Qt::LeftButton
                           : buttons & Qt::RightButton ? Qt::RightButton : Qt::NoButton);
    }));
    connect(m_accessibleOnlyBox, &QCheckBox::clicked, this, guarded(this, [this] { ReloadFileList(); }));
    connect(m_removeFromListAction, &QAction::triggered, this, guarded(this, [this] { removeSelectedEntry(); }));
}

void FileListPanel::setAddDialog(AddToFileListDialog* dialog)
{
    m_addDialog = dialog;
    connect(m_addDialog, &AddToFileListDialog::entryAdded, this, guarded(this, [this] { ReloadFileList(); }));
}

void FileListPanel::ReloadFileList()
{
    m_fileListView->clear();
    const std::string folder = ExeFolder(); // what %Path% stands for
    const std::string listPath = SettingsFileToRead(kFileListName);
    if (AgeStamp(listPath) == -1)
        return; // no list yet: the panel stays empty, the lines as they were
    try {
        m_fileListText = ReadSettingsFile(listPath);
    } catch (const Failure& failure) {
        // Told once, and the panel stays empty, so that start-up goes on.
        m_fileListText.clear();
        m_fileListLines.clear();
        showError(window(), QString::fromLocal8Bit(failure.what()));
        return;
    }
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

void FileListPanel::openPressedEntry(Qt::MouseButton button)
{
    // A right click only selects the entry that the context menu then acts on.
    QTreeWidgetItem* item = m_fileListView->currentItem();
    if (button != Qt::LeftButton || !item || !item->isSelected())
        return;
    emit openRequested(item->data(1, Qt::UserRole).toByteArray().toStdString());
}

void FileListPanel::removeSelectedEntry()
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
    const std::string listPath = SettingsFileToRead(kFileListName);
    if (AgeStamp(listPath) == -1)
        return;
    const std::string text = ReadSettingsFile(listPath);
    const std::vector<FileListLine> lines = SplitFileList(text);
    const FileListLine* target = nullptr;
    if (index < lines.size() && lines[index].text == picked)
        target = &lines[index];
    for (std::size_t i = 0; !target && i < lines.size(); ++i) {
        if (lines[i].text == picked)
            target = &lines[i];
    }
    if (target)
        WriteFileAtomically(SettingsFileToWrite(kFileListName), RemoveLine(text, *target));
    ReloadFileList();
}

void FileListPanel::showAddDialog(const QString& currentPath)
{
    m_addDialog->prepare(currentPath);
    m_addDialog->exec();
}

} // namespace tlg
