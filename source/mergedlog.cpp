#include "source/mergedlog.h"

#include "core/beside.h"
#include "document/logdocument.h"
#include "source/filelog.h"
#include "source/journallog.h"
#include "source/onetextlog.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>

namespace tlg {

struct MergedLog::Job {
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> done{0};
    std::int64_t total = 0;
    std::vector<LinesPtr> texts;
    std::vector<bool> shown;
    std::vector<std::int64_t> modified;
    MergedLinesPtr earlier; // grown from, when only the files' texts changed
    MergedLinesPtr result;
};

MergedLog::MergedLog(QStringList paths, FileLog* first, std::vector<Log*> others, QObject* parent)
    : Log(parent), m_paths(std::move(paths)), m_first(first)
{
    m_members.push_back(first);
    m_members.insert(m_members.end(), others.begin(), others.end());
    m_opened.assign(m_members.size(), false);
    m_shown.assign(m_members.size(), true);
    m_lastSaid.resize(m_members.size());
    for (std::size_t file = 0; file < m_members.size(); ++file) {
        Log* member = m_members[file];
        member->setParent(this);
        connect(member, &Log::changed, this, [this, file](const LogChange& change) { memberChanged(file, change); });
        connect(member, &Log::opened, this, [this, file](bool ok) { memberOpened(file, ok); });
        connect(member, &Log::changeNotified, this, &Log::changeNotified);
        connect(member, &Log::changeWaiting, this, &Log::changeWaiting);
    }
    connect(m_first, &Log::progress, this, &Log::progress);
    connect(m_first, &Log::openRequested, this, &Log::openRequested);
    m_progressTimer.setInterval(250);
    connect(&m_progressTimer, &QTimer::timeout, this, &MergedLog::reportProgress);
}

MergedLog::~MergedLog()
{
    if (m_job)
        m_job->stop = true;
}

LinesPtr MergedLog::lines() const
{
    return m_merged ? LinesPtr(m_merged) : LinesPtr(LogDocument::empty());
}

Encoding MergedLog::encoding() const
{
    return m_first->encoding();
}

UnicodeKind MergedLog::unicodeKind() const
{
    return m_first->unicodeKind();
}

EncodingChoice MergedLog::encodingChoice() const
{
    return m_first->encodingChoice();
}

void MergedLog::chooseEncoding(const EncodingChoice& choice)
{
    for (Log* member : m_members)
        member->chooseEncoding(choice);
}

void MergedLog::setConvertUnicode(bool on)
{
    Log::setConvertUnicode(on);
    for (Log* member : m_members)
        member->setConvertUnicode(on);
}

QString MergedLog::name() const
{
    return m_first->name();
}

QString MergedLog::displayName() const
{
    const QString name = QFileInfo(m_paths.front()).fileName();
    return m_paths.size() < 2 ? name : QStringLiteral("%1 + %2").arg(name).arg(m_paths.size() - 1);
}

QString MergedLog::path() const
{
    return m_first->path();
}

LogAbilities MergedLog::abilities() const
{
    LogAbilities can;
    can.reload = can.chooseEncoding = can.readAgain = can.follow = can.save = can.mergeWith = true;
    return can;
}

void MergedLog::start()
{
    m_first->start();
}

bool MergedLog::busy() const
{
    return m_job || std::any_of(m_members.begin(), m_members.end(), [](const Log* member) { return member->busy(); });
}

void MergedLog::reload()
{
    m_first->reload();
}

void MergedLog::readAgain()
{
    m_first->readAgain();
}

void MergedLog::look(bool notified)
{
    for (std::size_t file = 0; file < m_members.size(); ++file)
        if (m_opened[file])
            m_members[file]->look(notified);
}

void MergedLog::setFollowing(bool on)
{
    Log::setFollowing(on);
    for (Log* member : m_members)
        member->setFollowing(on);
}

void MergedLog::setNotified(bool on)
{
    for (Log* member : m_members)
        member->setNotified(on);
}

void MergedLog::setWatched(bool on)
{
    for (Log* member : m_members)
        member->setWatched(on);
}

LinesPtr MergedLog::textOf(std::size_t file) const
{
    if (!m_opened[file])
        return LogDocument::empty();
    // A journal's tail is not the journal: it joins once read whole.
    if (const auto* journal = qobject_cast<const JournalLog*>(m_members[file])) {
        const JournalLinesPtr& lines = journal->journalLines();
        return lines && !lines->partial() ? LinesPtr(lines) : LinesPtr(LogDocument::empty());
    }
    return m_members[file]->lines();
}

void MergedLog::memberChanged(std::size_t file, const LogChange& change)
{
    if (change.status && !change.status->isEmpty())
        m_lastSaid[file] = *change.status;
    if (file == 0 && m_firstOpened && (change.status || !change.alert.isEmpty())) {
        // What the first file says is said of the merge: the lines stay the merge's.
        LogChange said;
        said.status = change.status;
        said.alert = change.alert;
        said.bringForward = change.bringForward;
        emit changed(said);
    }
    if (change.why != LogChange::Why::Said)
        update();
}

void MergedLog::memberOpened(std::size_t file, bool ok)
{
    if (file == 0) {
        if (!ok) {
            LogChange failed;
            failed.status = m_lastSaid[0];
            emit changed(failed);
            emit opened(false);
            return;
        }
        m_opened[0] = true;
        m_firstOpened = true;
        // The others open now; the merge waits for every one of them to answer.
        m_waiting = m_members.size() - 1;
        LogChange opening;
        opening.why = LogChange::Why::Opened;
        opening.status = m_lastSaid[0];
        opening.bringForward = true;
        emit changed(opening);
        emit opened(true);
        for (std::size_t other = 1; other < m_members.size(); ++other)
            m_members[other]->start();
        update();
        return;
    }
    if (ok)
        m_opened[file] = true;
    else
        m_failures << (m_lastSaid[file].isEmpty() ? QStringLiteral("Cannot open file %1").arg(m_paths[static_cast<int>(file)])
                                                  : m_lastSaid[file]);
    if (m_waiting > 0 && --m_waiting == 0 && !m_failures.isEmpty()) {
        LogChange failures;
        failures.status = m_failures.join(QStringLiteral("; "));
        emit changed(failures);
    }
    update();
}

void MergedLog::setFileShown(std::size_t file, bool shown)
{
    if (file >= m_shown.size() || m_shown[file] == shown)
        return;
    m_shown[file] = shown;
    m_reshow = true;
    if (m_job)
        m_job->stop = true; // its merge is of the files shown before
    update();
}

void MergedLog::update()
{
    // The merge waits for every file to have been read.
    if (m_waiting > 0 || !m_firstOpened)
        return;
    if (m_job) {
        m_again = true;
        return;
    }
    auto job = std::make_shared<Job>();
    for (std::size_t file = 0; file < m_members.size(); ++file) {
        LinesPtr text = textOf(file);
        job->total += m_shown[file] ? text->size().value() : 0;
        job->texts.push_back(std::move(text));
        job->modified.push_back(ModifiedTimeOf(m_paths[static_cast<int>(file)]));
    }
    job->shown = m_shown;
    if (m_merged && !m_reshow) {
        bool same = true;
        for (std::size_t file = 0; file < job->texts.size(); ++file)
            same = same && job->texts[file] == m_merged->log(file).lines;
        if (same)
            return; // nothing changed
        job->earlier = m_merged;
        // A file that was empty had no form of stamps to find: now that it has lines, the
        // merge starts anew with the form they show.
        for (std::size_t file = 0; file < job->texts.size(); ++file)
            if (m_merged->log(file).form == TimeForm::None && m_merged->log(file).lines->lineCount() == 0 &&
                job->texts[file]->lineCount() > 0)
                job->earlier.reset();
    }
    if (job->earlier) {
        // Growing costs the new bytes only.
        job->total = 0;
        for (std::size_t file = 0; file < job->texts.size(); ++file)
            if (job->shown[file])
                job->total += std::max<std::int64_t>(0, job->texts[file]->size().value() -
                                                            m_merged->log(file).lines->size().value());
    }
    m_reshow = false;
    m_again = false;
    m_job = job;
    m_progressTimer.start();
    m_sinceStart.start();
    RunBeside(
        this, Executor::Priority::User,
        [job] {
            if (job->earlier) {
                job->result = job->earlier->grownTo(job->texts, &job->stop, &job->done);
                return;
            }
            std::vector<MergedLines::Log> logs;
            for (std::size_t file = 0; file < job->texts.size(); ++file) {
                MergedLines::Log log;
                log.lines = job->texts[file];
                log.form = DetectTimeForm(*log.lines);
                log.ctx = StampContext(job->modified[file]);
                logs.push_back(std::move(log));
            }
            job->result = MergedLines::build(std::move(logs), job->shown, &job->stop, &job->done);
        },
        [this, job] { finish(job); });
}

void MergedLog::finish(const std::shared_ptr<Job>& job)
{
    if (job != m_job)
        return;
    m_job.reset();
    m_progressTimer.stop();
    LogChange done;
    done.why = LogChange::Why::Said;
    if (job->result) {
        const MergedLinesPtr before = m_merged;
        m_merged = job->result;
        done.why = before && m_merged->grewFrom(*before) ? LogChange::Why::Grew : LogChange::Why::ReadAgain;
        done.followed = true;
        emit timesChanged();
    }
    // The merge's progress gives way.
    if (std::exchange(m_progressSaid, false))
        done.status = QString();
    emit changed(done);
    if (m_again || m_reshow)
        update();
}

void MergedLog::reportProgress()
{
    if (!m_job || m_job->total <= 0 || m_sinceStart.elapsed() < 500)
        return;
    const auto percent = static_cast<int>(std::min<std::int64_t>(99, m_job->done * 100 / m_job->total));
    LogChange merging;
    m_progressSaid = true;
    merging.status = QStringLiteral("Merging by time... %1%").arg(percent);
    emit changed(merging);
}

std::optional<std::int64_t> MergedLog::lastTime() const
{
    return m_merged ? m_merged->lastTime() : std::nullopt;
}

std::optional<LineNumber> MergedLog::firstLineAtOrAfter(std::int64_t time) const
{
    if (!m_merged)
        return std::nullopt;
    const LineNumber row = m_merged->firstRowAtOrAfter(time);
    return row < EndLine(m_merged->lineCount()) ? std::optional<LineNumber>(row) : std::nullopt;
}

std::optional<std::int64_t> MergedLog::timeOfLine(LineNumber line) const
{
    return m_merged ? m_merged->timeOfRow(line) : std::nullopt;
}

void MergedLog::chooseTimeForm(std::optional<TimeForm> form)
{
    if (form == m_timeChoice)
        return;
    m_timeChoice = form;
    emit timesChanged();
}

LogTimeline MergedLog::timeline() const
{
    // Each file is counted in its own form; a choice of no times turns them off.
    LogTimeline timeline;
    if (m_timeChoice != TimeForm::None)
        timeline.lines = m_merged;
    return timeline;
}

std::optional<Log::Saving> MergedLog::saving() const
{
    if (!m_merged)
        return std::nullopt;
    Saving saving;
    saving.text = m_merged;
    const QFileInfo first(m_paths.front());
    saving.suggestedFolder = first.absolutePath();
    saving.suggestedName = first.completeBaseName() + QStringLiteral("-merged.log");
    return saving;
}

std::optional<SessionLog> MergedLog::sessionRecord(std::int64_t caretLine) const
{
    std::optional<SessionLog> record = m_first->sessionRecord(caretLine);
    if (!record)
        return std::nullopt;
    record->followed = following();
    for (const QString& other : m_paths.mid(1))
        record->mergedWith.push_back(QFile::encodeName(other).toStdString());
    return record;
}

} // namespace tlg
