#pragma once

// File > Open File's dialog (Open1).

#include <QFileIconProvider>

class QFileDialog;
class QWidget;

namespace tlg {

// Names a file's type and picture by its name alone: a listing never opens a file (a special
// file such as /proc/kmsg would block the read). The dialog's listing asks from a thread of
// its own, so the two pictures are made once, on the GUI thread, and only handed out.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    void preparePictures();
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

private:
    QIcon m_folder;
    QIcon m_file;
};

// Widens the dialog's list columns of size, type and time to what they usually show, so that
// none is cut short; the name takes the rest.
void FitOpenLogColumns(QFileDialog* dialog);

// The dialog, a child of parent, picking one existing file; its pictures come from provider,
// which must outlive it.
QFileDialog* MakeOpenLogDialog(QWidget* parent, NameOnlyIconProvider* provider);

} // namespace tlg
