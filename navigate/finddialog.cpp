#include "navigate/finddialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tlg {

FindDialog::FindDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FindDialog1"));
    setWindowTitle(tr("Find"));
    setModal(false);

    auto* label = new QLabel(tr("Fi&nd what:"), this);
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("FindText"));
    label->setBuddy(m_text);
    auto* findNextButton = new QPushButton(tr("&Find Next"), this);
    findNextButton->setObjectName(QStringLiteral("FindNext"));
    findNextButton->setDefault(true); // Enter in the text field finds the next one
    auto* closeButton = new QPushButton(tr("Close"), this);
    closeButton->setObjectName(QStringLiteral("FindClose"));

    auto* row = new QHBoxLayout();
    row->addWidget(label);
    row->addWidget(m_text, 1);
    auto* buttons = new QVBoxLayout();
    buttons->addWidget(findNextButton);
    buttons->addWidget(closeButton);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addLayout(buttons);

    connect(findNextButton, &QPushButton::clicked, this, &FindDialog::findNext);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    resize(360, sizeHint().height());
}

QString FindDialog::findText() const
{
    return m_text->text();
}

void FindDialog::setFindText(const QString& text)
{
    m_text->setText(text);
}

} // namespace tlg
