#include "navigate/journalfieldspanel.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <set>

namespace tlg {

namespace {

constexpr int kMatchRole = Qt::UserRole; // "FIELD=value" of a value's item

QString ValueLabel(std::size_t field, const std::string& value, std::size_t index, std::size_t count)
{
    const QString text = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    if (field == 2) {
        const int priority = ParsePriority(value);
        return priority < 0 ? text : text + QLatin1Char(' ') + QString::fromLatin1(PriorityName(priority).data());
    }
    if (field == 3) {
        // Boots as journalctl -b counts them from the last one.
        const long back = static_cast<long>(index) - static_cast<long>(count) + 1;
        return QString::number(back) + QStringLiteral("  ") + text;
    }
    return text;
}

} // namespace

JournalFieldsPanel::JournalFieldsPanel(QWidget* parent) : QWidget(parent)
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
    for (const char* field : kListedFields) {
        auto* item = new QTreeWidgetItem(m_tree, {QString::fromLatin1(field)});
        item->setFlags(Qt::ItemIsEnabled);
    }
    connect(m_tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (!m_filling && column == 0 && item->parent())
            emit tickedChanged();
    });
}

void JournalFieldsPanel::setLines(const JournalLinesPtr& lines)
{
    // The lists are those of the journal as opened, before any tick narrowed it.
    if (!lines || !lines->query().fields.empty())
        return;
    fill(lines);
}

void JournalFieldsPanel::fill(const JournalLinesPtr& lines)
{
    const std::vector<std::string> kept = ticked();
    const std::set<std::string> wasTicked(kept.begin(), kept.end());
    m_filling = true;
    for (std::size_t field = 0; field < kListedFields.size(); ++field) {
        QTreeWidgetItem* top = m_tree->topLevelItem(static_cast<int>(field));
        const JournalLines::FieldCounts counts = lines->fieldCounts(field);
        // Values are only ever added: their items stay, their counts change.
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const auto& [value, count] = counts[i];
            const std::string match = std::string(kListedFields[field]) + "=" + value;
            QTreeWidgetItem*& item = m_items[QString::fromStdString(match)];
            if (!item) {
                item = new QTreeWidgetItem(top);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
                item->setData(0, kMatchRole, QString::fromStdString(match));
                item->setCheckState(0, wasTicked.count(match) ? Qt::Checked : Qt::Unchecked);
            }
            item->setText(0, ValueLabel(field, value, i, counts.size()));
            item->setText(1, QString::number(count));
            item->setTextAlignment(1, Qt::AlignRight);
        }
        top->setText(1, QString::number(counts.size()));
    }
    m_filling = false;
}

std::vector<std::string> JournalFieldsPanel::ticked() const
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

void JournalFieldsPanel::showEntryFields(const QString& text)
{
    if (m_entry->toPlainText() != text)
        m_entry->setPlainText(text);
}

QString JournalFieldsPanel::entryFields() const
{
    return m_entry->toPlainText();
}

QString JournalFieldsPanel::valueText(std::size_t field, const std::string& value) const
{
    const QTreeWidgetItem* item = m_items.value(QString::fromStdString(std::string(kListedFields[field]) + "=" + value));
    return item ? item->text(0) + QLatin1Char('\t') + item->text(1) : QString();
}

void JournalFieldsPanel::tick(std::size_t field, const std::string& value, bool on)
{
    if (QTreeWidgetItem* item = m_items.value(QString::fromStdString(std::string(kListedFields[field]) + "=" + value)))
        item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
}

} // namespace tlg
