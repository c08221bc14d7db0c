#pragma once

// The fields beside a log whose lines are entries with fields (the journal's): each listed
// field with the values its entries hold and how many hold each (boots newest first, named as
// people say them); ticking values asks for their entries only (values of one field are any of
// them, fields are all of them). Below, every field of the entry the caret stands on.

#include "source/logfields.h"

#include <QHash>
#include <QWidget>

#include <string>
#include <vector>

class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace tlg {

class FieldsPanel : public QWidget {
    Q_OBJECT

public:
    explicit FieldsPanel(QWidget* parent = nullptr);

    // The fields and values to list. Values are only ever added: their items (and ticks) stay,
    // their counts change.
    void setFields(const std::vector<ListedField>& fields);
    // The values ticked, "FIELD=value" each, in the lists' order.
    std::vector<std::string> ticked() const;
    // The fields of the caret's entry, "FIELD=value" a line.
    void showEntryFields(const QString& text);
    QString entryFields() const;
    // The text and count of the item of `value` in the field listed `field`th, tab between,
    // "" when there is none; for tests, which tick values by tick().
    QString valueText(std::size_t field, const std::string& value) const;
    void tick(std::size_t field, const std::string& value, bool on);

signals:
    // The reader ticked or cleared a value.
    void tickedChanged();

private:
    QTreeWidgetItem* fieldItem(const std::string& name);
    // The field's values in the order given.
    void showInOrder(QTreeWidgetItem* top, const ListedField& field);

    QTreeWidget* m_tree;
    QPlainTextEdit* m_entry;
    QHash<QString, QTreeWidgetItem*> m_items; // each value's item, by its "FIELD=value"
    std::vector<std::string> m_fieldNames;    // in the order listed
    bool m_filling = false;
};

} // namespace tlg
