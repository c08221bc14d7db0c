#include "source/filelog.h"

#include "core/fields.h"
#include "core/fileops.h"
#include "core/timetext.h"
#include "document/compressedtext.h"
#include "source/sharedfilewatcher.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace tlg {

FileLog::FileLog(QString path, OpenWay way, QObject* parent)
    : OneTextLog(parent), m_path(std::move(path)), m_way(way),
      m_operations(new LogOperations(this))
{
    m_text.document = LogDocument::empty();
    connect(m_operations, &LogOperations::progress, this, &Log::progress);
}

FileLog::~FileLog()
{
    // The read under way stops at its next chunk, and nothing of it arrives.
    delete m_operations;
    m_operations = nullptr;
    SharedFileWatcher::instance().unwatch(this);
}

std::string FileLog::nativePath() const
{
    return QFile::encodeName(m_path).toStdString();
}

QString FileLog::displayName() const
{
    return QFileInfo(m_path).fileName();
}

bool FileLog::isNamed(const QString& path) const
{
    return !path.isEmpty() && QFileInfo(path).absoluteFilePath() == QFileInfo(m_path).absoluteFilePath();
}

LogAbilities FileLog::abilities() const
{
    LogAbilities can;
    can.reload = can.chooseEncoding = can.readAgain = can.follow = can.save = can.mergeWith = true;
    return can;
}

void FileLog::change(LogChange::Why why, QString status, bool bringForward)
{
    LogChange change;
    change.why = why;
    if (!status.isEmpty())
        change.status = std::move(status);
    change.bringForward = bringForward;
    emit changed(change);
}

// --- Whole reads ------------------------------------------------------------------------------

void FileLog::start()
{
    readWhole();
}

void FileLog::reload()
{
    if (AgeStamp(nativePath()) == -1) {
        change(LogChange::Why::Said, QStringLiteral("File Could not be located"));
        // Back to the log that was open before the last file-list pick, opened under its own
        // name: the title, the path and the text always belong to one file.
        const std::string previous = QFile::encodeName(m_previousPath).toStdString();
        if (trimBlanks(previous).size() > 1 && m_previousPath != m_path && AgeStamp(previous) != -1)
            emit openRequested(m_previousPath);
        return;
    }
    readWhole();
}

void FileLog::chooseEncoding(const EncodingChoice& choice)
{
    m_encodingChoice = choice;
    // Read again in the encoding chosen (or detected again, for Auto), once a read under way
    // has ended.
    if (m_opened && AgeStamp(nativePath()) != -1)
        readWhole();
}

void FileLog::readWhole()
{
    const std::string native = nativePath();
    const EncodingChoice choice = m_encodingChoice;
    // Told on the executor, taken here in order, before the read's end; nothing arrives once
    // the log is gone.
    auto partial = [this](const HeldText& text) {
        QMetaObject::invokeMethod(this, [this, text] { takePartial(text); }, Qt::QueuedConnection);
    };
    m_operations->run<WholeRead>(
        "open", Executor::Priority::User, FileSizeOf(native),
        [native, choice, partial](std::atomic<std::int64_t>& bytes, const std::atomic<bool>* stop) {
            // Sampled before the read, so that a write landing during it is read at the next look.
            WholeRead read;
            read.sample = SampleOf(native);
            read.text = OpenText(native, choice, bytes, stop, partial);
            return read;
        },
        [this](const Ended<WholeRead>& ended) { finishWholeRead(ended); });
}

void FileLog::takePartial(const HeldText& text)
{
    const bool first = !m_partialShown;
    if (first) {
        m_partialShown = true;
        m_textBefore = m_text;
    }
    m_text = text;
    timeText(m_text.document, ModifiedTimeOf(m_path));
    noteUnicode();
    change(first && !m_opened ? LogChange::Why::Opened : LogChange::Why::Grew, {});
}

