#include "app/logtab.h"

#include "app/journalbinding.h"
#include "app/logcontroller.h"
#include "format/colouring.h"
#include "navigate/fileslegend.h"
#include "navigate/filterpane.h"
#include "navigate/filterstackbar.h"
#include "navigate/filterstackrunner.h"
#include "core/cp1252.h"
#include "search/colourrules.h"
#include "navigate/gototimedialog.h"
#include "navigate/histogramstrip.h"
#include "navigate/journalfieldspanel.h"
#include "navigate/logtimes.h"
#include "navigate/positionindicator.h"
#include "source/filterstore.h"
#include "source/journalsource.h"
#include "source/logsource.h"
#include "source/mergedsource.h"
#include "core/errors.h"
#include "search/overview.h"
#include "view/logview.h"
#include "view/overviewstrip.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QRegularExpression>
#include <QTimer>

namespace tlg {

LogTab::LogTab(QWidget* window, QMenu* viewMenu, const Colouring* colouring, QWidget* parent)
    : QWidget(parent), m_window(window), m_colouring(colouring)
{
    setObjectName(QStringLiteral("LogTab"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    // The filter stack's bar, above the view.
    m_stackBar = new FilterStackBar(this);
    grid->addWidget(m_stackBar, 0, 0, 1, 2);
    m_view = new LogView(this);
    m_view->setObjectName(QStringLiteral("RichEdit1"));
    m_view->setContextMenu(viewMenu);
    m_view->setLineNumbersShown(true);
    grid->addWidget(m_view, 2, 0);
    // The overview strip beside the view's scroll bar.
    m_overview = new OverviewStrip([view = m_view] { return view; }, this);
    m_overview->setObjectName(QStringLiteral("OverviewStrip"));
    m_overview->watch(m_view);
    grid->addWidget(m_overview, 2, 1);
    // The filter pane, below the view.
    m_filterPane = new FilterPane(this);
    m_filterPane->setLogView(m_view);
    grid->addWidget(m_filterPane, 3, 0, 1, 2);
    grid->setRowStretch(2, 1);

    m_log = new LogController(window, this, m_view, colouring, &m_status);
    m_position = new PositionIndicator(m_view, &m_log->watchState(), &m_status, this);
    connect(m_log, &LogController::aboutToSample, m_position, &PositionIndicator::UpdatePositionIndicator);
    connect(m_view, &LogView::statusMessage, this, [this](const QString& text) { m_status.setText(0, text); });
    connect(m_log, &LogController::titleChanged, this, [this](const QString& title) { m_title = title; });
    connect(m_log, &LogController::reloadAlert, this, [this](bool alert) { m_reloadAlert = alert; });
    connect(m_log, &LogController::followed, this, &LogTab::noteGrowth);
    connect(m_overview, &OverviewStrip::marksUpdated, this, &LogTab::lookForErrors);

    // The filter stack: the view shows the lines it keeps, which its runner finds beside the
    // GUI thread; the view keeps the last lines found until the next are ready.
    m_stack = new FilterStackRunner(this);
    m_log->setShownLines([this](const LinesPtr& text, Encoding encoding) {
        // A merged log shows its merge, once there is one.
        LinesPtr base = text;
        if (m_merged)
            base = m_merged->merged() ? LinesPtr(m_merged->merged()) : LinesPtr(LogDocument::empty());
        return m_stack->shownOf(base, encoding);
    });
    connect(m_stackBar, &FilterStackBar::rowsChanged, this, [this] {
        m_stack->setRows(m_stackBar->rows());
        keepFilterStack();
    });
    // A log opens with the stack kept for it, unless it was given one.
    connect(m_log, &LogController::logOpened, this, [this] {
        if (!m_stack->rows().empty())
            return;
        std::vector<StackRow> rows;
        for (const FilterRow& kept : LoadFilterStack(m_log->source()->nativePath()))
            rows.push_back({QString::fromUtf8(kept.pattern), kept.regex, kept.matchCase, kept.kind, kept.on});
        if (rows.empty())
            return;
        m_stackBar->setRows(rows);
        m_stack->setRows(rows);
    });
    connect(m_stackBar, &FilterStackBar::levelRowRequested, this, &LogTab::addLevelRow);
    connect(m_stack, &FilterStackRunner::shownChanged, this, [this] {
        if (m_journal)
            m_journal->showShownLinesAgain();
        else
            m_log->showShownLinesAgain();
        showStackState();
    });
    connect(m_stack, &FilterStackRunner::errorsChanged, this, &LogTab::showStackState);
    connect(m_stack, &FilterStackRunner::progress, m_stackBar, &FilterStackBar::setProgress);

    // The times of the lines follow the log's whole text, whatever the stack shows of it.
    m_times = new LogTimes(this);
    connect(m_log->source(), &LogSource::documentChanged, this, [this] {
        if (m_merged)
            return; // the merge knows its rows' times
        const QDateTime modified = QFileInfo(m_log->currentPath()).lastModified();
        m_times->setText(m_log->source()->document(),
                         modified.isValid() ? modified.toMSecsSinceEpoch() * 1000000 : QDateTime::currentMSecsSinceEpoch() * 1000000);
    });
    // The time histogram, above the view.
    m_histogram = new HistogramStrip(m_view, m_times, this);
    m_histogram->setObjectName(QStringLiteral("TimeHistogram"));
    grid->addWidget(m_histogram, 1, 0, 1, 2);
    m_position->setTimeOfLine([this](std::int64_t line) {
        const std::optional<std::int64_t> time = timeOfLogLine(m_view->document()->lineInLog(line).value());
        return time ? GotoTimeDialog::timeText(*time) : QString();
    });
    // The files of a merged log, below the view.
    m_legend = new FilesLegend(this);
    grid->addWidget(m_legend, 4, 0, 1, 2);
}

void LogTab::mergeFiles(const QStringList& paths)
{
    m_merged = new MergedSource(m_log->source(), paths, this);
    m_view->setFileNames(paths);
    m_legend->setFiles(paths);
    connect(m_legend, &FilesLegend::shownChanged, m_merged,
            [merged = m_merged](int file, bool shown) { merged->setShown(static_cast<std::size_t>(file), shown); });
    connect(m_merged, &MergedSource::mergedChanged, this, [this] {
        m_log->showShownLinesAgain();
        noteGrowth();
    });
    connect(m_merged, &MergedSource::progress, this, [this](int percent) {
        m_status.setText(0, percent < 0 ? QString() : QStringLiteral("Merging by time... %1%").arg(percent));
    });
    connect(m_log, &LogController::aboutToSample, m_merged, [this] { m_merged->follow(m_log->convertAlways()); });
    // Journals read their new entries by themselves, while the tab follows.
    connect(m_log->watchTimer(), &QTimer::timeout, m_merged, [this] { m_merged->setFollowing(m_log->watchState().AutoRefresh); });
    // The histogram counts the merged rows, each file's in its own form.
    m_histogram->countMerge([merged = m_merged] { return merged->merged(); });
    connect(m_merged, &MergedSource::mergedChanged, m_histogram, &HistogramStrip::refresh);
    m_merged->open([this](const QStringList& failures) {
        if (!failures.isEmpty())
            m_status.setText(0, failures.join(QStringLiteral("; ")));
    });
}

QString LogTab::displayName() const
{
    const QString name = QFileInfo(path().isEmpty() ? m_opening : path()).fileName();
    if (!m_merged || m_merged->paths().size() < 2)
        return name;
    return QStringLiteral("%1 + %2").arg(QFileInfo(m_merged->paths().front()).fileName()).arg(m_merged->paths().size() - 1);
}

std::optional<std::int64_t> LogTab::lastTime() const
{
    if (m_merged)
        return m_merged->merged() ? m_merged->merged()->lastTime() : std::nullopt;
    const TimeIndexPtr index = m_times->index();
    return index ? index->lastTime() : std::nullopt;
}

std::optional<std::int64_t> LogTab::firstLogLineAtOrAfter(std::int64_t time) const
{
    if (m_merged) {
        const MergedLinesPtr merged = m_merged->merged();
        if (!merged)
            return std::nullopt;
        const LineNumber row = merged->firstRowAtOrAfter(time);
        return row < EndLine(merged->lineCount()) ? std::optional<std::int64_t>(row.value()) : std::nullopt;
    }
    const TimeIndexPtr index = m_times->index();
    if (!index)
        return std::nullopt;
    const LineNumber line = index->firstLineAtOrAfter(time);
    return line < EndLine(index->lines()->lineCount()) ? std::optional<std::int64_t>(line.value()) : std::nullopt;
}

std::optional<std::int64_t> LogTab::timeOfLogLine(std::int64_t line) const
{
    if (m_merged)
        return m_merged->merged() ? m_merged->merged()->timeOfRow(line) : std::nullopt;
    const TimeIndexPtr index = m_times->index();
    return index ? index->timeOfLine(line) : std::nullopt;
}

LineCount LogTab::logLineCount() const
{
    if (m_merged)
        return m_merged->merged() ? m_merged->merged()->lineCount() : LineCount(0);
    const DocumentPtr& text = m_log->source()->document();
    return text ? text->lineCount() : LineCount(0);
}

bool LogTab::readingTimes() const
{
    return m_merged ? m_merged->busy() && !m_merged->merged() : m_times->building();
}

void LogTab::keepFilterStack()
{
    const std::string path = m_log->source()->nativePath();
    if (path.empty())
        return;
    std::vector<FilterRow> kept;
    for (const StackRow& row : m_stack->rows())
        kept.push_back({row.pattern.toStdString(), row.regex, row.matchCase, row.kind, row.on});
    try {
        SaveFilterStack(path, kept);
    } catch (const Failure& failure) {
        m_status.setText(0, QStringLiteral("Filters not kept: ") + QString::fromLocal8Bit(failure.what()));
    }
}

void LogTab::showStackState()
{
    for (std::size_t row = 0; row < m_stack->rows().size(); ++row)
        m_stackBar->setRowError(row, m_stack->rowError(row));
    m_stackBar->setCount(m_stack->shownText());
    m_status.setText(4, m_stack->shownText());
}

void LogTab::addFilterRow(const StackRow& row)
{
    m_stackBar->addRow(row);
}

void LogTab::addLevelRow(bool withInfos)
{
    const std::shared_ptr<const ColourRules> rules = m_colouring->rules();
    QStringList words;
    const auto take = [&words](const auto& labels) {
        for (const std::string& label : labels) {
            if (!label.empty())
                words << QRegularExpression::escape(QString::fromStdU16String(decodeCp1252(label)));
        }
    };
    if (rules) {
        take(rules->errorLabels);
        if (withInfos)
            take(rules->infoLabels);
    }
    if (words.isEmpty()) {
        m_status.setText(0, QStringLiteral("The profile in force has no labels to show"));
        return;
    }
    StackRow row;
    row.pattern = words.join(QLatin1Char('|'));
    row.regex = true;
    row.kind = FilterRow::ShowOnly;
    addFilterRow(row);
}

LogTab::~LogTab() = default;

QString LogTab::path() const
{
    return m_journal ? m_journal->path() : m_log->currentPath();
}

bool LogTab::blank() const
{
    return !m_journal && m_log->currentPath().isEmpty() && m_opening.isEmpty() && !m_log->busy() &&
           !m_log->source()->isPipe();
}

void LogTab::openJournal(const JournalQuery& query)
{
    if (!m_journal) {
        m_journal = new JournalBinding(m_window, m_view, m_stack, m_times, m_colouring, &m_status, this);
        connect(m_journal, &JournalBinding::grew, this, &LogTab::noteGrowth);
        // The journal's fields beside the view.
        auto* panel = new JournalFieldsPanel(this);
        panel->setMinimumWidth(fontMetrics().averageCharWidth() * 36);
        static_cast<QGridLayout*>(layout())->addWidget(panel, 0, 2, 5, 1);
        m_journal->setFieldsPanel(panel);
        connect(m_journal, &QObject::destroyed, panel, &QObject::deleteLater);
        // The window's follow switches drive the journal as they drive a file: read at each
        // tick of the tab's watch timer.
        connect(m_log->watchTimer(), &QTimer::timeout, m_journal, [this] {
            if (!m_journal)
                return; // closed, and not yet gone
            m_journal->setGotoBottom(m_log->gotoBottom());
            if (m_journal->source()->following() != m_log->watchState().AutoRefresh)
                m_journal->source()->setFollowing(m_log->watchState().AutoRefresh);
        });
    }
    m_journal->open(query);
    m_title = QStringLiteral("Log Viewer - ") + m_journal->title();
}

void LogTab::closeJournal()
{
    if (!m_journal)
        return;
    // It may be its own signal that closes it.
    m_journal->deleteLater();
    m_journal = nullptr;
    m_view->setDocument(nullptr);
    m_title = QStringLiteral("Log Viewer - blank ");
}

void LogTab::setInSight(bool inSight)
{
    m_inSight = inSight;
    if (inSight && m_news != News::None) {
        m_news = News::None;
        emit newsChanged();
    }
    if (inSight)
        m_newsFrom = m_view->lineCount();
}

void LogTab::noteGrowth()
{
    if (m_inSight) {
        m_newsFrom = m_view->lineCount();
        return;
    }
    if (m_news == News::None) {
        m_news = News::Grew;
        emit newsChanged();
    }
    lookForErrors();
}

void LogTab::lookForErrors()
{
    // The strip marks each line that holds an error label; the new lines are looked at once
    // their marks are known.
    if (m_inSight || m_news != News::Grew || !m_overview->idle())
        return;
    const std::vector<std::uint8_t>& marks = m_overview->lineMarks();
    const auto known = static_cast<std::int64_t>(marks.size());
    for (std::int64_t line = std::min(m_newsFrom, known); line < known; ++line) {
        if (marks[static_cast<std::size_t>(line)] & kMarkError) {
            m_news = News::GrewWithError;
            emit newsChanged();
            return;
        }
    }
    m_newsFrom = known;
}

} // namespace tlg
