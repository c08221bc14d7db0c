#pragma once

// One reader of the systemd journal through sd-journal: the local machine's journal, some
// journal files or a folder of them, with the matches journalctl's -u, -p and -b make and
// field matches of our own. It walks the entries in the journal's order and formats the one
// it stands on as `journalctl -o short-iso` prints it, in the process's time zone.
//
// A reader is not for two threads at once: its owner guards it.

#include <cstdint>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct sd_journal sd_journal;

namespace tlg {

// What a journal is read from and which of its entries are shown.
struct JournalQuery {
    enum class Where { Local, Files, Folder };
    Where where = Where::Local;
    // Files: the journal files; Folder: the one folder.
    std::vector<std::string> paths;
    // journalctl -u: the units (a name without a type is a service), any of them.
    std::vector<std::string> units;
    // journalctl -p: the priorities from `lowestPriority` (0, emerg) to `highestPriority`
    // (7, debug) when highestPriority is 0..7; -1 for all.
    int highestPriority = -1;
    int lowestPriority = 0;
    // journalctl -b: "" for every boot; "0" the last, "-1" the one before, "1" the first; or
    // a boot id in 32 hex digits.
    std::string boot;
    // Field matches "FIELD=value": values of one field are any of them, fields are all of them.
    std::vector<std::string> fields;

    friend bool operator==(const JournalQuery&, const JournalQuery&) = default;
};

// The fields whose values the fields panel lists, in its order.
inline constexpr std::array<const char*, 4> kListedFields = {"_SYSTEMD_UNIT", "SYSLOG_IDENTIFIER", "PRIORITY", "_BOOT_ID"};

// journalctl's names of the priorities, from 0.
std::string_view PriorityName(int priority);
// A priority given to -p: a name (emerg ... debug) or a digit; -1 when it is neither.
int ParsePriority(std::string_view text);
// Whether bytes start the way every journal file starts ("LPKSHHRH").
bool LooksLikeJournal(std::string_view firstBytes);
// The journal a path holds: a file that starts as every journal file does, or a folder that
// holds journal files (*.journal, *.journal~); nothing otherwise.
std::optional<JournalQuery> JournalAt(const std::string& path);
// Whether the process may read all of the local journal (root, or a member of the
// systemd-journal, adm or wheel group); otherwise it sees its own entries only.
bool SeesWholeLocalJournal();

// One boot in a journal: its id (32 hex digits) and the time of its first entry.
struct JournalBoot {
    std::string id;
    std::uint64_t firstTime = 0; // microseconds since 1970 UTC
};
// This machine's boot id in 32 hex digits; "" when it cannot be had.
std::string CurrentBootId();
// Which of a journal's boots (earliest first) is "this boot", the one -b 0 means: for the
// local machine's journal the running boot when the journal holds it, else the last one; -1
// when there is none.
long ThisBoot(const std::vector<JournalBoot>& boots, JournalQuery::Where where);
// For tests: the local machine's journal is read from this folder of journal files ("" for the
// machine's own), so that a test never depends on what the machine has logged.
void SetLocalJournalStandIn(const std::string& folder);

class JournalReader {
public:
    // Opens the journal and applies the query's matches; with `boots`, lists there the
    // journal's boots whatever the matches, earliest first (see boots()). Throws Failure saying
    // why when the journal cannot be opened (a missing or corrupted file, no boot of that
    // number).
    explicit JournalReader(const JournalQuery& query, std::vector<JournalBoot>* boots = nullptr);
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // Steps to the next (or previous) entry; false at the end, or where the journal cannot be
    // read on (which counts as unreadable: see failedSteps()).
    bool next();
    bool previous();
    void seekHead();
    void seekTail();
    // Where the reader stands, as a cursor; "" when it cannot say.
    std::string cursor() const;
    // Stands on the entry of a cursor (or the nearest one after it, when it is gone); false
    // when there is none.
    bool seekCursor(const std::string& cursor);
    // Stands on the first entry at or after a time (microseconds since 1970 UTC); false when
    // there is none.
    bool seekTime(std::uint64_t microseconds);

    enum class Entry { Shown, NoMessage, Unreadable };
    // The entry it stands on, as journalctl -o short-iso prints it: its lines joined by LF,
    // without a final break. An entry without a message shows nothing (NoMessage), as in
    // journalctl; one whose data cannot be read is Unreadable. `priority` is its PRIORITY, or
    // -1 without one.
    Entry format(std::string& text, int& priority);
    // The values of kListedFields in the entry format() read last ("" for a field it lacks),
    // valid until the reader moves.
    const std::array<std::string_view, kListedFields.size()>& listedValues() const { return m_listed; }
    // Every field of the entry it stands on, "FIELD=value" a line (a binary value as
    // "FIELD=[n bytes]").
    std::string allFields();
    // Its time, microseconds since 1970 UTC; 0 when unknown.
    std::uint64_t realtime() const;

    // Takes note of changes to the journal (new entries, new files); true when there were.
    // Cheap when there were none.
    bool refresh();
    // The descriptor that becomes readable when the journal changes (then call refresh()).
    int descriptor();
    // Waits up to `microseconds` for the journal to change; true when it did.
    bool wait(std::uint64_t microseconds);

    // The values a field takes in the journal, whatever the matches.
    std::vector<std::string> uniqueValues(const char* field);
    // The boots in the journal, whatever the matches, earliest first by their first entries.
    // Only before the matches are made, as it leaves none.
    std::vector<JournalBoot> boots();
    // Steps that failed because the journal could not be read there.
    std::int64_t failedSteps() const { return m_failedSteps; }

private:
    void applyMatches(const JournalQuery& query, std::vector<JournalBoot>* boots);
    void addMatch(const std::string& match);

    sd_journal* m_journal = nullptr;
    std::array<std::string_view, kListedFields.size()> m_listed;
    std::int64_t m_failedSteps = 0;
};

} // namespace tlg
