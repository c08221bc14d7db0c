#pragma once

// An open journal: its reading and following on a thread of its own. Opening shows the
// journal's last entries at once (a tail), then reads the whole journal beside the GUI and
// shows that; from then on it follows the journal, its descriptor watched on its own thread,
// and each batch of new entries comes as a source grown from the one before.
//
// Lives on the GUI thread and uses Qt Core only; every notice comes on the GUI thread.

#include "journal/journallines.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace tlg {

class JournalSource : public QObject {
    Q_OBJECT

public:
    // The entries a tail shows before the whole journal is read.
    static constexpr std::int64_t kTailEntries = 200;

    explicit JournalSource(QObject* parent = nullptr);
    // Stops a read under way and waits for the thread to end.
    ~JournalSource() override;

    // Opens the journal of `query` in place of the one open (whose read, if any, is stopped).
    // documentChanged follows, or failed with the reason.
    void open(const JournalQuery& query);
    // The entries shown: a tail while the whole is read (partial()), then the whole; null
    // before the first.
    const JournalLinesPtr& lines() const { return m_lines; }
    const JournalQuery& query() const { return m_query; }
    // Whether the whole journal is being read.
    bool busy() const { return m_busy; }
    // Whether new entries are read as they are written (on by default).
    void setFollowing(bool on);
    bool following() const { return m_following; }
    // Whether some of the journal is hidden from this user (their own entries only).
    bool hidesEntries() const;
    // What the journal is called in a title: "System journal", or its file or folder.
    QString title() const;

signals:
    // lines() changed: `grew` when the new lines grewFrom the ones before.
    void documentChanged(bool grew);
    // How far the read of the whole journal is, 0..100; -1 once done.
    void progress(int percent);
    // The journal could not be opened: the text the user reads.
    void failed(const QString& text);

private:
    // On the source's thread.
    void read(const JournalQuery& query, int generation, std::shared_ptr<std::atomic<bool>> stop);
    void follow(const JournalLinesPtr& lines, int generation);
    void readNewEntries(int generation);
    void stopFollowing();
    // Hands `lines` to the GUI thread, unless a newer open came meanwhile.
    void show(JournalLinesPtr lines, int generation, bool grew, bool done);

    JournalQuery m_query;
    JournalLinesPtr m_lines;
    bool m_busy = false;
    bool m_following = true;
    std::atomic<bool> m_followOn{true}; // m_following, for the source's thread
    std::atomic<int> m_generation{0};   // of the last open; older reads give up
    std::shared_ptr<std::atomic<bool>> m_stop;

    QThread m_thread;
    QObject* m_context = nullptr; // lives on m_thread; what runs there runs through it
    // The source's thread's own:
    JournalLinesPtr m_followed;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_poll = nullptr;
};

} // namespace tlg
