#include "app/openlogdialog.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLocale>
#include <QTreeView>

#include <algorithm>
#include <QMimeDatabase>

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

QFileDialog* MakeOpenLogDialog(QWidget* parent, NameOnlyIconProvider* provider)
{
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(QStringLiteral("Open1"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setSizeGripEnabled(true);
    // Every file by default (a log is often named otherwise); the usual names one pick away.
    const QString all = QStringLiteral("All files (*)");
    dialog->setNameFilters({all, QStringLiteral("Log files (*.log *.txt *.out *.gz *.xz *.bz2 *.zst *.journal)")});
    dialog->selectNameFilter(all);
    provider->preparePictures();
    dialog->setIconProvider(provider);
    FitOpenLogColumns(dialog);
    return dialog;
}

} // namespace tlg
