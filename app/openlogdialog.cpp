#include "app/openlogdialog.h"

#include "source/logopening.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QMimeDatabase>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <utility>

namespace tlg {

void NameOnlyIconProvider::preparePictures()
{
    m_folder = icon(QAbstractFileIconProvider::Folder);
    m_file = icon(QAbstractFileIconProvider::File);
}

QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const
{
    return info.isDir() ? m_folder : m_file;
}

QString NameOnlyIconProvider::type(const QFileInfo& info) const
{
    if (info.isDir())
        return QStringLiteral("Folder");
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
}

void FitOpenLogColumns(QFileDialog* dialog)
{
    auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!list)
        return; // a dialog of the desktop's own lays itself out
    // Room for the widest usual size, type and time, measured in the list's font; the name
    // takes what is left.
    const QFontMetrics metrics(list->font());
    const int padding = 3 * metrics.averageCharWidth() + 16;
    const QString time =
        QLocale().toString(QDateTime(QDate(2026, 12, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
    QHeaderView* header = list->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->resizeSection(1, metrics.horizontalAdvance(QStringLiteral("1023.9 KiB")) + padding);
    header->resizeSection(2, metrics.horizontalAdvance(QStringLiteral("Plain text document")) + padding);
    header->resizeSection(3, metrics.horizontalAdvance(time) + padding);
    dialog->resize(std::max(dialog->width(), header->sectionSize(1) + header->sectionSize(2) +
                                                 header->sectionSize(3) + 420),
                   dialog->height());
}

OpenLogDialog::OpenLogDialog(QWidget* parent, NameOnlyIconProvider* provider) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setObjectName(QStringLiteral("Open1"));
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setSizeGripEnabled(true);
    // Every file by default (a log is often named otherwise); the usual names one pick away.
    const QString all = QStringLiteral("All files (*)");
    setNameFilters({all, QStringLiteral("Log files (*.log *.txt *.out *.gz *.xz *.bz2 *.zst *.journal)")});
    selectNameFilter(all);
    provider->preparePictures();
    setIconProvider(provider);
    FitOpenLogColumns(this);
}

void OpenLogDialog::setPicksJournalFolders(bool on)
{
    if (m_picksJournalFolders == on)
        return;
    m_picksJournalFolders = on;
    if (!on)
        return;
    // Qt sets the Open button as the name, the selection or the folder shown changes; ours
    // comes after, and again whenever Qt changes the button back.
    if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        connect(name, &QLineEdit::textChanged, this, &OpenLogDialog::showOpenButtonSoon);
    if (auto* model = findChild<QFileSystemModel*>())
        connect(model, &QFileSystemModel::rootPathChanged, this, [this] {
            m_askedFolder.clear();
            showOpenButtonSoon();
        });
    if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
        if (QPushButton* open = buttons->button(QDialogButtonBox::Open))
            open->installEventFilter(this);
    showOpenButtonSoon();
}

QStringList OpenLogDialog::picked() const
{
    return m_pickedFolder.isEmpty() ? selectedFiles() : QStringList{m_pickedFolder};
}

bool OpenLogDialog::holdsJournal(const QString& folder) const
{
    if (folder != m_askedFolder) {
        m_askedFolder = folder;
        m_askedHolds = OpensAsLog(folder);
    }
    return m_askedHolds;
}

QString OpenLogDialog::journalFolderToPick() const
{
    if (!m_picksJournalFolders)
        return {};
    const QStringList named = selectedFiles();
    if (named.size() == 1 && QFileInfo(named.front()).isDir()) {
        const QString folder = QFileInfo(named.front()).absoluteFilePath();
        return holdsJournal(folder) ? folder : QString();
    }
    if (!named.isEmpty())
        return {};
    const QString shown = directory().absolutePath();
    return holdsJournal(shown) ? shown : QString();
}

void OpenLogDialog::accept()
{
    m_pickedFolder = journalFolderToPick();
    if (m_pickedFolder.isEmpty()) {
        QFileDialog::accept();
        return;
    }
    emit filesSelected({m_pickedFolder});
    QDialog::accept();
}

void OpenLogDialog::showEvent(QShowEvent* event)
{
    QFileDialog::showEvent(event);
    m_pickedFolder.clear();
    m_askedFolder.clear(); // the folder's files may have changed since the dialog was last up
    if (m_picksJournalFolders)
        showOpenButtonSoon();
}

bool OpenLogDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        showOpenButtonSoon();
    return QFileDialog::eventFilter(watched, event);
}

void OpenLogDialog::showOpenButtonSoon()
{
    if (std::exchange(m_showQueued, true))
        return;
    QTimer::singleShot(0, this, [this] {
        m_showQueued = false;
        showOpenButton();
    });
}

void OpenLogDialog::showOpenButton()
{
    auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QPushButton* open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
    if (!name || !open)
        return;
    // Only with no name: a name is Qt's to judge.
    const bool picksShown = name->text().isEmpty() && !journalFolderToPick().isEmpty();
    name->setPlaceholderText(picksShown ? tr("(none: Open reads this folder's journal files as one journal)") : QString());
    if (picksShown && !open->isEnabled())
        open->setEnabled(true);
}

OpenLogDialog* MakeOpenLogDialog(QWidget* parent, NameOnlyIconProvider* provider)
{
    return new OpenLogDialog(parent, provider);
}

} // namespace tlg
