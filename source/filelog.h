#pragma once

// A log read from a file: plain text, 16-bit text, a compressed file or an archive's member.
// It is read whole at the start (a compressed file shows its first lines while its pass goes
// on), and followed: at each look of the watcher the file's stamp is sampled and a change is
// read, costing only the new bytes where the file only grew; a long text is compared with the
// file a window at a time so that a rewrite in place is found too. Every read runs in order on
// the executor; the GUI thread only asks and hears back.
//
// Lives on the GUI thread and uses Qt Core only.

#include "source/log.h"
#include "source/logoperations.h"
#include "source/onetextlog.h"
#include "source/textoperations.h"
#include "source/watchstate.h"

#include <QString>

#include <functional>
#include <memory>

namespace tlg {

class FileLog : public OneTextLog {
    Q_OBJECT

public:
    // The file at `path`, as it was named; `way` decides how the first read's failure is said.
    FileLog(QString path, OpenWay way, QObject* parent = nullptr);
    ~FileLog() override;

    LinesPtr lines() const override { return m_text.document; }
    const DocumentPtr& document() const { return m_text.document; }
    Encoding encoding() const override { return m_text.encoding; }
    UnicodeKind unicodeKind() const override { return m_text.kind; }
    EncodingChoice encodingChoice() const override { return m_encodingChoice; }
    // The Encoding menu: the choice holds for every later read; the log is read again at once
    // (detected again for Auto).
    void chooseEncoding(const EncodingChoice& choice) override;

    QString name() const override { return m_path; }
    QString displayName() const override;
    QString path() const override { return m_path; }
    std::string nativePath() const;
    std::string settingsKey() const override { return nativePath(); }
    bool isNamed(const QString& path) const override;
    // The log open before this one in its tab's window, which a Reload goes back to when this
    // one has gone.
    QString previousPath() const { return m_previousPath; }
    void setPreviousPath(const QString& path) override { m_previousPath = path; }

    LogAbilities abilities() const override;
    // Reads the file whole and detects its encoding (or takes the one chosen), converting
    // 16-bit text and text holding NULs. A file that cannot be read says why (as the way it was
    // opened asks) and opened(false) follows.
    void start() override;
    bool busy() const override { return m_operations->busy(); }
    // Refresh1Click: read again whole with the encoding detected; a log that has gone says so
    // and asks for the one open before it.
    void reload() override;
    // ApplyFormatNow: read again whole in its encoding.
    void readAgain() override;
    // Timer1Timer's look, after sampling the file's stamp: a change is read, or a long text is
    // compared with the file a window at a time.
    void look(bool notified) override;
    void setFollowing(bool on) override;
    void setNotified(bool on) override;
    void setWatched(bool on) override;


    std::optional<Saving> saving() const override;
    std::optional<SessionLog> sessionRecord(std::int64_t caretLine) const override;

    // For tests: the watcher's record, and a hook run before each read on the executor.
    WatchState& watchState() { return m_watch; }
    const WatchState& watchState() const { return m_watch; }
    void setReadHook(std::function<void()> hook) { m_operations->setReadHook(std::move(hook)); }

private:
    struct WholeRead {
        HeldText text;
        FileSample sample;
    };
    // The whole file read: the first open, or again for Reload or another encoding (the first
    // read to end well is the open).
    void readWhole();
    void finishWholeRead(const Ended<WholeRead>& ended);
    // The first lines of the log being opened, told while its pass goes on.
    void takePartial(const HeldText& text);
    // The part of a look that reads, once a difference is known.
    void readChange(bool notified);
    void compareWithFile(bool notified);
    // What a look found, said.
    void sayMissing();
    // A text read becomes the log's, with the file's values sampled before the read (none: the
    // values the look sampled).
    void takeText(HeldText text, const FileSample* sample);
    // The status text of a read, with what a compressed log adds to it.
    QString withCompressedNote(QString status) const;
    void noteUnicode();
    void watchFile();
    // Tells of a change; an empty status leaves the status bar as it is.
    void change(LogChange::Why why, QString status, bool bringForward = false);

    QString m_path;
    OpenWay m_way;
    QString m_previousPath;
    HeldText m_text;
    EncodingChoice m_encodingChoice;
    WatchState m_watch;
    bool m_textDiffers = false; // a comparison found the held text is not the file's
    bool m_opened = false;      // the first read ended well
    bool m_notified = true;     // change notices start a look ("Follow changes instantly")
    bool m_partialShown = false; // an open shows the first lines of its log
    HeldText m_textBefore;      // what a whole read that shows its first lines replaced
    LogOperations* m_operations; // last: its queue ends first
};

} // namespace tlg
