#include "app/openlogdialog.h"

#include <QFileDialog>
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
    return dialog;
}

} // namespace tlg
