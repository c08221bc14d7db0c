#include "navigate/finddialog.h"

#include "core/controls.h"

#include <QCheckBox>
#include <QComboBox>
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
    m_history = new QComboBox(this);
    m_history->setObjectName(QStringLiteral("FindHistory"));
    m_history->setEditable(true);
    m_history->setInsertPolicy(QComboBox::NoInsert); // remember() keeps the list
    m_history->setMaxCount(kHistory);
    m_history->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_text = m_history->lineEdit();
    m_text->setObjectName(QStringLiteral("FindText"));
    label->setBuddy(m_history);
    m_case = makeCheckBox(this, "FindCase", tr("Match &case"), false);
    m_word = makeCheckBox(this, "FindWholeWord", tr("&Whole word"), false);
    m_regex = makeCheckBox(this, "FindRegex", tr("&Regular expression"), false);
    m_all = makeCheckBox(this, "FindAllLogs", tr("&All open logs"), false);
    auto* findNextButton = new QPushButton(tr("&Find Next"), this);
    findNextButton->setObjectName(QStringLiteral("FindNext"));
    findNextButton->setDefault(true); // Enter in the text field finds the next one
    auto* closeButton = new QPushButton(tr("Close"), this);
    closeButton->setObjectName(QStringLiteral("FindClose"));

    auto* row = new QHBoxLayout();
    row->addWidget(label);
    row->addWidget(m_history, 1);
    auto* column = new QVBoxLayout();
    column->addLayout(row);
    for (QCheckBox* box : {m_case, m_word, m_regex, m_all})
        column->addWidget(box);
    auto* buttons = new QVBoxLayout();
    buttons->addWidget(findNextButton);
    buttons->addWidget(closeButton);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(column, 1);
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
    m_history->setEditText(text);
}

bool FindDialog::matchCase() const
{
    return m_case->isChecked();
}

bool FindDialog::wholeWord() const
{
    return m_word->isChecked();
}

bool FindDialog::regex() const
{
    return m_regex->isChecked();
}

bool FindDialog::allLogs() const
{
    return m_all->isChecked();
}

void FindDialog::setAllLogs(bool all)
{
    m_all->setChecked(all);
}

FindQuery FindDialog::query() const
{
    return {findText(), matchCase(), wholeWord(), regex()};
}

void FindDialog::remember(const QString& text)
{
    if (text.isEmpty())
        return;
    const int at = m_history->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (at == 0)
        return;
    if (at > 0)
        m_history->removeItem(at);
    m_history->insertItem(0, text);
    while (m_history->count() > kHistory)
        m_history->removeItem(m_history->count() - 1);
    m_history->setEditText(text);
}

QStringList FindDialog::history() const
{
    QStringList texts;
    for (int i = 0; i < m_history->count(); ++i)
        texts << m_history->itemText(i);
    return texts;
}

} // namespace tlg
