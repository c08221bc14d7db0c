#pragma once

// File > Open File's dialog (Open1), which also opens a folder of journal files.

#include <QFileDialog>
#include <QFileIconProvider>

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

// Qt's own file dialog, always: its list is the one FitOpenLogColumns fits, its pictures
// come from the name only, and the desktop's dialog could not pick a folder where it picks files.
//
// With journal folders picked, a folder that holds journal files (*.journal, *.journal~) is a
// log of its own, as a file is: Open on such a folder, named or selected, picks it instead of
// going into it (a double click still goes in, to pick one of its files), and Open with no
// name while inside one picks the folder shown. A folder without journal files is gone into,
// and with no name in one, Open stays disabled: nothing is picked.
class OpenLogDialog : public QFileDialog {
    Q_OBJECT

public:
    OpenLogDialog(QWidget* parent, NameOnlyIconProvider* provider);

    void setPicksJournalFolders(bool on);
    // What was picked when the dialog was accepted: the journal folder, else the files.
    QStringList picked() const;

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The journal folder Open would pick now, "" for none.
    QString journalFolderToPick() const;
    bool holdsJournal(const QString& folder) const;
    // Open is enabled, and the name field says what Open does, when it would pick the folder
    // shown; Qt's own rule stands otherwise.
    void showOpenButton();
    void showOpenButtonSoon();

    bool m_picksJournalFolders = false;
    QString m_pickedFolder;
    bool m_showQueued = false;
    // Whether the folder last asked about holds journal files (asked again when the dialog
    // goes to another folder).
    mutable QString m_askedFolder;
    mutable bool m_askedHolds = false;
};

// The dialog, a child of parent, picking one existing file; its pictures come from provider,
// which must outlive it.
OpenLogDialog* MakeOpenLogDialog(QWidget* parent, NameOnlyIconProvider* provider);

} // namespace tlg
