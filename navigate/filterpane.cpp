#include "navigate/filterpane.h"

#include "core/controls.h"
#include "core/cp1252.h"
#include "core/errors.h"
#include "document/encoding.h"
#include "view/caretplacement.h"
#include "view/logview.h"
#include "search/linefilter.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace tlg {

namespace {

// The pause after the last key before the list is filtered again.
constexpr int kTypingPauseMs = 250;
// Lines appended to a followed log up to this size are filtered at once on the GUI thread
// (a few milliseconds); more go beside it.
constexpr ByteOffset kFilterAtOnce = 4 << 20;
// A listed line shows at most this many bytes.
constexpr std::size_t kShownBytes = 4096;

} // namespace

// One search beside the GUI thread: what it found and how far it got.
struct FilterPane::Job {
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    std::int64_t from = 0;
    std::int64_t total = 0;
    std::vector<LineNumber> lines;
};

// The matches as a table of two columns, the line number and the line; only the rows in
// sight are ever asked for.
class FilterPane::Model : public QAbstractTableModel {
public:
    explicit Model(FilterPane* pane) : QAbstractTableModel(pane), m_pane(pane) {}

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : m_pane->matchCount(); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_pane->matchCount() || !m_pane->m_document)
            return {};
        const LineNumber line = m_pane->matchedLine(index.row());
        if (role == Qt::TextAlignmentRole && index.column() == 0)
            return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        if (index.column() == 0)
            return QString::number(line + 1);
        // Only the bytes shown are read, however long the line.
        const LineSource& document = *m_pane->m_document;
        const ByteOffset start = document.lineIndex(line);
        const TextSlice shown = document.slice(start, std::min(document.lineContentEnd(line), start + static_cast<ByteOffset>(kShownBytes)));
        const std::string_view bytes = shown.view();
        switch (m_pane->m_encoding) {
        case Encoding::Utf8:
            return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        case Encoding::Iso8859_1:
            return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        default:
            return QString::fromStdU16String(decodeCp1252(bytes));
        }
    }

    using QAbstractTableModel::beginInsertRows;
    using QAbstractTableModel::beginRemoveRows;
    using QAbstractTableModel::beginResetModel;
    using QAbstractTableModel::endInsertRows;
    using QAbstractTableModel::endRemoveRows;
    using QAbstractTableModel::endResetModel;

private:
    FilterPane* m_pane;
};

FilterPane::FilterPane(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FilterPane"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    auto* row = new QHBoxLayout();
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("FilterText"));
    m_text->setPlaceholderText(QStringLiteral("Filter"));
    m_text->setClearButtonEnabled(true);
    m_case = makeCheckBox(this, "FilterCase", QStringLiteral("Match case"), false);
    m_regex = makeCheckBox(this, "FilterRegex", QStringLiteral("Regular expression"), false);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("FilterProgress"));
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(120);
    m_progress->hide();
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("FilterStatus"));
    row->addWidget(m_text, 1);
    row->addWidget(m_case);
    row->addWidget(m_regex);
    row->addWidget(m_progress);
    row->addWidget(m_status);
    column->addLayout(row);

    m_model = new Model(this);
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("FilterView"));
    m_view->setModel(m_model);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setShowGrid(false);
    m_view->setWordWrap(false);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->hide();
    // Rows of one height and columns sized by hand: the headers never measure the rows.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 2);
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setColumnWidth(0, m_view->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));
    column->addWidget(m_view, 1);
    setMinimumHeight(120);
    hide();

    m_typing = new QTimer(this);
    m_typing->setSingleShot(true);
    m_typing->setInterval(kTypingPauseMs);
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_text, &QLineEdit::textChanged, this, [this] {
        cancelJob(); // typing again stops the search under way
        m_typing->start();
    });
    connect(m_typing, &QTimer::timeout, this, [this] { restart(); });
    connect(m_case, &QCheckBox::toggled, this, [this] { restart(); });
    connect(m_regex, &QCheckBox::toggled, this, [this] { restart(); });
    connect(m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_job && m_job->total > 0)
            m_progress->setValue(static_cast<int>(100 * (m_job->done.load() - m_job->from) / m_job->total));
    });
    connect(m_view, &QTableView::clicked, this, &FilterPane::jumpTo);
    connect(m_view, &QTableView::activated, this, &FilterPane::jumpTo);
}

FilterPane::~FilterPane()
{
    cancelJob();
}

void FilterPane::setLogView(LogView* view)
{
    m_log = view;
    connect(view, &LogView::documentChanged, this, &FilterPane::shownTextChanged);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), window()), &QShortcut::activated, this,
            &FilterPane::toggle);
}

void FilterPane::toggle()
{
    setVisible(!isVisible());
    if (isVisible()) {
        m_text->setFocus();
        m_text->selectAll();
    }
}

void FilterPane::cancelJob()
{
    if (m_job)
        m_job->cancel = true;
    m_job.reset();
    m_progressTimer->stop();
    m_progress->hide();
}

