#pragma once

// One open log, whatever its kind (a file, plain, compressed or an archive's member; a pipe;
// several files merged by time; the systemd journal). A kind is one implementation of this
// interface: it owns the log's reading, following and operations, which run in order on the
// executor, and tells of every change with one notice (changed) carrying the new lines, why
// they changed and what the status bar says of it. The window, its tabs and the session talk
// to a log through this interface only: what a window offers for a log (a reload, an encoding,
// the fields panel, the files' legend) it asks the log whether it can do, never which kind it
// is.
//
// Lives on the GUI thread and uses Qt Core only.

#include "document/encoding.h"
#include "document/linesource.h"
#include "document/timestamps.h"
#include "document/timeindex.h"
#include "document/unicode.h"
#include "source/session.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tlg {

class LogFields;

// How a log came to be opened, which decides how a failure is said.
enum class OpenWay {
    Chosen,   // File > Open File, a drop, the command line: a failure in the error box
    Listed,   // the file list or Recent Logs: a failure in the status bar
    Restored, // the last session: a failure in the status bar
};

// A line of the lines shown before a change, to the line of the new lines that shows it (or
// the next one after it).
using LineMapping = std::function<LineNumber(LineNumber)>;

// One change notice.
struct LogChange {
    enum class Why {
        Opened,    // a log was opened (or its first lines are in sight while it opens): shown anew
        Grew,      // the lines grew from those shown: what is in sight stays
        ReadAgain, // the same log read again whole (by hand, in another encoding, or a rewrite a
                   // look found): the reader stays on the same line, through `mapping` when given
        Said,      // the lines are as they were; only the status text changes
    };
    Why why = Why::Said;
    // What the first status panel says of it (nothing leaves it as it is; "" clears it).
    std::optional<QString> status;
    // What the error box says of it too ("": no box).
    QString alert;
    // The window comes forward when the program is the active one (a chosen log opened, a
    // followed log that changed).
    bool bringForward = false;
    // Apply Now read it again, to be coloured with the labels as they are now.
    bool applied = false;
    // With ReadAgain: where the lines shown before went (none: the same line numbers).
    LineMapping mapping;
    // A followed log's new text (a look found it, a pipe or a journal gave it, a member of a
    // merge grew): "Goto Bottom" takes the reader to its end.
    bool followed = false;
    // The reader on the last line stays on the last line (a journal's new entries).
    bool keepAtEnd = false;
    // With Opened: the reader starts at the end rather than the start.
    bool toEnd = false;
};

// Where a time lookup finds the log's times, for the histogram: the lines, the form of their
// stamps and the context that completes a stamp (a source made of several logs has each
// log's own form through LineSource's parts, and `form` is None then).
struct LogTimeline {
    LinesPtr lines;
    TimeForm form = TimeForm::None;
    StampContext context;
    TimeIndexPtr index; // the sparse index over `lines`, for closer looks; may be null
};

// What a log can be asked to do beyond being shown.
struct LogAbilities {
    bool reload = false;         // read again whole by hand (Reload)
    bool chooseEncoding = false; // read in another encoding (the Encoding menu)
    bool readAgain = false;      // read again whole for Apply Now
    bool follow = false;         // a follow switch (Auto refresh)
    bool save = false;           // Save As writes what it gave
    bool mergeWith = false;      // "Merge with..." takes its files
};

class Log : public QObject {
    Q_OBJECT

public:
    explicit Log(QObject* parent = nullptr) : QObject(parent) {}
    ~Log() override = default;

    // The newest lines (an empty source before the first read).
    virtual LinesPtr lines() const = 0;
    // How the lines hold their characters, and how the log's bytes had to be read.
    virtual Encoding encoding() const = 0;
    virtual UnicodeKind unicodeKind() const { return UnicodeKind::SingleByte; }
    // What the Encoding menu chose for it, held for every later read; chosen before start(),
    // the first read takes it.
    virtual EncodingChoice encodingChoice() const { return {}; }
    virtual void chooseEncoding(const EncodingChoice& /*choice*/) {}
    // "View Unicode": 16-bit text is decoded at every read while on. A log found to be 16-bit
    // turns it on by itself.
    virtual void setConvertUnicode(bool on) { m_convertUnicode = on; }
    bool convertUnicode() const { return m_convertUnicode; }

