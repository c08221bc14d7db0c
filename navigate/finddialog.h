#pragma once

// The small modeless find dialog: the text to find (with the last 20 texts found in its list),
// "Match case", "Whole word" and "Regular expression" (all off at start: ignoring case, inside
// words, plain text), "All open logs" (off: Find Next finds in the log in sight), "Find Next"
// and "Close".

#include "navigate/findquery.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace tlg {

class FindDialog : public QDialog {
    Q_OBJECT

public:
    explicit FindDialog(QWidget* parent);

    QString findText() const;
    void setFindText(const QString& text);
    bool matchCase() const;
    bool wholeWord() const;
    bool regex() const;
    // "All open logs": Find Next lists the occurrences in every open log instead.
    bool allLogs() const;
    void setAllLogs(bool all);
    // The text and the options as they stand.
    FindQuery query() const;
    // Puts the text first in the list of texts found (the list keeps 20, without repeats).
    void remember(const QString& text);
    QStringList history() const;
    static constexpr int kHistory = 20;

signals:
    // "Find Next" was pressed, or Enter in the text field.
    void findNext();

private:
    QComboBox* m_history = nullptr; // FindHistory
    QLineEdit* m_text = nullptr;    // FindText, its line
    QCheckBox* m_case = nullptr;    // FindCase
    QCheckBox* m_word = nullptr;    // FindWholeWord
    QCheckBox* m_regex = nullptr;   // FindRegex
    QCheckBox* m_all = nullptr;     // FindAllLogs
};

} // namespace tlg
