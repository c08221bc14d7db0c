#include "navigate/findall.h"

#include "core/beside.h"
#include "core/cp1252.h"
#include "core/errors.h"
#include "search/regexsearch.h"
#include "search/textsearch.h"

#include <QAbstractTableModel>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

namespace tlg {

namespace {

// The bytes a plain search reads at a time; the stop flag is looked at between them.
constexpr std::size_t kChunk = 1u << 20;
// How often the rows found reach the list.
constexpr int kDeliverMs = 100;
// The progress shows once a search has run this long.
constexpr qint64 kProgressAfterMs = 500;

// A line's text as the list shows it: decoded by the log's encoding, control bytes as their
// visible stand-ins, cut to `most` characters.
QString ShownLine(const LineSource& lines, LineNumber line, Encoding held, int most)
{
    const ByteOffset from = lines.lineIndex(line);
    const ByteOffset contentEnd = lines.lineContentEnd(line);
    // A character takes at most four bytes.
    const ByteOffset end = std::min(contentEnd, from + 4 * static_cast<std::int64_t>(most) + 4);
    const TextSlice bytes = lines.slice(from, end);
    const auto size = static_cast<qsizetype>(bytes.size());
    QString text = held == Encoding::Utf8        ? QString::fromUtf8(bytes.data(), size)
                   : held == Encoding::Iso8859_1 ? QString::fromLatin1(bytes.data(), size)
                                                 : QString::fromStdU16String(decodeCp1252(bytes.view()));
    bool cut = end < contentEnd;
    if (text.size() > most) {
        text.truncate(text.at(most - 1).isHighSurrogate() ? most - 1 : most);
        cut = true;
    }
    for (QChar& c : text) {
        if (c == u'\t')
            c = u' ';
        else if (c.unicode() < 0x20)
            c = QChar(char16_t(0x2400 + c.unicode()));
    }
    if (cut)
        text += u'\u2026';
    return text;
}

} // namespace

struct FindAllResults::Row {
    int log = 0; // the log's place in the search
    LineNumber line = 0;
    QString text;
};

// One search: how each log is matched, and what the work has found and not yet handed over. It
// is shared by the list and the work on the executor, and holds nothing of the list: a list
// that goes, or starts another search, raises `cancel` and never waits for the work.
struct FindAllResults::Job {
    struct Log {
        LinesPtr lines;
        Encoding held = Encoding::Windows1252;
        // The text in the log's encoding, or the expression; neither when the text cannot
        // occur in the log.
        std::optional<TextSearch> plain;
        std::shared_ptr<const RegexSearch> expression;
    };
    std::vector<Log> logs;
    bool wholeWord = false;
    std::int64_t total = 0; // bytes of all the logs

    std::atomic<bool> cancel{false};
    std::atomic<bool> ended{false};
    // Bytes looked at: of the logs done and of the one under way up to where it got, and
    // what an expression search has looked at past that.
    std::atomic<std::int64_t> done{0};
    std::atomic<std::int64_t> looked{0};

    std::mutex mutex;
    std::vector<Row> rows; // found, not yet listed
    bool more = false;     // the bound was reached
    QString failure;

