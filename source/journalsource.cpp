#include "source/journalsource.h"

#include "core/errors.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

namespace tlg {

namespace {

// How often a followed journal is looked at besides its descriptor's notices: sd-journal
// cannot be told of every change (files on network file systems).
constexpr int kPollMilliseconds = 1000;

} // namespace

JournalSource::JournalSource(QObject* parent) : QObject(parent)
{
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.setObjectName(QStringLiteral("journal"));
    m_thread.start();
}

JournalSource::~JournalSource()
{
    if (m_stop)
        m_stop->store(true);
    ++m_generation;
    QMetaObject::invokeMethod(m_context, [this] { stopFollowing(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void JournalSource::open(const JournalQuery& query)
{
    if (m_stop)
        m_stop->store(true);
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_query = query;
    m_busy = true;
    const int generation = ++m_generation;
    QMetaObject::invokeMethod(
        m_context, [this, query, generation, stop = m_stop] { read(query, generation, stop); }, Qt::QueuedConnection);
}

void JournalSource::setFollowing(bool on)
{
    m_following = on;
    m_followOn = on;
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        m_context,
        [this, generation, on] {
            if (m_notifier)
                m_notifier->setEnabled(on);
            readNewEntries(generation);
        },
        Qt::QueuedConnection);
}

bool JournalSource::hidesEntries() const
{
    return m_query.where == JournalQuery::Where::Local && !SeesWholeLocalJournal();
}

QString JournalSource::title() const
{
    if (m_query.where == JournalQuery::Where::Local)
        return tr("System journal");
    return m_query.paths.empty() ? tr("Journal") : QString::fromStdString(m_query.paths.front());
}

void JournalSource::read(const JournalQuery& query, int generation, std::shared_ptr<std::atomic<bool>> stop)
{
    stopFollowing();
    if (generation != m_generation)
        return;
    try {
        // The last screen first, then the whole journal.
        const JournalLinesPtr tail = JournalLines::tail(query, kTailEntries);
        show(tail, generation, false, false);
        tail->releaseReader(); // here rather than on the way to the screen

        const JournalLinesPtr whole = JournalLines::build(query, stop.get(), [this, generation](int percent) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, percent] {
                    if (generation == m_generation)
                        emit progress(percent);
                },
                Qt::QueuedConnection);
        });
        if (!whole)
            return;
        show(whole, generation, false, true);
        follow(whole, generation);
    } catch (const std::exception& failure) {
        const QString text = QString::fromUtf8(failure.what());
        QMetaObject::invokeMethod(
            this,
            [this, generation, text] {
                if (generation != m_generation)
                    return;
                m_busy = false;
                emit progress(-1);
                emit failed(text);
            },
            Qt::QueuedConnection);
    }
}

void JournalSource::show(JournalLinesPtr lines, int generation, bool grew, bool done)
{
    QMetaObject::invokeMethod(
        this,
        [this, lines = std::move(lines), generation, grew, done] {
            if (generation != m_generation)
                return;
            m_lines = lines;
            if (done) {
                m_busy = false;
                emit progress(-1);
            }
            emit documentChanged(grew);
        },
        Qt::QueuedConnection);
}

void JournalSource::follow(const JournalLinesPtr& lines, int generation)
{
    m_followed = lines;
    const int descriptor = lines->changeDescriptor();
    if (descriptor >= 0) {
        m_notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, m_context);
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_context,
                         [this, generation] { readNewEntries(generation); });
    }
    m_poll = new QTimer(m_context);
    QObject::connect(m_poll, &QTimer::timeout, m_context, [this, generation] { readNewEntries(generation); });
    m_poll->start(kPollMilliseconds);
}

void JournalSource::readNewEntries(int generation)
{
    if (!m_followed || generation != m_generation)
        return;
    if (!m_followOn) {
        // Not following: the descriptor is not watched, and new entries wait in the journal
        // until following is on again.
        if (m_notifier)
            m_notifier->setEnabled(false);
        return;
    }
    try {
        if (JournalLinesPtr grown = m_followed->grown()) {
            m_followed = grown;
            show(std::move(grown), generation, true, false);
        }
    } catch (const std::exception&) {
        // A journal that went away mid-read: what was read stays shown.
    }
}

void JournalSource::stopFollowing()
{
    delete m_notifier;
    m_notifier = nullptr;
    delete m_poll;
    m_poll = nullptr;
    m_followed.reset();
}

} // namespace tlg
