#include "source/mergedsource.h"

#include "document/logdocument.h"
#include "source/journalsource.h"
#include "source/logsource.h"
#include "source/watchstate.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace tlg {

namespace {

// The time that gives the year to a syslog stamp of a file: its modification time.
std::int64_t ModifiedOf(const QString& path)
{
    const QDateTime modified = QFileInfo(path).lastModified();
    return (modified.isValid() ? modified.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch()) * 1000000;
}

// Looks are coalesced so that a burst of writes costs one read of each file.
constexpr int kNotifiedLookGapMs = 100;

} // namespace

struct MergedSource::Job {
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> done{0};
    std::int64_t total = 0;
    std::vector<LinesPtr> texts;
    std::vector<bool> shown;
    std::vector<std::int64_t> modified;
    MergedLinesPtr earlier; // grown from, when only the files' texts changed
    MergedLinesPtr result;
};

MergedSource::MergedSource(LogSource* first, QStringList paths, QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_first(first)
{
    m_pool.setMaxThreadCount(1);
    m_shown.assign(static_cast<std::size_t>(m_paths.size()), true);
    m_opened.assign(static_cast<std::size_t>(m_paths.size()), false);
    m_opened[0] = true;
    connect(m_first, &LogSource::documentChanged, this, [this] {
        m_firstRead = true;
        update();
    });
    for (int i = 1; i < m_paths.size(); ++i) {
        // A journal is known by its bytes, as Open knows it.
        if (std::optional<JournalQuery> journal = JournalAt(QFile::encodeName(m_paths[i]).toStdString())) {
            m_others.push_back({nullptr, new JournalSource(this), std::move(*journal)});
            continue;
        }
        auto* source = new LogSource(this);
        source->setEncodingChoice(m_first->encodingChoice());
        connect(source, &LogSource::documentChanged, this, [this] { update(); });
        connect(source, &LogSource::changeNotified, this, &MergedSource::changeNotified);
        m_others.push_back({source, nullptr, {}});
    }
    m_progressTimer.setInterval(250);
    connect(&m_progressTimer, &QTimer::timeout, this, &MergedSource::reportProgress);
    m_notifiedLook.setSingleShot(true);
    connect(&m_notifiedLook, &QTimer::timeout, this, [this] {
        m_sinceNotifiedLook.start();
        follow(m_convert, true);
    });
}

MergedSource::~MergedSource()
{
    if (m_job)
        m_job->stop = true;
}

LinesPtr MergedSource::textOf(std::size_t file) const
{
    if (file == 0)
        return m_first->document();
    const Member& member = m_others[file - 1];
    if (member.log)
        return member.log->document();
    // A journal's tail is not the journal: it joins once read whole.
    const JournalLinesPtr& lines = member.journal->lines();
    if (!m_opened[file] || !lines || lines->partial())
        return LogDocument::empty();
    return lines;
}

void MergedSource::open(std::function<void(const QStringList& failures)> done)
{
    m_failures.clear();
    m_done = std::move(done);
    m_waiting = m_others.size() + 1; // until every open was asked
    for (std::size_t file = 1; file < static_cast<std::size_t>(m_paths.size()); ++file) {
        if (m_others[file - 1].journal) {
            openJournal(file, [this](const QString& failure) { answered(failure); });
            continue;
        }
        LogSource* source = m_others[file - 1].log;
        source->open(m_paths[static_cast<int>(file)], [this, source, file](const LogSource::Outcome& outcome) {
            if (outcome.ok()) {
                m_opened[file] = true;
                WatchState& watch = source->watchState();
                const WatchState read = watch;
                ResetForNewFile(watch);
                watch.StoredAge = read.StoredAge;
                watch.FileOpen = true;
                source->watchFile(true);
            }
            answered(outcome.ok() ? QString() : outcome.message);
        });
    }
    answered({});
}

void MergedSource::answered(const QString& failure)
{
    if (!failure.isEmpty())
        m_failures.push_back(failure);
    if (m_waiting == 0 || --m_waiting > 0)
        return;
    update();
    if (m_done)
        std::exchange(m_done, nullptr)(m_failures);
}

void MergedSource::openJournal(std::size_t file, std::function<void(const QString& failure)> answered)
{
    JournalSource* journal = m_others[file - 1].journal;
    // Answered once: when the whole journal is read (its tail comes first), or when it fails.
    auto pending = std::make_shared<std::function<void(const QString&)>>(std::move(answered));
    connect(journal, &JournalSource::documentChanged, this, [this, journal, file, pending] {
        const JournalLinesPtr& lines = journal->lines();
        if (!lines || lines->partial())
            return;
        if (*pending) {
            m_opened[file] = true;
            std::exchange(*pending, nullptr)(QString());
            return;
        }
        update(); // new entries
    });
    connect(journal, &JournalSource::failed, this, [pending](const QString& text) {
        if (*pending)
            std::exchange(*pending, nullptr)(text);
    });
    journal->open(m_others[file - 1].query);
}

void MergedSource::setShown(std::size_t file, bool shown)
{
    if (file >= m_shown.size() || m_shown[file] == shown)
        return;
    m_shown[file] = shown;
    m_reshow = true;
    if (m_job)
        m_job->stop = true; // its merge is of the files shown before
    update();
}

void MergedSource::follow(bool convert, bool notified)
{
    m_convert = convert;
    for (std::size_t file = 1; file < static_cast<std::size_t>(m_paths.size()); ++file) {
        LogSource* source = m_others[file - 1].log;
        if (!source || !m_opened[file] || source->busy())
            continue;
        SampleFile(source->watchState(), source->nativePath());
        source->follow(notified, convert, [](const LogSource::Outcome&) {});
    }
}

void MergedSource::setFollowing(bool on)
{
    for (const Member& member : m_others)
        if (member.journal && member.journal->following() != on)
            member.journal->setFollowing(on);
}

void MergedSource::changeNotified()
{
    // A look at once, but no sooner than the gap after the last one.
    if (m_notifiedLook.isActive())
        return;
    const qint64 since = m_sinceNotifiedLook.isValid() ? m_sinceNotifiedLook.elapsed() : kNotifiedLookGapMs;
    m_notifiedLook.start(static_cast<int>(std::max<qint64>(0, kNotifiedLookGapMs - since)));
}

void MergedSource::update()
{
    // The merge waits for every file to have been read.
    if (m_waiting > 0 || !m_firstRead)
        return;
    if (m_job) {
        m_again = true;
        return;
    }
    auto job = std::make_shared<Job>();
    for (std::size_t file = 0; file < static_cast<std::size_t>(m_paths.size()); ++file) {
        LinesPtr text = textOf(file);
        job->total += m_shown[file] ? text->size().value() : 0;
        job->texts.push_back(std::move(text));
        job->modified.push_back(ModifiedOf(m_paths[static_cast<int>(file)]));
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
    QPointer<MergedSource> self(this);
    m_pool.start([self, job] {
        if (job->earlier) {
            job->result = job->earlier->grownTo(job->texts, &job->stop, &job->done);
        } else {
            std::vector<MergedLines::Log> logs;
            for (std::size_t file = 0; file < job->texts.size(); ++file) {
                MergedLines::Log log;
                log.lines = job->texts[file];
                log.form = DetectTimeForm(*log.lines);
                log.ctx = StampContext(job->modified[file]);
                logs.push_back(std::move(log));
            }
            job->result = MergedLines::build(std::move(logs), job->shown, &job->stop, &job->done);
        }
        QMetaObject::invokeMethod(
            self, [self, job] { if (self) self->finish(job); }, Qt::QueuedConnection);
    });
}

void MergedSource::finish(const std::shared_ptr<Job>& job)
{
    if (job != m_job)
        return;
    m_job.reset();
    m_progressTimer.stop();
    emit progress(-1);
    if (job->result) {
        m_merged = job->result;
        emit mergedChanged();
    }
    if (m_again || m_reshow)
        update();
}

void MergedSource::reportProgress()
{
    if (!m_job || m_job->total <= 0 || m_sinceStart.elapsed() < 500)
        return;
    const auto percent = static_cast<int>(std::min<std::int64_t>(99, m_job->done * 100 / m_job->total));
    emit progress(percent);
}

} // namespace tlg
