#pragma once

// What a log whose lines are entries with fields offers the fields panel beside its view: the
// fields it lists, each with the values its entries hold and how many hold each; the fields of
// the entry a line belongs to; and a narrowing to the entries whose values are ticked (values
// of one field are any of them, fields are all of them).

#include "document/linesource.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace tlg {

struct FieldValue {
    std::string value;          // as the entries hold it
    QString label;              // as the panel shows it ("3 err", "this boot (2026-12-07 10:00)")
    QString toolTip;            // "" for none
    std::int64_t count = 0;     // entries holding it
};

struct ListedField {
    std::string name;               // "_SYSTEMD_UNIT"
    std::vector<FieldValue> values; // in the order the panel lists them
};

class LogFields {
public:
    virtual ~LogFields() = default;
    // The fields and their values as far as read. The lists are those of the log as opened:
    // while narrowed (`narrowed()`) they are not given again, so that a tick can be taken back.
    virtual std::vector<ListedField> listedFields() const = 0;
    virtual bool narrowed() const = 0;
    // The first line of the entry that shows `line`, and every field of that entry,
    // "FIELD=value" a line ("" when it cannot be read).
    virtual LineNumber entryStart(LineNumber line) const = 0;
    virtual QString entryFields(LineNumber line) const = 0;
    // Shows only the entries that hold the ticked values ("FIELD=value" each); none shows all.
    virtual void narrowTo(const std::vector<std::string>& ticked) = 0;
};

} // namespace tlg