void FileLog::finishWholeRead(const Ended<WholeRead>& ended)
{
    const bool partial = std::exchange(m_partialShown, false);
    HeldText before = std::exchange(m_textBefore, HeldText{});
    if (ended.superseded) {
        if (partial) {
            m_text = std::move(before); // the read that replaced it shows it again
            change(LogChange::Why::Opened, {});
        }
        return; // the read that took its place answers for both
    }
    const bool first = !m_opened;
    if (!ended.result) {
        if (partial) {
            // The log in sight stays the one that was.
            m_text = std::move(before);
            timeText(m_text.document, ModifiedTimeOf(m_path));
            change(m_opened ? LogChange::Why::ReadAgain : LogChange::Why::Opened, {});
        }
        if (!first) {
            change(LogChange::Why::Said, QStringLiteral("File is Locked, try Again"));
            return;
        }
        LogChange failed;
        if (m_way == OpenWay::Chosen) {
            failed.status = ended.failure;
            failed.alert = ended.failure;
        } else {
            // A lock is said as ever; any other reason as the system gives it.
            failed.status = IsFileLocked(nativePath()) || ended.failure.isEmpty()
                                ? QStringLiteral("File is Locked, try Again")
                                : ended.failure;
        }
        emit changed(failed);
        emit opened(false);
        return;
    }
    const bool grew = partial && ended.result->text.document->grewFrom(*m_text.document);
    takeText(std::move(ended.result->text), &ended.result->sample);
    noteUnicode();
    if (first) {
        m_opened = true;
        // A new file is shown: the watcher's record starts again, keeping what was sampled
        // just before the read, so that a write that landed during it is read at the next look.
        const std::int32_t storedAge = m_watch.StoredAge;
        ResetForNewFile(m_watch);
        m_watch.StoredAge = storedAge;
        m_watch.FileOpen = true;
        const QString status =
            m_way == OpenWay::Chosen ? QString() : QStringLiteral("File Loaded ") + longTimeText();
        change(grew ? LogChange::Why::Grew : LogChange::Why::Opened, withCompressedNote(status),
               m_way == OpenWay::Chosen);
        watchFile();
        emit opened(true);
        return;
    }
    emit changeWaiting(false);
    change(grew ? LogChange::Why::Grew : LogChange::Why::ReadAgain,
           withCompressedNote(QStringLiteral("File Loaded ") + longTimeText()));
}

void FileLog::readAgain()
{
    const std::string native = nativePath();
    if (AgeStamp(native) == -1)
        return;
    const HeldText held = m_text;
    const bool convert = m_convertUnicode;
    m_operations->run<WholeRead>(
        "open", Executor::Priority::User, FileSizeOf(native),
        [native, held, convert](std::atomic<std::int64_t>& bytes, const std::atomic<bool>* stop) {
            WholeRead read;
            read.sample = SampleOf(native);
            read.text = ReadAgain(native, held, convert, bytes, stop);
            return read;
        },
        [this](const Ended<WholeRead>& ended) {
            if (ended.superseded)
                return;
            if (!ended.result) {
                LogChange failed;
                failed.alert = ended.failure;
                emit changed(failed);
                return;
            }
            takeText(std::move(ended.result->text), &ended.result->sample);
            LogChange applied;
            applied.why = LogChange::Why::ReadAgain;
            applied.status = withCompressedNote(QStringLiteral("Last Update :") + dateTimeText());
            applied.applied = true;
            emit changed(applied);
        });
}

// --- Following ----------------------------------------------------------------------------

void FileLog::setFollowing(bool on)
{
    Log::setFollowing(on);
    m_watch.AutoRefresh = on;
}

void FileLog::setNotified(bool on)
{
    if (m_notified == on)
        return;
    m_notified = on;
    watchFile();
}

void FileLog::setWatched(bool on)
{
    m_watch.FileOpen = on && m_opened;
}

void FileLog::watchFile()
{
    QStringList wanted;
    if (m_notified && m_watch.FileOpen && !m_path.isEmpty()) {
        // The folder too: a log that is rotated or made anew is seen as soon as it is back.
        const QFileInfo file(m_path);
        wanted << file.absolutePath();
        if (file.exists())
            wanted << file.absoluteFilePath();
    }
    // An empty list lets go.
    SharedFileWatcher::instance().watch(this, wanted, [this] { emit changeNotified(); });
}

void FileLog::look(bool notified)
{
    if (!m_watch.FileOpen || busy())
        return;
    try {
        watchFile(); // a rotated log is watched again once it is back
        SampleFile(m_watch, nativePath());
        if (m_partialShown)
            return; // the open under way reads it all
        if (ChangeSeen(m_watch)) {
            readChange(notified);
            return;
        }
        // A text read from its file when shown may have found the file changed under it: it is
        // read again at once.
        if (m_watch.AutoRefresh && m_text.document && m_text.document->stale()) {
            m_textDiffers = true;
            readChange(notified);
            return;
        }
        compareWithFile(notified);
    } catch (const std::exception&) {
        change(LogChange::Why::Said, QStringLiteral("File Locked, will retry"));
    }
}

