#pragma once

// One open log: the file it reads (its path, and the one opened before it), the text held of
// it, its encoding, the check of that text against the file and the watcher's record. Every
// read runs as an operation on the source's own thread, in the order asked; the GUI thread
// only asks and hears back. A request made while an operation runs waits for it, so no event
// loop ever runs inside another.
//
// Lives on the GUI thread and uses Qt Core only.

#include "document/encoding.h"
#include "document/logdocument.h"
#include "document/pipespool.h"
#include "document/unicode.h"
#include "source/textoperations.h"
#include "source/watchstate.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QTimer;

namespace tlg {

class SerialQueue;

class LogSource : public QObject {
    Q_OBJECT

public:
    // Why the text changed, or why the watcher could not read it.
    enum class Why {
        Opened,        // a file was opened (or read again by hand), its encoding detected
        Appended,      // the followed log grew and only its new bytes were read
        Rewritten,     // the followed log changed otherwise and was read again whole
        ReadAgain,     // read again whole in the same encoding ("Apply Now")
        Unchanged,     // the watcher found nothing to read
        Missing,       // the file is not there
        Locked,        // another program holds a lock on it
        Failed,        // it could not be read; the text is as it was
    };
    struct Outcome {
        Why why = Why::Unchanged;
        QString message; // a failure's text, as a user reads it
        bool ok() const { return why != Why::Missing && why != Why::Locked && why != Why::Failed; }
    };
    using Done = std::function<void(const Outcome&)>;

    explicit LogSource(QObject* parent = nullptr);
    // Drops the operations that wait and stops the read under way at its next chunk, so that
    // closing never waits for a whole long read; nothing of it arrives afterwards.
    ~LogSource() override;

    // The file, as the open dialog names it ("" when none, and for a pipe), and the one opened before the last
    // file-list pick.
    QString path() const { return m_path; }
    std::string nativePath() const;
    QString previousPath() const { return m_previousPath; }
    void setPreviousPath(const QString& path) { m_previousPath = path; }

    // The log's name as a user reads it: its path, or "standard input" for a pipe.
    QString name() const;
    // Whether the log is a pipe's (openPipe) rather than a file's.
    bool isPipe() const { return m_spool != nullptr; }
    // The pipe's spool (null for a file), for tests.
    const PipeSpool* pipeSpool() const { return m_spool.get(); }

    // The text as last read (the empty document before the first read).
    const DocumentPtr& document() const { return m_text.document; }
    Encoding encoding() const { return m_text.encoding; }
    UnicodeKind unicodeKind() const { return m_text.kind; }
    // What the Encoding menu asks for: it holds for every later open.
    const EncodingChoice& encodingChoice() const { return m_encodingChoice; }
    void setEncodingChoice(const EncodingChoice& choice) { m_encodingChoice = choice; }
    WatchState& watchState() { return m_watch; }
    const WatchState& watchState() const { return m_watch; }

    // An operation runs or waits.
    bool busy() const { return m_running > 0; }
    // For tests: runs on the source's thread before each read, so that a read can be held.
    void setReadHook(std::function<void()> hook) { m_readHook = std::move(hook); }

    // Reads the whole file at path and detects its encoding (or takes the chosen one),
    // converting 16-bit text and text holding NULs. Once read,
    // path and text become the source's, the file's values sampled before the read are stored
    // (a write landing meanwhile is seen at the next look) and done hears Opened; a file that
    // cannot be read leaves everything as it was and done hears Failed with the reason.
    // A compressed file shows its first lines while its pass goes on: each document of them
    // becomes the source's text with its path, told by documentChanged (Opened for the first,
    // Appended after) and partialShown; the whole text then follows as growth (Appended) before
    // done hears Opened. An open that fails after showing some puts back the text and path it
    // replaced (told by documentChanged) before done hears Failed. No follow is read meanwhile.
    void open(const QString& path, Done done);
    // Reads a pipe (standard input) as this source's log, in place of any file: its bytes are
    // kept in a spool file as they come, and the text grows by them on the source's thread,
    // each growth told by pipeGrew; the first bytes decide the encoding, as a file's do. done
    // hears Opened at once, the text still empty, or Failed when the spool cannot be made
    // (nothing changes then). A pipe is never read again whole: readAgain hears Missing.
    void openPipe(FileHandle input, Done done, PipeSpool::Options options = {});
    // A pipe's text read again from the start of its spool, its encoding detected again (or
    // the one chosen taken), once the growth under way has ended; told by pipeGrew(true).
    void readPipeAgain();
    // Reads the open file again whole in its encoding, converted when convert; done hears
    // ReadAgain, or Missing when there is no file to read.
    void readAgain(bool convert, Done done);
    // The watcher's look, after WatchState's sample of this tick: a change of the file (or a
    // text found stale, or a comparison of the held bytes that finds a difference) is read,
    // costing its new bytes where the file only grew. A notified look compares nothing.
    // done hears Appended or Rewritten, Unchanged, Missing, Locked or Failed.
    void follow(bool notified, bool convert, Done done);

