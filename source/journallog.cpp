#include "source/journallog.h"

#include "core/executor.h"

#include <QDateTime>
#include <QFileInfo>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <numeric>

namespace tlg {

namespace {

// How often a followed journal is looked at besides its descriptor's notices: sd-journal
// cannot be told of every change (files on network file systems).
constexpr int kPollMilliseconds = 1000;

constexpr std::size_t kPriorityField = 2; // PRIORITY in kListedFields
constexpr std::size_t kBootField = 3;     // _BOOT_ID in kListedFields

QString PriorityLabel(const std::string& value)
{
    const QString text = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    const int priority = ParsePriority(value);
    return priority < 0 ? text : text + QLatin1Char(' ') + QString::fromLatin1(PriorityName(priority).data());
}

// A boot as people say it, counted from "this boot" (`from` boots later, or earlier when
// negative), with the local date and time of its first entry.
QString BootLabel(long from, std::uint64_t firstTime)
{
    QString name;
    if (from == 0)
        name = JournalLog::tr("this boot");
    else if (from == -1)
        name = JournalLog::tr("the one before");
    else if (from < -1)
        name = JournalLog::tr("%1 boots before").arg(-from);
    else if (from == 1)
        name = JournalLog::tr("the one after");
    else
        name = JournalLog::tr("%1 boots after").arg(from);
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(firstTime / 1000)).toLocalTime();
    return name + QStringLiteral(" (") + first.toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QLatin1Char(')');
}

} // namespace

// One open of the journal, read on a thread of its own; the GUI thread hears of it through
// the log, which outlives every reading (it waits for them as it goes).
struct JournalLog::Reading {
    JournalLog* log = nullptr;
    JournalQuery query;
    int generation = 0;
    std::atomic<bool> following{true};
    std::atomic<std::int64_t> looks{0}; // waits for new entries ended
    int wake = -1; // an eventfd that ends the wait for new entries

    ~Reading()
    {
        if (wake >= 0)
            ::close(wake);
    }
    void wakeUp() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    }
    void post(JournalLinesPtr lines, bool grew, bool whole) const
    {
        JournalLog* target = log;
        const int open = generation;
        QMetaObject::invokeMethod(
            target, [target, lines = std::move(lines), open, grew, whole] { target->take(lines, open, grew, whole); },
            Qt::QueuedConnection);
    }
};

JournalLog::JournalLog(JournalQuery query, QObject* parent)
    : OneTextLog(parent), m_query(std::move(query))
{
}

JournalLog::~JournalLog()
{
    m_thread.reset();
    m_retired.clear();
}

LinesPtr JournalLog::lines() const
{
    return m_lines ? LinesPtr(m_lines) : LinesPtr(LogDocument::empty());
}

QString JournalLog::name() const
{
    if (m_query.where == JournalQuery::Where::Local)
        return tr("System journal");
    return m_query.paths.empty() ? tr("Journal") : QString::fromStdString(m_query.paths.front());
}

QString JournalLog::path() const
{
    if (m_query.where == JournalQuery::Where::Local || m_query.paths.empty())
        return {};
    return QString::fromStdString(m_query.paths.front());
}

bool JournalLog::isNamed(const QString& path) const
{
    const QString mine = this->path();
    return !mine.isEmpty() && !path.isEmpty() && QFileInfo(mine).absoluteFilePath() == QFileInfo(path).absoluteFilePath();
}

bool JournalLog::sameAs(const Log& other) const
{
    const auto* journal = qobject_cast<const JournalLog*>(&other);
    return journal && journal->m_query == m_query;
}

LogAbilities JournalLog::abilities() const
{
    LogAbilities can;
    can.follow = true;
    return can;
}

std::int64_t JournalLog::looks() const
{
    return m_reading ? m_reading->looks.load() : 0;
}

bool JournalLog::hidesEntries() const
{
    return m_query.where == JournalQuery::Where::Local && !SeesWholeLocalJournal();
}

void JournalLog::start()
{
    open();
}

void JournalLog::setFollowing(bool on)
{
    Log::setFollowing(on);
    if (m_reading) {
        m_reading->following = on;
        m_reading->wakeUp(); // entries that waited are read at once
    }
}

void JournalLog::narrowTo(const std::vector<std::string>& ticked)
{
    if (ticked == m_query.fields)
        return;
    m_query.fields = ticked;
    open();
}