    void run();
    void searchPlain(int index, std::int64_t base, int& listed);
    void searchExpression(int index, std::int64_t base, int& listed);
    // Hands a row over; false once the bound is reached.
    bool add(int index, LineNumber line, int& listed);
};

bool FindAllResults::Job::add(int index, LineNumber line, int& listed)
{
    const Log& log = logs[static_cast<std::size_t>(index)];
    if (listed >= kMaxResults) {
        const std::lock_guard lock(mutex);
        more = true;
        return false;
    }
    Row row{index, line, ShownLine(*log.lines, line, log.held, kMaxTextLength)};
    ++listed;
    const std::lock_guard lock(mutex);
    rows.push_back(std::move(row));
    return true;
}

void FindAllResults::Job::run()
{
    int listed = 0;
    std::int64_t base = 0;
    try {
        for (std::size_t i = 0; i < logs.size() && !cancel.load(); ++i) {
            const auto index = static_cast<int>(i);
            if (logs[i].expression)
                searchExpression(index, base, listed);
            else if (logs[i].plain)
                searchPlain(index, base, listed);
            if (more)
                break;
            base += logs[i].lines->size().value();
            done.store(base);
            looked.store(0);
        }
    } catch (const std::exception& failed) {
        const std::lock_guard lock(mutex);
        failure = QString::fromUtf8(failed.what());
    }
    ended.store(true);
}

void FindAllResults::Job::searchPlain(int index, std::int64_t base, int& listed)
{
    const LineSource& lines = *logs[static_cast<std::size_t>(index)].lines;
    const TextSearch& search = *logs[static_cast<std::size_t>(index)].plain;
    const auto length = static_cast<std::int64_t>(search.pattern.size());
    if (length == 0)
        return;
    // Whether [start, start + length) stands as a whole word; `bytes` at `at` holds it.
    auto standsAlone = [&](ByteOffset at, std::string_view bytes, ByteOffset start) {
        const std::int64_t hit = (start - at).value();
        const ByteOffset end = start + length;
        bool before = false;
        if (hit > 0)
            before = WordByte(bytes[static_cast<std::size_t>(hit - 1)]);
        else if (start > 0) {
            const TextSlice byte = lines.slice(start - 1, start);
            before = !byte.empty() && WordByte(byte[0]);
        }
        bool after = false;
        if (hit + length < static_cast<std::int64_t>(bytes.size()))
            after = WordByte(bytes[static_cast<std::size_t>(hit + length)]);
        else {
            const TextSlice byte = lines.slice(end, end + 1);
            after = !byte.empty() && WordByte(byte[0]);
        }
        return !before && !after;
    };
    // One row per line: after an occurrence the search goes on at the next line.
    ByteOffset next = 0;
    lines.forEachChunk(0, lines.size(), kChunk, static_cast<std::size_t>(length - 1),
                       [&](ByteOffset at, std::string_view bytes) {
                           if (cancel.load(std::memory_order_relaxed))
                               return false;
                           done.store(base + (at + static_cast<std::int64_t>(bytes.size())).value(),
                                      std::memory_order_relaxed);
                           ByteOffset from = std::max<ByteOffset>(next - at, 0);
                           while (from < static_cast<std::int64_t>(bytes.size())) {
                               const ByteOffset hit = FindOccurrenceFrom(search, bytes, from);
                               if (hit < 0)
                                   break;
                               const ByteOffset start = at + hit;
                               if (wholeWord && !standsAlone(at, bytes, start)) {
                                   from = hit + 1;
                                   continue;
                               }
                               const LineNumber line = lines.lineFromOffset(start);
                               if (!add(index, line, listed))
                                   return false;
                               next = lines.lineIndex(line + 1);
                               if (next <= start) // the last line: nothing follows
                                   return false;
                               from = next - at;
                           }
                           return true;
                       });
}

void FindAllResults::Job::searchExpression(int index, std::int64_t base, int& listed)
{
    const LineSource& lines = *logs[static_cast<std::size_t>(index)].lines;
    const RegexSearch& expression = *logs[static_cast<std::size_t>(index)].expression;
    const LineNumber end = EndLine(lines.rowCount());
    ByteOffset from = 0;
    while (!cancel.load()) {
        const RegexSearch::Match found = expression.findFrom(lines, from, &cancel, &looked);
        if (found.first < 0) // none further, or stopped
            return;
        const LineNumber line = lines.lineFromOffset(found.first);
        if (!add(index, line, listed))
            return;
        if (line + 1 >= end)
            return;
        from = lines.lineIndex(line + 1);
        done.store(base + from.value(), std::memory_order_relaxed);
        looked.store(0, std::memory_order_relaxed);
    }
}

// The rows as a table: log, line, text.
class FindAllResults::Model : public QAbstractTableModel {
public:
    explicit Model(QObject* parent) : QAbstractTableModel(parent) {}

