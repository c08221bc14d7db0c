#pragma once

// The small modeless find dialog: the text to find, "Find Next" and "Close". Every search runs
// forward, ignores case and matches inside words, so the dialog offers nothing else.

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace tlg {

class FindDialog : public QDialog {
    Q_OBJECT

public:
    explicit FindDialog(QWidget* parent);

    QString findText() const;
    void setFindText(const QString& text);

signals:
    // "Find Next" was pressed, or Enter in the text field.
    void findNext();

private:
    QLineEdit* m_text = nullptr;
};

} // namespace tlg