void JournalLog::retireReadings()
{
    std::erase_if(m_retired, [](const std::unique_ptr<DedicatedThread>& thread) { return thread->returned(); });
    if (m_thread)
        m_retired.push_back(std::move(m_thread));
}

void JournalLog::open()
{
    // The reading under way is told to end and forgotten: what it still reads is dropped.
    retireReadings();
    m_sinceOpen.start();
    m_busy = true;
    m_failed = false;
    auto reading = std::make_shared<Reading>();
    reading->log = this;
    reading->query = m_query;
    reading->generation = ++m_generation;
    reading->following = following();
    reading->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_reading = reading;
    LogChange opening;
    opening.status = tr("Opening %1").arg(name());
    emit changed(opening);
    m_thread = Executor::shared().startDedicated(
        "tlg-journal", [reading](const std::atomic<bool>& stop) { read(reading, stop); },
        [reading] { reading->wakeUp(); });
}

void JournalLog::read(const std::shared_ptr<Reading>& reading, const std::atomic<bool>& stop)
{
    try {
        // The last screen first, then the whole journal.
        const JournalLinesPtr tail = JournalLines::tail(reading->query, kTailEntries);
        reading->post(tail, false, false);
        tail->releaseReader(); // here rather than on the way to the screen
        if (stop)
            return;
        JournalLog* target = reading->log;
        const int open = reading->generation;
        JournalLinesPtr followed = JournalLines::build(reading->query, &stop, [target, open](int percent) {
            QMetaObject::invokeMethod(
                target,
                [target, open, percent] {
                    if (open == target->m_generation)
                        emit target->progress(percent);
                },
                Qt::QueuedConnection);
        });
        if (!followed)
            return;
        reading->post(followed, false, true);
        // New entries, each batch as it comes: the journal's descriptor wakes the wait, and a
        // look every second catches what it cannot tell.
        while (!stop) {
            const bool following = reading->following;
            const int descriptor = following ? followed->changeDescriptor() : -1;
            pollfd waits[2] = {{reading->wake, POLLIN, 0}, {descriptor, POLLIN, 0}};
            ::poll(waits, descriptor >= 0 ? 2 : 1, kPollMilliseconds);
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t drained = ::read(reading->wake, &count, sizeof count);
            ++reading->looks;
            if (stop || !reading->following)
                continue; // new entries wait in the journal until following is on again
            try {
                if (JournalLinesPtr grown = followed->grown()) {
                    followed = grown;
                    reading->post(std::move(grown), true, false);
                }
            } catch (const std::exception&) {
                // A journal that went away mid-read: what was read stays shown.
            }
        }
    } catch (const std::exception& failure) {
        JournalLog* target = reading->log;
        const QString text = QString::fromUtf8(failure.what());
        const int open = reading->generation;
        QMetaObject::invokeMethod(target, [target, text, open] { target->fail(text, open); }, Qt::QueuedConnection);
    }
}

void JournalLog::take(JournalLinesPtr lines, int generation, bool grew, bool whole)
{
    if (generation != m_generation)
        return;
    const JournalLinesPtr before = m_lines;
    m_lines = std::move(lines);
    if (whole) {
        m_busy = false;
        emit progress(-1);
    }
    timeText(m_lines, QDateTime::currentMSecsSinceEpoch() * 1000000);
    LogChange change;
    change.keepAtEnd = true; // a reader on the last line stays on the last line as entries come
    change.followed = true;
    change.status = statusText();
    if (grew && before && m_lines->grewFrom(*before)) {
        change.why = LogChange::Why::Grew;
    } else if (before && before->partial() && !m_lines->partial() && before->query() == m_query) {
        // From the tail to the whole journal: the same entry, counted from the end.
        change.why = LogChange::Why::ReadAgain;
        const LineCount tailLines = before->lineCount();
        const LineCount wholeLines = m_lines->lineCount();
        change.mapping = [tailLines, wholeLines](LineNumber line) {
            return std::max<LineNumber>(0, EndLine(wholeLines) - (tailLines - LinesBefore(line)));
        };
    } else {
        change.why = LogChange::Why::Opened;
        change.toEnd = true; // a journal opens at its newest entries
    }
    const bool first = !before;
    emit changed(change);
    if (first)
        emit opened(true);
}