    std::vector<QString> names; // of the logs searched
    std::vector<Row> rows;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(rows.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const Row& row = rows[static_cast<std::size_t>(index.row())];
        if (role == Qt::DisplayRole) {
            switch (index.column()) {
            case 0:
                return names[static_cast<std::size_t>(row.log)];
            case 1:
                return QString::number(row.line.value() + 1);
            default:
                return row.text;
            }
        }
        if (role == Qt::TextAlignmentRole && index.column() == 1)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const char* const titles[] = {"Log", "Line", "Text"};
        return section >= 0 && section < 3 ? QString::fromLatin1(titles[section]) : QVariant();
    }

    void append(std::vector<Row>& more)
    {
        if (more.empty())
            return;
        const int first = rowCount();
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(more.size()) - 1);
        std::move(more.begin(), more.end(), std::back_inserter(rows));
        endInsertRows();
    }
    void reset(std::vector<QString> logNames)
    {
        beginResetModel();
        rows.clear();
        names = std::move(logNames);
        endResetModel();
    }
};

FindAllResults::FindAllResults(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FindAllResults"));
    m_model = new Model(this);
    m_list = new QTreeView(this);
    m_list->setObjectName(QStringLiteral("FindAllList"));
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true); // a hundred thousand rows lay out at once
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_list->header()->setStretchLastSection(true);
    m_list->installEventFilter(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("FindAllSummary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("FindAllProgress"));
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(160);
    m_progress->hide();
    m_stop = new QPushButton(tr("Stop"), this);
    m_stop->setObjectName(QStringLiteral("FindAllStop"));
    m_stop->setEnabled(false);

    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("FindAllClose"));

    auto* row = new QHBoxLayout();
    row->addWidget(m_summary, 1);
    row->addWidget(m_progress);
    row->addWidget(m_stop);
    row->addWidget(close);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    column->addLayout(row);
    column->addWidget(m_list, 1);

    m_poll = new QTimer(this);
    m_poll->setInterval(kDeliverMs);
    connect(m_poll, &QTimer::timeout, this, &FindAllResults::deliver);
    connect(m_stop, &QPushButton::clicked, this, &FindAllResults::stop);
    // Closing the list stops a search under way.
    connect(close, &QPushButton::clicked, this, [this] {
        stop();
        hide();
    });
    connect(m_list, &QAbstractItemView::clicked, this, &FindAllResults::activate);
    connect(m_list, &QAbstractItemView::activated, this, &FindAllResults::activate);
}

FindAllResults::~FindAllResults()
{
    abandon();
}

void FindAllResults::abandon()
{
    m_poll->stop();
    // The work ends at its next chunk; what it finds meanwhile goes nowhere.
    if (m_job)
        m_job->cancel.store(true);
    m_job.reset();
    m_progress->hide();
    m_stop->setEnabled(false);
}

void FindAllResults::start(const FindQuery& query, std::vector<FindAllLog> logs)
{
    abandon();
    m_text = query.text;
    m_keys.clear();
    m_logsWithRows = 0;
    m_lastLogListed = -1;
    m_more = false;
    m_failure.clear();
    std::vector<QString> names;
    auto job = std::make_shared<Job>();
    job->wholeWord = query.wholeWord && !query.regex;
    for (FindAllLog& log : logs) {
        if (!log.lines)
            continue;
        Job::Log searched{log.lines, HeldEncoding(log.encoding), std::nullopt, nullptr};
        // The text in the log's encoding: a text that cannot occur in it finds nothing there.
        const std::optional<std::string> encoded = EncodeForLog(query.text.toStdU16String(), searched.held);
        if (encoded && !encoded->empty()) {
            if (query.regex) {
                try {
                    searched.expression = std::make_shared<const RegexSearch>(*encoded, query.matchCase, searched.held);
                } catch (const Failure& failure) {
                    m_model->reset({});
                    m_summary->setText(QStringLiteral("Invalid pattern: ") + QString::fromUtf8(failure.what()));
                    return;
                }
            } else {
                searched.plain = TextSearch::forLog(*encoded, searched.held, query.matchCase);
            }
        }
        job->total += log.lines->size().value();
        job->logs.push_back(std::move(searched));
        m_keys.push_back(log.key);
        names.push_back(std::move(log.name));
    }
    m_model->reset(std::move(names));
    if (query.text.isEmpty()) {
        m_summary->clear();
        return;
    }
    m_job = job;
    m_sinceStart.start();
    m_summary->setText(QStringLiteral("Searching..."));
    m_progress->setValue(0);
    m_stop->setEnabled(true);
    m_poll->start();
    // Its end is taken at once rather than at the next poll.
    RunBeside(this, Executor::Priority::User, [job] { job->run(); }, [this, job] {
        if (job == m_job)
            deliver();
    });
}

