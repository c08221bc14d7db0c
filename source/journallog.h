#pragma once

// The systemd journal as a log: the local machine's, a journal file or a folder of them,
// narrowed by journalctl's matches. Opening shows the journal's last entries at once (a tail),
// then reads the whole journal and shows that with the reader on the same entry; from then on
// it follows the journal, each batch of new entries a growth of what is shown. Its reading and
// its wait for new entries run on a thread of the executor's own. Its entries have fields: the
// fields panel lists their values, and ticking values opens the journal again narrowed to them.
//
// Lives on the GUI thread and uses Qt Core only; every notice comes on the GUI thread.

#include "journal/journallines.h"
#include "source/log.h"
#include "source/logfields.h"
#include "source/onetextlog.h"

#include <QElapsedTimer>

#include <atomic>
#include <memory>
#include <vector>

namespace tlg {

class DedicatedThread;

class JournalLog : public OneTextLog, public LogFields {
    Q_OBJECT

public:
    // The entries a tail shows before the whole journal is read.
    static constexpr std::int64_t kTailEntries = 200;

    explicit JournalLog(JournalQuery query, QObject* parent = nullptr);
    // Stops the read under way and the wait for new entries, and waits for them to end.
    ~JournalLog() override;

    LinesPtr lines() const override;
    const JournalLinesPtr& journalLines() const { return m_lines; }
    Encoding encoding() const override { return Encoding::Utf8; }
    const JournalQuery& query() const { return m_query; }

    // "System journal", or its file or folder.
    QString name() const override;
    QString displayName() const override { return name(); }
    // Its file or folder ("" for the local machine's journal).
    QString path() const override;
    bool isNamed(const QString& path) const override;
    bool sameAs(const Log& other) const override;

    LogAbilities abilities() const override;
    // Shows its tail, then the whole journal; a journal that cannot be opened says why in the
    // error box and opened(false) follows.
    void start() override;
    bool busy() const override { return m_busy; }
    // New entries are read as they are written while on (the default).
    void setFollowing(bool on) override;
    // Whether some of the journal is hidden from this user (their own entries only).
    bool hidesEntries() const;
    // How often the reading looked for new entries since the last open, for tests.
    std::int64_t looks() const;

    // Through the journal's own index once it is read whole, without waiting for the times of
    // its lines.
    std::optional<LineNumber> firstLineAtOrAfter(std::int64_t time) const override;

    LogFields* fields() override { return this; }
    std::vector<ListedField> listedFields() const override;
    bool narrowed() const override { return !m_query.fields.empty(); }
    LineNumber entryStart(LineNumber line) const override;
    QString entryFields(LineNumber line) const override;
    void narrowTo(const std::vector<std::string>& ticked) override;

    // The local machine's journal is kept by its matches; a file or folder by its path.
    std::optional<SessionLog> sessionRecord(std::int64_t caretLine) const override;

private:
    struct Reading;
    // Reads the journal of m_query anew, in place of what was read (whose reading ends).
    void open();
    // On the reading's own thread.
    static void read(const std::shared_ptr<Reading>& reading, const std::atomic<bool>& stop);
    // Takes lines read for the open of `generation`, unless a newer open came meanwhile.
    void take(JournalLinesPtr lines, int generation, bool grew, bool whole);
    void fail(const QString& text, int generation);
    QString statusText() const;
    void retireReadings();

    JournalQuery m_query;
    JournalLinesPtr m_lines;
    bool m_busy = false;
    bool m_failed = false;
    int m_generation = 0;
    QElapsedTimer m_sinceOpen;
    std::shared_ptr<Reading> m_reading;
    std::unique_ptr<DedicatedThread> m_thread;
    std::vector<std::unique_ptr<DedicatedThread>> m_retired; // readings told to end, not yet ended
};

} // namespace tlg