void JournalLog::fail(const QString& text, int generation)
{
    if (generation != m_generation)
        return;
    m_busy = false;
    m_failed = true;
    emit progress(-1);
    LogChange failed;
    failed.status = text;
    failed.alert = text;
    emit changed(failed);
    if (!m_lines)
        emit opened(false);
}

QString JournalLog::statusText() const
{
    if (!m_lines)
        return {};
    QString text = m_lines->partial() ? tr("%1: the last %2 entries, reading the rest") : tr("%1: %2 entries");
    text = text.arg(name()).arg(m_lines->entryCount());
    if (m_lines->skipped() > 0)
        text += tr(", %1 skipped (unreadable or without a message)").arg(m_lines->skipped());
    if (hidesEntries())
        text += tr(" \u2014 only your own entries: members of the systemd-journal or adm group see all");
    return text;
}

std::optional<LineNumber> JournalLog::firstLineAtOrAfter(std::int64_t time) const
{
    if (m_lines && !m_lines->partial()) {
        const LineNumber line =
            m_lines->lineAtTime(static_cast<std::uint64_t>(std::max<std::int64_t>(0, time + 999) / 1000));
        return line < EndLine(m_lines->lineCount()) ? std::optional<LineNumber>(line) : std::nullopt;
    }
    return OneTextLog::firstLineAtOrAfter(time);
}

std::vector<ListedField> JournalLog::listedFields() const
{
    std::vector<ListedField> fields;
    if (!m_lines)
        return fields;
    // Boots are named from "this boot", which the whole journal's boots say, not only those
    // shown.
    const std::vector<JournalBoot> boots = m_lines->boots();
    const long thisBoot = ThisBoot(boots, m_query.where);
    for (std::size_t field = 0; field < kListedFields.size(); ++field) {
        ListedField listed;
        listed.name = kListedFields[field];
        std::vector<std::uint64_t> firstTimes; // of the boots' values
        for (const auto& [value, count] : m_lines->fieldCounts(field)) {
            FieldValue shown;
            shown.value = value;
            shown.count = count;
            shown.label = field == kPriorityField ? PriorityLabel(value)
                                                  : QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
            if (field == kBootField) {
                const auto boot =
                    std::find_if(boots.begin(), boots.end(), [&](const JournalBoot& b) { return b.id == value; });
                if (boot != boots.end()) {
                    shown.label = BootLabel(static_cast<long>(boot - boots.begin()) - thisBoot, boot->firstTime);
                    firstTimes.push_back(boot->firstTime);
                } else {
                    firstTimes.push_back(0);
                }
                shown.toolTip = QString::fromStdString(value);
            }
            listed.values.push_back(std::move(shown));
        }
        if (field == kBootField) {
            // Boots newest first, by their first entries.
            std::vector<std::size_t> order(listed.values.size());
            std::iota(order.begin(), order.end(), std::size_t{0});
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return firstTimes[a] > firstTimes[b]; });
            std::vector<FieldValue> sorted;
            for (const std::size_t at : order)
                sorted.push_back(std::move(listed.values[at]));
            listed.values = std::move(sorted);
        } else if (field == kPriorityField) {
            // Priorities from the most urgent, 0 to 7.
            std::stable_sort(listed.values.begin(), listed.values.end(), [](const FieldValue& a, const FieldValue& b) {
                return ParsePriority(a.value) < ParsePriority(b.value);
            });
        }
        fields.push_back(std::move(listed));
    }
    return fields;
}

LineNumber JournalLog::entryStart(LineNumber line) const
{
    return m_lines ? m_lines->entryStart(line) : LineNumber(0);
}

QString JournalLog::entryFields(LineNumber line) const
{
    return m_lines ? QString::fromUtf8(m_lines->fieldsOf(line)) : QString();
}

std::optional<SessionLog> JournalLog::sessionRecord(std::int64_t caretLine) const
{
    SessionLog record;
    record.followed = following();
    if (m_query.where == JournalQuery::Where::Local) {
        // By the matches it was opened with; what was ticked in its fields panel is the
        // reader's passing choice.
        JournalQuery query = m_query;
        query.fields.clear();
        record.journal = std::move(query);
        return record;
    }
    if (path().isEmpty())
        return std::nullopt;
    record.path = path().toStdString();
    record.caretLine = caretLine;
    return record;
}

} // namespace tlg
