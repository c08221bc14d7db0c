#include "navigate/fieldspanel.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace tlg {

namespace {

constexpr int kMatchRole = Qt::UserRole; // "FIELD=value" of a value's item

} // namespace

FieldsPanel::FieldsPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("JournalFields"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Vertical, this);
    m_tree = new QTreeWidget(split);
    m_tree->setObjectName(QStringLiteral("JournalFieldValues"));
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({tr("Field"), tr("Entries")});
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_tree->header()->setStretchLastSection(false);
    m_entry = new QPlainTextEdit(split);
    m_entry->setObjectName(QStringLiteral("JournalEntryFields"));
    m_entry->setReadOnly(true);
    m_entry->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_entry->setPlaceholderText(tr("The fields of the entry at the caret"));
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(split);
    connect(m_tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (!m_filling && column == 0 && item->parent())
            emit tickedChanged();
    });
}

QTreeWidgetItem* FieldsPanel::fieldItem(const std::string& name)
{
    const auto at = std::find(m_fieldNames.begin(), m_fieldNames.end(), name);
    if (at != m_fieldNames.end())
        return m_tree->topLevelItem(static_cast<int>(at - m_fieldNames.begin()));
    m_fieldNames.push_back(name);
    auto* item = new QTreeWidgetItem(m_tree, {QString::fromStdString(name)});
    item->setFlags(Qt::ItemIsEnabled);
    return item;
}

void FieldsPanel::setFields(const std::vector<ListedField>& fields)
{
    const std::vector<std::string> kept = ticked();
    const std::set<std::string> wasTicked(kept.begin(), kept.end());
    m_filling = true;
    for (const ListedField& field : fields) {
        QTreeWidgetItem* top = fieldItem(field.name);
        for (const FieldValue& value : field.values) {
            const std::string match = field.name + "=" + value.value;
            QTreeWidgetItem*& item = m_items[QString::fromStdString(match)];
            if (!item) {
                item = new QTreeWidgetItem(top);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
                item->setData(0, kMatchRole, QString::fromStdString(match));
                item->setCheckState(0, wasTicked.count(match) ? Qt::Checked : Qt::Unchecked);
            }
            item->setText(0, value.label);
            item->setToolTip(0, value.toolTip);
            item->setText(1, QString::number(value.count));
            item->setTextAlignment(1, Qt::AlignRight);
        }
        top->setText(1, QString::number(field.values.size()));
        showInOrder(top, field);
    }
    m_filling = false;
}

void FieldsPanel::showInOrder(QTreeWidgetItem* top, const ListedField& field)
{
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < top->childCount(); ++i)
        items << top->child(i);
    QList<QTreeWidgetItem*> sorted;
    for (const FieldValue& value : field.values)
        if (QTreeWidgetItem* item = m_items.value(QString::fromStdString(field.name + "=" + value.value)))
            sorted << item;
    // Values no longer given keep their places after those given.
    for (QTreeWidgetItem* item : std::as_const(items))
        if (!sorted.contains(item))
            sorted << item;
    if (sorted == items)
        return;
    // Taken out and put back in order: the items, their ticks and m_items stay as they are.
    const bool expanded = top->isExpanded();
    top->takeChildren();
    top->addChildren(sorted);
    top->setExpanded(expanded);
}

std::vector<std::string> FieldsPanel::ticked() const
{
    std::vector<std::string> matches;
    for (int field = 0; field < m_tree->topLevelItemCount(); ++field) {
        const QTreeWidgetItem* top = m_tree->topLevelItem(field);
        for (int child = 0; child < top->childCount(); ++child)
            if (top->child(child)->checkState(0) == Qt::Checked)
                matches.push_back(top->child(child)->data(0, kMatchRole).toString().toStdString());
    }
    return matches;
}

void FieldsPanel::showEntryFields(const QString& text)
{
    if (m_entry->toPlainText() != text)
        m_entry->setPlainText(text);
}

QString FieldsPanel::entryFields() const
{
    return m_entry->toPlainText();
}

QString FieldsPanel::valueText(std::size_t field, const std::string& value) const
{
    if (field >= m_fieldNames.size())
        return {};
    const QTreeWidgetItem* item = m_items.value(QString::fromStdString(m_fieldNames[field] + "=" + value));
    return item ? item->text(0) + QLatin1Char('\t') + item->text(1) : QString();
}

void FieldsPanel::tick(std::size_t field, const std::string& value, bool on)
{
    if (field >= m_fieldNames.size())
        return;
    if (QTreeWidgetItem* item = m_items.value(QString::fromStdString(m_fieldNames[field] + "=" + value)))
        item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
}

} // namespace tlg