void FindAllResults::stop()
{
    if (!m_job)
        return;
    // The rows handed over so far are listed; the work ends at its next chunk, and what it
    // finds meanwhile goes nowhere.
    m_job->cancel.store(true);
    finish(true);
}

void FindAllResults::takeRows()
{
    std::vector<Row> rows;
    {
        const std::lock_guard lock(m_job->mutex);
        rows.swap(m_job->rows);
        m_more = m_job->more;
        m_failure = m_job->failure;
    }
    // The rows come log after log.
    for (const Row& row : rows) {
        if (row.log != m_lastLogListed) {
            m_lastLogListed = row.log;
            ++m_logsWithRows;
        }
    }
    const bool first = m_model->rows.empty() && !rows.empty();
    m_model->append(rows);
    if (first) {
        m_list->resizeColumnToContents(0);
        m_list->resizeColumnToContents(1);
    }
}

void FindAllResults::deliver()
{
    if (!m_job)
        return;
    if (m_job->ended.load()) {
        finish(false);
        return;
    }
    takeRows();
    if (m_sinceStart.elapsed() >= kProgressAfterMs) {
        const std::int64_t total = m_job->total;
        const std::int64_t looked = m_job->done.load() + m_job->looked.load();
        m_progress->setValue(total > 0 ? static_cast<int>(std::min<std::int64_t>(100, 100 * looked / total)) : 0);
        m_progress->show();
    }
    m_summary->setText(QStringLiteral("Searching... %1 found").arg(m_model->rowCount()));
}

void FindAllResults::finish(bool stopped)
{
    // The work has ended or was stopped: what it handed over last is listed.
    takeRows();
    m_poll->stop();
    m_job.reset();
    m_progress->hide();
    m_stop->setEnabled(false);
    showSummary(stopped);
    emit finished();
}

void FindAllResults::showSummary(bool stopped)
{
    const int matches = m_model->rowCount();
    QString said;
    if (!m_failure.isEmpty())
        said = QStringLiteral("Search failed: ") + m_failure + QStringLiteral(". ");
    if (matches == 0 && !stopped && m_failure.isEmpty()) {
        m_summary->setText(QStringLiteral("Not found: \"%1\"").arg(m_text));
        return;
    }
    if (stopped)
        said += QStringLiteral("Stopped: ");
    said += QStringLiteral("%1 %2 in %3 %4")
                .arg(matches)
                .arg(matches == 1 ? QStringLiteral("match") : QStringLiteral("matches"))
                .arg(m_logsWithRows)
                .arg(m_logsWithRows == 1 ? QStringLiteral("log") : QStringLiteral("logs"));
    if (m_more)
        said += QStringLiteral(" (more not listed)");
    m_summary->setText(said);
}

int FindAllResults::resultCount() const
{
    return m_model->rowCount();
}

QString FindAllResults::summary() const
{
    return m_summary->text();
}

void FindAllResults::activate(const QModelIndex& index)
{
    if (!index.isValid() || index.row() >= m_model->rowCount())
        return;
    const Row& row = m_model->rows[static_cast<std::size_t>(index.row())];
    emit resultActivated(m_keys[static_cast<std::size_t>(row.log)], row.line);
}

bool FindAllResults::eventFilter(QObject* watched, QEvent* event)
{
    // Esc in the list stops a search under way.
    if (watched == m_list && event->type() == QEvent::KeyPress && m_job
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        stop();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tlg