void FileLog::compareWithFile(bool notified)
{
    // A long text is compared with the file a window at a time, on quiet looks too, until all
    // of it has been compared since it last changed.
    const std::string native = nativePath();
    if (m_text.check.unchecked <= 0 || notified || !m_watch.AutoRefresh || m_text.kind != UnicodeKind::SingleByte ||
        AgeStamp(native) == -1 || IsFileLocked(native))
        return;
    const DocumentPtr held = m_text.document;
    struct Compared {
        bool same;
        TextCheck check;
    };
    m_operations->run<Compared>(
        "verify", Executor::Priority::Background, 0,
        [native, held, check = m_text.check](std::atomic<std::int64_t>&, const std::atomic<bool>*) {
            Compared compared{true, check};
            compared.same = TextStillInFile(native, *held, compared.check);
            return compared;
        },
        [this, held, notified](const Ended<Compared>& ended) {
            if (!ended.result || held != m_text.document)
                return; // compared again at the next look
            m_text.check = ended.result->check;
            if (ended.result->same)
                return;
            m_textDiffers = true;
            readChange(notified);
        });
}

void FileLog::sayMissing()
{
    // Said at every look until it is back; a log replaced by a folder says so.
    change(LogChange::Why::Said, QFileInfo(m_path).isDir()
                                     ? QStringLiteral("Cannot open file %1: it is a folder").arg(m_path)
                                     : QStringLiteral("File Could not be located"));
}

void FileLog::readChange(bool notified)
{
    emit changeWaiting(true);
    if (!m_watch.AutoRefresh)
        return;
    const std::string native = nativePath();
    if (AgeStamp(native) == -1) {
        // Gone (deleted, or moved away and not yet back).
        sayMissing();
        return;
    }
    if (IsFileLocked(native)) {
        // The next look sees the same difference and tries again.
        change(LogChange::Why::Said, QStringLiteral("File is Locked :") + dateTimeText());
        return;
    }
    emit changeWaiting(false);
    const HeldText held = m_text;
    const bool differs = m_textDiffers;
    const bool compare = !notified || differs;
    const bool convert = m_convertUnicode;
    struct Read {
        HeldText text;
        bool whole = false;
    };
    // Counted in the file's bytes: a compressed file's (whose text is larger) are all counted,
    // as one may be decoded again whole.
    const std::int64_t fileSize = FileSizeOf(native);
    const std::int64_t total =
        held.document->compressed() ? fileSize : fileSize - std::min(held.document->fileBytes(), fileSize);
    m_operations->run<Read>(
        "follow", Executor::Priority::User, total,
        [native, held, convert, compare, differs](std::atomic<std::int64_t>& bytes, const std::atomic<bool>* stop) {
            Read read;
            read.text = FollowText(native, held, convert, compare, differs, read.whole, bytes, stop);
            return read;
        },
        [this](const Ended<Read>& ended) {
            if (ended.superseded)
                return;
            if (!ended.result) {
                emit changeWaiting(true);
                change(LogChange::Why::Said, QStringLiteral("File Locked, will retry"));
                return;
            }
            takeText(std::move(ended.result->text), nullptr);
            LogChange read;
            read.why = ended.result->whole ? LogChange::Why::ReadAgain : LogChange::Why::Grew;
            read.status = withCompressedNote(QStringLiteral("Last Update :") + dateTimeText());
            read.bringForward = true;
            read.followed = true;
            emit changed(read);
        });
}

// --- Small parts ----------------------------------------------------------------------------

void FileLog::takeText(HeldText text, const FileSample* sample)
{
    m_text = std::move(text);
    m_textDiffers = false;
    if (sample) {
        m_watch.StoredAge = sample->age;
        m_watch.StoredSize = sample->size;
        m_watch.StoredStamp = sample->stamp;
    } else {
        StoreSampled(m_watch);
    }
    timeText(m_text.document, ModifiedTimeOf(m_path));
}

QString FileLog::withCompressedNote(QString status) const
{
    const std::shared_ptr<const CompressedText> compressed = m_text.document ? m_text.document->compressed() : nullptr;
    if (!compressed)
        return status;
    if (compressed->damaged())
        return QStringLiteral("Compressed data damaged after line %1").arg(m_text.document->lineCount().value());
    if (compressed->spooled())
        return status + QStringLiteral(" (decompressed into a spool file)");
    return status;
}

void FileLog::noteUnicode()
{
    // A 16-bit log turns "View Unicode" on, so that its later reads decode it too.
    if (m_text.kind != UnicodeKind::SingleByte)
        m_convertUnicode = true;
}

std::optional<Log::Saving> FileLog::saving() const
{
    Saving saving;
    saving.text = m_text.document;
    const QFileInfo shown(m_path);
    saving.suggestedFolder = shown.absolutePath();
    saving.suggestedName = shown.fileName();
    return saving;
}

std::optional<SessionLog> FileLog::sessionRecord(std::int64_t caretLine) const
{
    if (m_path.isEmpty())
        return std::nullopt;
    SessionLog record;
    record.path = nativePath();
    record.caretLine = caretLine;
    record.followed = following();
    record.encoding = m_encodingChoice;
    return record;
}

} // namespace tlg
