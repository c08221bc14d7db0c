#include "navigate/gototimedialog.h"

#include "document/timeindex.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tlg {

GotoTimeDialog::GotoTimeDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("GotoTimeDialog"));
    setWindowTitle(QStringLiteral("Go to Time"));
    setWindowModality(Qt::WindowModal);
    auto* column = new QVBoxLayout(this);
    m_range = new QLabel(this);
    m_range->setTextFormat(Qt::PlainText);
    column->addWidget(m_range);
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("GotoTimeText"));
    m_text->setPlaceholderText(QStringLiteral("2026-12-07 10:15:30.250, or 10:15"));
    column->addWidget(m_text);
    m_problem = new QLabel(this);
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->setStyleSheet(QStringLiteral("color: #c00000"));
    column->addWidget(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &GotoTimeDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

QString GotoTimeDialog::timeText(std::int64_t time)
{
    return QDateTime::fromMSecsSinceEpoch(time / 1000000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

void GotoTimeDialog::ask(std::int64_t last)
{
    m_last = last;
    m_range->setText(QStringLiteral("The last line's time: %1").arg(timeText(last)));
    m_problem->clear();
    m_text->selectAll();
    m_text->setFocus();
    open();
}

void GotoTimeDialog::accept()
{
    const QByteArray typed = m_text->text().trimmed().toUtf8();
    const std::optional<std::int64_t> time = ParseTimeQuery(std::string_view(typed.constData(), typed.size()), m_last);
    if (!time) {
        m_problem->setText(QStringLiteral("Not a time: \"%1\"").arg(m_text->text()));
        return;
    }
    QDialog::accept();
    emit timeChosen(*time);
}

} // namespace tlg
