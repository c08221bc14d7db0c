#pragma once

// Several logs read as one timeline. The first file is read by the source its tab already has;
// the others by sources of their own, each following its file: a log file's LogSource, or for a
// systemd journal (a journal file or a folder of them, known by its bytes) a JournalSource, whose
// entries join the merge as journalctl's short-iso lines once the whole journal is read. Whenever any of them changes,
// the merge runs again beside the GUI thread (costing only the new lines when they come after
// all merged ones) and the newest merge is told with mergedChanged. Until the first merge is
// ready there is none.
//
// Lives on the GUI thread and uses Qt Core only.

#include "document/mergedlines.h"
#include "journal/journalreader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace tlg {

class JournalSource;
class LogSource;

class MergedSource : public QObject {
    Q_OBJECT

public:
    // `first` reads paths[0], which is a log file (its owner opens and follows it); the rest,
    // log files or journals, are opened by open().
    MergedSource(LogSource* first, QStringList paths, QObject* parent = nullptr);
    ~MergedSource() override;

    const QStringList& paths() const { return m_paths; }
    // Opens every file but the first; `done` hears, once all have answered, the failures'
    // texts ("" when every file opened). A file that cannot be read stays out of the merge.
    void open(std::function<void(const QStringList& failures)> done);

    // The newest merge, null before the first.
    MergedLinesPtr merged() const { return m_merged; }
    // A file's lines are left out of the merge (the "Files" legend) or shown again.
    void setShown(std::size_t file, bool shown);
    bool shown(std::size_t file) const { return m_shown[file]; }

    // Whether a file is a journal.
    bool isJournal(std::size_t file) const { return file > 0 && m_others[file - 1].journal != nullptr; }

    // The watcher's look at every file but the first, at the tick of the first's watcher
    // (notified: after a change notice, comparing nothing). Journals follow by themselves.
    void follow(bool convert, bool notified = false);
    // Whether the journals read new entries as they come (the tab's follow switch).
    void setFollowing(bool on);
    // A merge runs or waits.
    bool busy() const { return m_job != nullptr; }

signals:
    // A newer merge is ready.
    void mergedChanged();
    // Percent of a long merge done, from half a second on; -1 once it ended.
    void progress(int percent);

private:
    struct Job;
    // A file after the first: one of the two is set.
    struct Member {
        LogSource* log = nullptr;
        JournalSource* journal = nullptr;
        JournalQuery query; // the journal's
    };
    // A file's lines as far as read (nothing yet: none).
    LinesPtr textOf(std::size_t file) const;
    void openJournal(std::size_t file, std::function<void(const QString& failure)> answered);
    // One more file answered its open; the last one starts the merge.
    void answered(const QString& failure);
    // Merges again, after the merge under way when there is one.
    void update();
    void finish(const std::shared_ptr<Job>& job);
    void reportProgress();
    // A change of one of the files was notified: a look at all of them soon.
    void changeNotified();

    QStringList m_paths;
    LogSource* m_first;
    std::vector<Member> m_others; // for paths[1..]
    std::vector<bool> m_opened;
    std::vector<bool> m_shown;
    bool m_convert = false;
    MergedLinesPtr m_merged;
    std::shared_ptr<Job> m_job;
    bool m_again = false; // a file changed during the merge under way
    bool m_reshow = false; // the choice of files shown changed: merge anew
    bool m_firstRead = false;  // the first file's source has read it
    std::size_t m_waiting = 1; // files whose open has not answered: no merge before open()
    QStringList m_failures;    // of the files that answered
    std::function<void(const QStringList&)> m_done; // open()'s
    QElapsedTimer m_sinceStart; // of the merge under way
    QTimer m_progressTimer;
    QTimer m_notifiedLook;
    QElapsedTimer m_sinceNotifiedLook;
    QThreadPool m_pool; // last: its thread ends first
};

} // namespace tlg
