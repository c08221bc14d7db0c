#pragma once

// The journal's fields beside its view: the values of _SYSTEMD_UNIT, SYSLOG_IDENTIFIER,
// PRIORITY and _BOOT_ID, each with how many entries hold it. Boots are named as people say
// them, newest first by their first entries: "this boot" (the running one in the local
// machine's journal, else the last), "the one before", "2 boots before", ..., each with the
// local date and time of its first entry, its id in the tooltip. Ticking values asks for
// their entries only: values of one field are any of them, fields are all of them. Below,
// every field of the entry the caret stands on.

#include "journal/journallines.h"

#include <QHash>
#include <QWidget>

#include <string>
#include <vector>

class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace tlg {

class JournalFieldsPanel : public QWidget {
    Q_OBJECT

public:
    explicit JournalFieldsPanel(QWidget* parent = nullptr);

    // The values and counts of the journal's lines. Lines narrowed by ticked values keep the
    // lists of the journal they narrow, so that a tick can be taken back.
    void setLines(const JournalLinesPtr& lines);
    // The values ticked, "FIELD=value" each, in the lists' order.
    std::vector<std::string> ticked() const;
    // The fields of the caret's entry, "FIELD=value" a line.
    void showEntryFields(const QString& text);
    QString entryFields() const;
    // The text and count of the value item of `field` (an index into kListedFields) and
    // `value`, tab between, "" when there is none; for tests, which tick values by tick().
    QString valueText(std::size_t field, const std::string& value) const;
    void tick(std::size_t field, const std::string& value, bool on);

signals:
    // The reader ticked or cleared a value.
    void tickedChanged();

private:
    void fill(const JournalLinesPtr& lines);
    void showBootsNewestFirst();

    QTreeWidget* m_tree;
    QPlainTextEdit* m_entry;
    QHash<QString, QTreeWidgetItem*> m_items; // each value's item, by its "FIELD=value"
    bool m_filling = false;
};

} // namespace tlg
