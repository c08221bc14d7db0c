#pragma once

// View > "Go to Time..." (Ctrl+T): one line edit that takes a full or partial date and time,
// fractions of a second included ("10:15" is that time on the day of the log's last line).
// Window-modal; the time asked for is given once the dialog is accepted.

#include <QDialog>

#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;

namespace tlg {

class GotoTimeDialog : public QDialog {
    Q_OBJECT

public:
    explicit GotoTimeDialog(QWidget* parent);

    // Shows the dialog for a log whose last line carries the time `last` (ns since 1970 UTC).
    void ask(std::int64_t last);
    QLineEdit* timeEdit() const { return m_text; }

    // Local date and time, to the millisecond, as the dialog shows a time.
    static QString timeText(std::int64_t time);

signals:
    // The time typed (ns since 1970 UTC), once accepted.
    void timeChosen(std::int64_t time);

public slots:
    // A text that is no time says so and leaves the dialog up.
    void accept() override;

private:
    QLabel* m_range = nullptr;
    QLabel* m_problem = nullptr;
    QLineEdit* m_text = nullptr;
    std::int64_t m_last = 0;
};

} // namespace tlg
