#pragma once

// The dialog that adds the open log to the file list under a description.

#include <QDialog>

class QLabel;
class QLineEdit;

namespace tlg {


class AddToFileListDialog : public QDialog {
    Q_OBJECT

public:
    explicit AddToFileListDialog(QWidget* parent);

    // Before each showing: the path to add (Label2) and an empty description (Edit1).
    void prepare(const QString& path);

public slots:
    // Button1Click: "Add" and Enter in the description. Refuses an empty description and
    // duplicates with a message, else appends the line, has the panel reloaded (entryAdded) and
    // closes.
    void addEntry();

signals:
    // A line was added to the list file.
    void entryAdded();

private:
    QLabel* m_path = nullptr;          // Label2
    QLineEdit* m_description = nullptr; // Edit1
};

} // namespace tlg
