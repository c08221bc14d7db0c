#pragma once

// The small "Go to line" dialog (Ctrl+G): a line number from 1 to the log's line count.

#include "document/linesource.h"

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;

namespace tlg {

class GotoLineDialog : public QDialog {
    Q_OBJECT

public:
    explicit GotoLineDialog(QWidget* parent);

    // Asks for a line of a log of `lines` lines, offering `current` (from 0). Gives the line
    // picked, from 0, or nothing when cancelled or left blank.
    std::optional<LineNumber> ask(LineCount lines, LineNumber current);

    // The line (from 0) that typed text asks for in a log of `lines` lines: the number counts
    // from 1 and is clamped into 1..lines (0 for a log without lines); nothing for text that
    // is no number. Blanks around it are ignored.
    static std::optional<LineNumber> lineFor(const QString& text, LineCount lines);

    QLineEdit* numberEdit() const { return m_number; }

private:
    QLabel* m_caption = nullptr;
    QLineEdit* m_number = nullptr;
};

} // namespace tlg