void FilterPane::restart()
{
    m_typing->stop();
    cancelJob();
    m_model->beginResetModel();
    m_matches.clear();
    m_filter.reset();
    m_document = m_log ? m_log->document() : nullptr;
    m_encoding = m_log ? m_log->encoding() : Encoding::Windows1252;
    m_model->endResetModel();
    m_status->clear();
    const QString text = m_text->text();
    if (text.isEmpty() || !m_document) {
        emit searchFinished();
        return;
    }
    LineFilterOptions options;
    options.matchCase = m_case->isChecked();
    options.regex = m_regex->isChecked();
    options.encoding = m_encoding;
    // The pattern in the log's encoding; a character it cannot hold matches nothing.
    std::optional<std::string> pattern = EncodeForLog(text.toStdU16String(), m_encoding);
    if (!pattern) {
        showCount();
        emit searchFinished();
        return;
    }
    try {
        m_filter = std::make_shared<LineFilter>(std::move(*pattern), options);
    } catch (const Failure& failure) {
        // Said here, never in a box: the reader is still typing.
        m_status->setText(QStringLiteral("Invalid pattern: ") + QString::fromUtf8(failure.what()));
        emit searchFinished();
        return;
    }
    startJob(0);
}

void FilterPane::startJob(LineNumber fromLine)
{
    auto job = std::make_shared<Job>();
    job->from = m_document->lineIndex(fromLine);
    job->done = job->from;
    job->total = m_document->size() - job->from;
    m_job = job;
    m_status->setText(QStringLiteral("Searching..."));
    m_progress->setValue(0);
    m_progress->show();
    m_progressTimer->start();
    auto* watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, job] {
        watcher->deleteLater();
        if (job != m_job || !watcher->result())
            return; // cancelled, or overtaken by another search
        m_job.reset();
        m_progressTimer->stop();
        m_progress->hide();
        addMatches(job->lines);
        showCount();
        // The shown text may have changed meanwhile.
        shownTextChanged();
        if (!m_job)
            emit searchFinished();
    });
    // The search holds what it reads: the document and the filter outlive the pane if need be.
    watcher->setFuture(QtConcurrent::run([filter = m_filter, document = m_document, fromLine, job] {
        return filter->run(*document, fromLine, job->lines, job->cancel, job->done);
    }));
}

void FilterPane::shownTextChanged()
{
    if (!m_log)
        return;
    if (m_typing->isActive()) {
        // The pattern was edited and not yet applied: the new text is filtered by the pattern
        // as it is now, never by the one before.
        restart();
        return;
    }
    if (m_job)
        return; // looked at again when the search ends
    const LogView* shown = m_log;
    const LinesPtr now = shown->document();
    if (now == m_document)
        return;
    const LinesPtr before = m_document;
    // A text that only grew shares its start with the one before (appending never writes
    // into what a document already holds); anything else is filtered from the start.
    const bool grew = m_filter && before && shown->encoding() == m_encoding &&
                      now->grewFrom(*before);
    if (!grew) {
        if (m_filter)
            restart();
        else
            m_document = now;
        return;
    }
    // The last line of the text before may have been unfinished: it is looked at again.
    const LineNumber fromLine = before->rowCount() > before->lineCount() ? before->lineCount()
                                                                         : std::max<LineNumber>(before->lineCount() - 1, 0);
    truncateMatches(fromLine);
    m_document = now;
    if (now->size() - now->lineIndex(fromLine) > kFilterAtOnce) {
        startJob(fromLine);
        return;
    }
    std::vector<LineNumber> lines;
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    m_filter->run(*now, fromLine, lines, cancel, done);
    addMatches(lines);
    showCount();
}

void FilterPane::addMatches(const std::vector<LineNumber>& lines)
{
    if (lines.empty())
        return;
    const int first = matchCount();
    m_model->beginInsertRows({}, first, first + static_cast<int>(lines.size()) - 1);
    m_matches.insert(m_matches.end(), lines.begin(), lines.end());
    m_model->endInsertRows();
}

void FilterPane::truncateMatches(LineNumber fromLine)
{
    const auto keep = std::lower_bound(m_matches.begin(), m_matches.end(), fromLine) - m_matches.begin();
    if (keep == static_cast<std::ptrdiff_t>(m_matches.size()))
        return;
    m_model->beginRemoveRows({}, static_cast<int>(keep), matchCount() - 1);
    m_matches.resize(static_cast<std::size_t>(keep));
    m_model->endRemoveRows();
}

void FilterPane::showCount()
{
    m_status->setText(matchCount() == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(matchCount()));
}

void FilterPane::jumpTo(const QModelIndex& index)
{
    if (!m_log || !index.isValid() || index.row() >= matchCount())
        return;
    LogView* view = m_log;
    if (view->document() != m_document)
        return; // the list belongs to a text no longer shown
    ScrollToLine(view, matchedLine(index.row()));
}

} // namespace tlg