    // The log's name as the title and the tab say it: its path, "standard input", the
    // journal's name.
    virtual QString name() const = 0;
    // The tab's label: the file's name, or the first file's with how many others ("a.log + 2").
    virtual QString displayName() const = 0;
    // The local file the log reads, as it was named ("" when none: a pipe, the machine's
    // journal). A merged log's first file.
    virtual QString path() const { return {}; }
    // Its files, for the tab's tooltip and the files' legend: one for a file, each for a merge.
    virtual QStringList files() const { return path().isEmpty() ? QStringList() : QStringList{path()}; }
    // The name the log's own settings (filter stack, marks) are kept under; "" keeps none.
    virtual std::string settingsKey() const { return {}; }
    // Whether this log is the one named `path` (a file or journal folder opened again comes to
    // the front rather than opening twice).
    virtual bool isNamed(const QString& /*path*/) const { return false; }
    // The log open before this one in the window, which a Reload goes back to when this one's
    // file has gone.
    virtual void setPreviousPath(const QString& /*path*/) {}
    // Whether this log shows the same thing as `other` would (the same journal asked again).
    virtual bool sameAs(const Log& /*other*/) const { return false; }

    virtual LogAbilities abilities() const = 0;
    // Starts reading: opened() follows once the first read ended.
    virtual void start() = 0;
    // An operation runs or waits.
    virtual bool busy() const = 0;
    // Reload: the log read again whole, its encoding detected again.
    virtual void reload() {}
    // Apply Now: the log read again whole in its encoding, to be coloured anew.
    virtual void readAgain() {}
    // The watcher's look at the log: a change found is read (notified: after a change notice,
    // comparing nothing).
    virtual void look(bool /*notified*/) {}
    // Auto refresh: a change found is read, rather than waiting for a reload.
    virtual void setFollowing(bool on) { m_following = on; }
    bool following() const { return m_following; }
    // Change notices of the system start a look at once ("Follow changes instantly").
    virtual void setNotified(bool /*on*/) {}
    // The watcher stays away while the open dialog is up.
    virtual void setWatched(bool /*on*/) {}

    // Times of its lines: the last, the first line at or after a time, the time a line
    // carries; nothing while they are read or without stamps.
    virtual std::optional<std::int64_t> lastTime() const = 0;
    virtual std::optional<LineNumber> firstLineAtOrAfter(std::int64_t time) const = 0;
    virtual std::optional<std::int64_t> timeOfLine(LineNumber line) const = 0;
    virtual bool readingTimes() const = 0;
    // View > "Time Format": found from the first lines (nothing), one held, or None.
    virtual void chooseTimeForm(std::optional<TimeForm> form) = 0;
    virtual std::optional<TimeForm> timeFormChoice() const = 0;
    virtual LogTimeline timeline() const = 0;

    // The lines of its files shown or left out (the files' legend); a log of one file has one.
    virtual void setFileShown(std::size_t /*file*/, bool /*shown*/) {}
    // Its fields, where its lines are entries with fields (null: none).
    virtual LogFields* fields() { return nullptr; }
    // What Save As writes, and the name it offers.
    struct Saving {
        LinesPtr text;                                 // the text as shown, or
        std::function<void(const std::string& path, std::atomic<std::int64_t>* done,
                           const std::atomic<bool>* stop)>
            bytes;                                     // the bytes as they came
        std::int64_t size = 0;                         // of `bytes`
        QString suggestedFolder;
        QString suggestedName;
    };
    virtual std::optional<Saving> saving() const { return std::nullopt; }
    // The record the session keeps of it (none: not kept), with the caret's line given.
    virtual std::optional<SessionLog> sessionRecord(std::int64_t /*caretLine*/) const { return std::nullopt; }

signals:
    // The one change notice.
    void changed(const tlg::LogChange& change);
    // The first read ended: `ok`, or it failed (said by a changed() just before) and the log
    // shows nothing of its own.
    void opened(bool ok);
    // Percent of a long read done, from half a second on; -1 once it ended.
    void progress(int percent);
    // A change waits to be read (the reload button's warning).
    void changeWaiting(bool waiting);
    // The times of the lines changed (read, grown, another form).
    void timesChanged();
    // The log's file or folder changed (a look soon costs little and finds it).
    void changeNotified();
    // The log asks that another be opened (a Reload of a log that has gone goes back to the
    // one open before it).
    void openRequested(const QString& path);

protected:
    bool m_following = true;
    bool m_convertUnicode = false;
};

} // namespace tlg
