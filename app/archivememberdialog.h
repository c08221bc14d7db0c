#pragma once

// The small dialog (ArchiveMembers) that lists an archive's files when one is given to Open, so
// that the file to show can be picked.

#include "document/archivereader.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

class QListWidget;

namespace tlg {

class ArchiveMemberDialog : public QDialog {
    Q_OBJECT
public:
    // Lists `members` of the archive at path, the first one picked.
    ArchiveMemberDialog(QWidget* parent, const QString& path, const std::vector<ArchiveMember>& members);

    // The member picked; empty when none is.
    QString chosen() const;

    // Lists the archive at path on a thread of its own (a compressed archive is read whole to
    // list it), then asks with a window-modal dialog and calls `picked` with the member chosen.
    // A failure to list it is said in the standard error box; nothing is called when the
    // dialog is cancelled.
    static void ask(QWidget* parent, const QString& path, std::function<void(const QString& member)> picked);

private:
    QListWidget* m_list;
};

} // namespace tlg
