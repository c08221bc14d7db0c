#pragma once

// Several logs read as one timeline: a log file first, whose open decides whether the merge
// opens, then the others, log files or journals. Each member reads and follows itself;
// whenever any of them changes, the merge runs again beside the GUI thread (costing only the
// new lines when they come after all merged ones) and the newest merge is what it shows. Until
// the first merge is ready it shows nothing.
//
// Lives on the GUI thread and uses Qt Core only.

#include "document/mergedlines.h"
#include "source/log.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <vector>

namespace tlg {

class FileLog;

class MergedLog : public Log {
    Q_OBJECT

public:
    // `members[i]` reads `paths[i]`; the first is a log file. The merged log takes them over.
    MergedLog(QStringList paths, FileLog* first, std::vector<Log*> others, QObject* parent = nullptr);
    ~MergedLog() override;

    LinesPtr lines() const override;
    // The newest merge, null before the first.
    MergedLinesPtr merged() const { return m_merged; }
    // In the first file's encoding.
    Encoding encoding() const override;
    UnicodeKind unicodeKind() const override;
    EncodingChoice encodingChoice() const override;
    void chooseEncoding(const EncodingChoice& choice) override;
    void setConvertUnicode(bool on) override;

    // The first file's path, as the title says it.
    QString name() const override;
    // "a.log + 2".
    QString displayName() const override;
    QString path() const override;
    QStringList files() const override { return m_paths; }

    LogAbilities abilities() const override;
    // Opens the first file, then the others; a file after the first that cannot be read stays
    // out of the merge, and the status bar names why.
    void start() override;
    bool busy() const override;
    void reload() override;
    void readAgain() override;
    void look(bool notified) override;
    void setFollowing(bool on) override;
    void setNotified(bool on) override;
    void setWatched(bool on) override;

    std::optional<std::int64_t> lastTime() const override;
    std::optional<LineNumber> firstLineAtOrAfter(std::int64_t time) const override;
    std::optional<std::int64_t> timeOfLine(LineNumber line) const override;
    bool readingTimes() const override { return m_job && !m_merged; }
    void chooseTimeForm(std::optional<TimeForm> form) override;
    std::optional<TimeForm> timeFormChoice() const override { return m_timeChoice; }
    LogTimeline timeline() const override;

    void setFileShown(std::size_t file, bool shown) override;
    bool fileShown(std::size_t file) const { return m_shown[file]; }
    // The merged rows as they are shown.
    std::optional<Saving> saving() const override;
    std::optional<SessionLog> sessionRecord(std::int64_t caretLine) const override;

private:
    struct Job;
    // A member's lines as far as read (nothing yet: none).
    LinesPtr textOf(std::size_t file) const;
    void memberChanged(std::size_t file, const LogChange& change);
    void memberOpened(std::size_t file, bool ok);
    // Merges again, after the merge under way when there is one.
    void update();
    void finish(const std::shared_ptr<Job>& job);
    void reportProgress();

    QStringList m_paths;
    FileLog* m_first;
    std::vector<Log*> m_members; // for paths[0..]
    std::vector<bool> m_opened;
    std::vector<bool> m_shown;
    std::vector<QString> m_lastSaid; // what each member last said, for a failure
    std::optional<TimeForm> m_timeChoice;
    MergedLinesPtr m_merged;
    std::shared_ptr<Job> m_job;
    bool m_again = false;      // a file changed during the merge under way
    bool m_reshow = false;     // the choice of files shown changed: merge anew
    bool m_firstOpened = false;
    bool m_progressSaid = false; // the status bar says how far the merge is
    std::size_t m_waiting = 0; // members whose open has not answered
    QStringList m_failures;    // of the members that answered
    QElapsedTimer m_sinceStart; // of the merge under way
    QTimer m_progressTimer;
};

} // namespace tlg
