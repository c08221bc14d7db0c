#include "navigate/journalfieldspanel.h"

#include <QDateTime>
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

constexpr int kTimeRole = Qt::UserRole + 1; // a boot's first entry's time, microseconds
constexpr std::size_t kBootField = 3;    // _BOOT_ID in kListedFields

QString ValueLabel(std::size_t field, const std::string& value)
{
    const QString text = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    if (field == 2) {
        const int priority = ParsePriority(value);
        return priority < 0 ? text : text + QLatin1Char(' ') + QString::fromLatin1(PriorityName(priority).data());
    }
    return text;
}

// A boot as people say it, counted from "this boot" (`from` boots later, or earlier when
// negative), with the local date and time of its first entry.
QString BootLabel(long from, std::uint64_t firstTime)
{
    QString name;
    if (from == 0)
        name = JournalFieldsPanel::tr("this boot");
    else if (from == -1)
        name = JournalFieldsPanel::tr("the one before");
    else if (from < -1)
        name = JournalFieldsPanel::tr("%1 boots before").arg(-from);
    else if (from == 1)
        name = JournalFieldsPanel::tr("the one after");
    else
        name = JournalFieldsPanel::tr("%1 boots after").arg(from);
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(firstTime / 1000)).toLocalTime();
    return name + QStringLiteral(" (") + first.toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QLatin1Char(')');
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
    // Boots are named from "this boot", which the whole journal's boots say, not only those
    // shown.
    const std::vector<JournalBoot> boots = lines->boots();
    const long thisBoot = ThisBoot(boots, lines->query().where);
    m_filling = true;
    for (std::size_t field = 0; field < kListedFields.size(); ++field) {
        QTreeWidgetItem* top = m_tree->topLevelItem(static_cast<int>(field));
        const JournalLines::FieldCounts counts = lines->fieldCounts(field);
        // Values are only ever added: their items stay, their counts change.
        for (const auto& [value, count] : counts) {
            const std::string match = std::string(kListedFields[field]) + "=" + value;
            QTreeWidgetItem*& item = m_items[QString::fromStdString(match)];
            if (!item) {
                item = new QTreeWidgetItem(top);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
                item->setData(0, kMatchRole, QString::fromStdString(match));
                item->setCheckState(0, wasTicked.count(match) ? Qt::Checked : Qt::Unchecked);
            }
            item->setText(0, ValueLabel(field, value));
            if (field == kBootField) {
                const auto boot = std::find_if(boots.begin(), boots.end(), [&](const JournalBoot& b) { return b.id == value; });
                if (boot != boots.end()) {
                    item->setText(0, BootLabel(static_cast<long>(boot - boots.begin()) - thisBoot, boot->firstTime));
                    item->setData(0, kTimeRole, QVariant::fromValue<qulonglong>(boot->firstTime));
                }
                item->setToolTip(0, QString::fromStdString(value));
            }
            item->setText(1, QString::number(count));
            item->setTextAlignment(1, Qt::AlignRight);
        }
        top->setText(1, QString::number(counts.size()));
    }
    showBootsNewestFirst();
    m_filling = false;
}

void JournalFieldsPanel::showBootsNewestFirst()
{
    QTreeWidgetItem* top = m_tree->topLevelItem(static_cast<int>(kBootField));
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < top->childCount(); ++i)
        items << top->child(i);
    QList<QTreeWidgetItem*> sorted = items;
    std::stable_sort(sorted.begin(), sorted.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        return a->data(0, kTimeRole).toULongLong() > b->data(0, kTimeRole).toULongLong();
    });
    if (sorted == items)
        return;
    // Taken out and put back in order: the items, their ticks and m_items stay as they are.
    const bool expanded = top->isExpanded();
    top->takeChildren();
    top->addChildren(sorted);
    top->setExpanded(expanded);
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
