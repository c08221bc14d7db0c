#include "navigate/gotolinedialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace tlg {

GotoLineDialog::GotoLineDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("GotoLineDialog"));
    setWindowTitle(QStringLiteral("Go to line"));
    auto* column = new QVBoxLayout(this);
    m_caption = new QLabel(this);
    m_number = new QLineEdit(this);
    m_number->setObjectName(QStringLiteral("GotoLineNumber"));
    // Digits only; a number past the count is taken as the last line.
    m_number->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\s*[0-9]{0,18}\\s*")), m_number));
    m_caption->setBuddy(m_number);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(m_caption);
    column->addWidget(m_number);
    column->addWidget(buttons);
    setMinimumWidth(240);
}

std::optional<LineNumber> GotoLineDialog::lineFor(const QString& text, LineCount lines)
{
    bool number = false;
    const QString trimmed = text.trimmed();
    qlonglong asked = trimmed.toLongLong(&number);
    if (!number) {
        // Digits too many for a number are still a line past the end.
        const bool digits = !trimmed.isEmpty() && std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.isDigit(); });
        if (!digits)
            return std::nullopt;
        asked = LLONG_MAX;
    }
    if (lines <= 0)
        return 0;
    return std::clamp<LineNumber>(asked, 1, EndLine(lines)) - 1;
}

std::optional<LineNumber> GotoLineDialog::ask(LineCount lines, LineNumber current)
{
    m_caption->setText(QStringLiteral("&Line number (1 - %1):").arg(std::max<LineCount>(lines, 1).value()));
    m_number->setText(QString::number((current + 1).value()));
    m_number->selectAll();
    m_number->setFocus();
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return lineFor(m_number->text(), lines);
}

} // namespace tlg