    // Watches the file and its folder for changes (a rotated log is seen as soon as it is
    // back) while `on`, through the program's one watcher; changeNotified tells of each change
    // of these two paths.
    void watchFile(bool on);

signals:
    // The text changed: a new document, its encoding, and why.
    void documentChanged(tlg::LogSource::Why why);
    // Percent of a long read done, from half a second on; -1 once it ended.
    void progress(int percent);
    // A change waits to be read (the reload button's warning).
    void changeWaiting(bool waiting);
    // The file or its folder changed.
    void changeNotified();
    // A log being opened shows more of its first lines (`first`: the first of them, a new log).
    void partialShown(bool first);
    // A pipe's text grew; `detected` when its encoding was just found from its first bytes.
    void pipeGrew(bool detected);
    // A pipe gives no more: its writer closed its end ("Standard input closed"), or the spool
    // could not take more (why, as a user reads it). Every byte kept is shown by then.
    void pipeEnded(const QString& note, bool failed);
    // A pipe's kept bytes could not be read; the text is as it was.
    void pipeReadFailed(const QString& message);
    // No operation runs or waits any more.
    void idle();

private:
    // Runs `read(bytes, stop)` on the source's thread, then `finish` with its result here;
    // `total` is the bytes it will read, for the progress report, and `stop` is raised when the
    // source goes. A Failure thrown by read reaches finish as its message; a read that stopped
    // reaches nothing.
    template <typename Result>
    void run(const char* kind, std::int64_t total,
             std::function<Result(std::atomic<std::int64_t>&, const std::atomic<bool>*)> read,
             std::function<void(Result*, const QString& failure)> finish);
    // A whole file read and the file's values sampled just before.
    struct WholeRead {
        HeldText text;
        FileSample sample;
    };
    // Takes a whole read (null: it failed) as the source's text and tells done.
    void takeWholeRead(WholeRead* read, const QString& failure, Why why, const Done& done);
    // Takes the first lines of the log at `path` being opened as the source's text.
    void takePartial(const HeldText& text, const QString& path);
    // The part of a look that reads, once a difference is known.
    void readChange(bool notified, bool convert, Done done);
    void reportProgress();
    // The pipe's text grown to what its spool holds (once more after the growth under way,
    // when one runs).
    void growPipe();
    void dropPipe();

    QString m_path;
    QString m_previousPath;
    HeldText m_text;
    EncodingChoice m_encodingChoice;
    WatchState m_watch;
    bool m_textDiffers = false; // a comparison found the held text is not the file's
    // An open shows the first lines of its log; what it replaced, put back if it fails.
    bool m_partialOpen = false;
    QString m_pathBefore;
    HeldText m_textBefore;
    std::function<void()> m_readHook;

    int m_running = 0;
    std::shared_ptr<std::atomic<std::int64_t>> m_done; // bytes read by the operation under way
    std::int64_t m_total = 0;
    QElapsedTimer m_sinceStart;
    bool m_reported = false;
    QTimer* m_progressTimer = nullptr;
    std::shared_ptr<PipeSpool> m_spool; // a pipe's, shared with the growth under way
    bool m_pipeGrowing = false;
    bool m_pipeGrowAgain = false; // bytes were told of while a growth ran
    bool m_pipeEnded = false;     // its end was told
    bool m_pipeFromStart = false; // the next growth reads the spool from its start
    std::unique_ptr<SerialQueue> m_queue; // last: ends first, waiting for the operation under way
};

} // namespace tlg
