#include "app/logtab.h"

#include "app/logpresenter.h"
#include "core/cp1252.h"
#include "core/errors.h"
#include "format/colouring.h"
#include "navigate/fieldspanel.h"
#include "navigate/fileslegend.h"
#include "navigate/filterpane.h"
#include "navigate/filterstackbar.h"
#include "navigate/filterstackrunner.h"
#include "navigate/gototimedialog.h"
#include "navigate/histogramstrip.h"
#include "navigate/positionindicator.h"
#include "search/colourrules.h"
#include "search/overview.h"
#include "source/filterstore.h"
#include "source/follower.h"
#include "source/linemarks.h"
#include "view/caretplacement.h"
#include "view/logview.h"
#include "view/overviewstrip.h"

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
    // The time histogram, above the view.
    m_histogram = new HistogramStrip(m_view, this);
    m_histogram->setObjectName(QStringLiteral("TimeHistogram"));
    grid->addWidget(m_histogram, 1, 0, 1, 2);
    // The files of a log made of several, below the view.
    m_legend = new FilesLegend(this);
    grid->addWidget(m_legend, 4, 0, 1, 2);

    // The filter stack: the view shows the lines it keeps, which its runner finds beside the
    // GUI thread; the view keeps the last lines found until the next are ready.
    m_stack = new FilterStackRunner(this);
    m_presenter = new LogPresenter(window, m_view, m_stack, colouring, &m_status, this);
    connect(m_stackBar, &FilterStackBar::rowsChanged, this, [this] {
        m_stack->setRows(m_stackBar->rows());
        keepFilterStack();
    });
    connect(m_stackBar, &FilterStackBar::levelRowRequested, this, &LogTab::addLevelRow);
    connect(m_stack, &FilterStackRunner::shownChanged, this, [this] {
        m_presenter->showStackAgain();
        showStackState();
    });
    connect(m_stack, &FilterStackRunner::errorsChanged, this, &LogTab::showStackState);
    connect(m_stack, &FilterStackRunner::progress, m_stackBar, &FilterStackBar::setProgress);
    connect(m_presenter, &LogPresenter::grew, this, &LogTab::noteGrowth);

    m_position = new PositionIndicator(m_view, &m_status, this);
    m_position->setTimeOfLine([this](std::int64_t line) {
        if (!m_log)
            return QString();
        const std::optional<std::int64_t> time = m_log->timeOfLine(m_view->document()->lineInLog(line));
        return time ? GotoTimeDialog::timeText(*time) : QString();
    });
    connect(m_view, &LogView::statusMessage, this, [this](const QString& text) { m_status.setText(0, text); });
    connect(m_overview, &OverviewStrip::marksUpdated, this, &LogTab::lookForErrors);

    // The watcher: the line indicator and a due colouring keep time with its ticks.
    m_follower = new Follower(this);
    connect(m_follower, &Follower::ticked, m_position, &PositionIndicator::UpdatePositionIndicator);
    connect(m_follower, &Follower::ticked, this,
            [this] { m_presenter->colourIfDue(m_follower->timer()->interval()); });

    // The reader's marks on lines belong to the log: set when it opens, kept when they change.
    connect(m_view, &LogView::lineMarksChanged, this, [this] {
        if (!m_log || m_log->settingsKey().empty())
            return; // a pipe's marks go with it
        try {
            SaveLineMarks(m_log->settingsKey(), m_view->lineMarks());
        } catch (const Failure& failure) {
            m_status.setText(0, QStringLiteral("Marks not kept: ") + QString::fromLocal8Bit(failure.what()));
        }
    });
}

LogTab::~LogTab() = default;

QTimer* LogTab::watchTimer() const
{
    return m_follower->timer();
}

void LogTab::open(Log* log)
{
    m_log = log;
    log->setParent(this);
    log->setFollowing(m_switches.autoRefresh);
    log->setConvertUnicode(m_switches.convertUnicode);
    log->chooseEncoding(m_switches.encoding);
    m_presenter->setLog(log);
    m_histogram->setLog(log);
    m_follower->setLog(log);
    m_title = QStringLiteral("Log Viewer - ") + log->name();
    emit titleChanged(m_title);
    connect(log, &Log::opened, this, &LogTab::logOpened);
    connect(log, &Log::changed, this, &LogTab::logChanged);
    connect(log, &Log::changeWaiting, this, [this](bool waiting) {
        m_reloadAlert = waiting;
        emit reloadAlertChanged(waiting);
    });
    connect(log, &Log::openRequested, this, &LogTab::openRequested);
    // The files of a log made of several: each one's lines shown or left out.
    const QStringList files = log->files();
    if (files.size() > 1) {
        m_view->setFileNames(files);
        m_legend->setFiles(files);
        connect(m_legend, &FilesLegend::shownChanged, log,
                [log](int file, bool shown) { log->setFileShown(static_cast<std::size_t>(file), shown); });
    }
    // The fields of a log whose lines are entries, beside the view.
    if (LogFields* fields = log->fields()) {
        m_fields = new FieldsPanel(this);
        m_fields->setMinimumWidth(fontMetrics().averageCharWidth() * 36);
        static_cast<QGridLayout*>(layout())->addWidget(m_fields, 0, 2, 5, 1);
        connect(m_fields, &FieldsPanel::tickedChanged, log, [this, fields] { fields->narrowTo(m_fields->ticked()); });
        // The caret moves by keys and clicks; the view has moved it once the event is done.
        const auto later = [this] { QTimer::singleShot(0, this, &LogTab::showEntryFields); };
        connect(m_view, &LogView::keyPressed, this, later);
        connect(m_view, &LogView::mousePressed, this, later);
        connect(m_view, &LogView::documentChanged, this, later);
    }
    log->start();
}

void LogTab::close()
{
    if (!m_log)
        return;
    m_follower->setLog(nullptr);
    m_presenter->setLog(nullptr);
    m_histogram->setLog(nullptr);
    // It stops following now, not when it is gone.
    m_log->setWatched(false);
    m_log->setNotified(false);
    m_log->deleteLater(); // it may be its own notice that closes it
    m_log = nullptr;
    delete m_fields;
    m_fields = nullptr;
    m_title = QStringLiteral("Log Viewer - blank ");
    emit titleChanged(m_title);
}

void LogTab::logOpened(bool ok)
{
    m_opening.clear();
    if (ok && m_log) {
        const QString title = QStringLiteral("Log Viewer - ") + m_log->name();
        if (title != std::exchange(m_title, title))
            emit titleChanged(m_title);
        takeKeptSettings();
    }
    emit opened(ok);
}

void LogTab::takeKeptSettings()
{
    const std::string key = m_log->settingsKey();
    if (key.empty())
        return;
    m_view->setLineMarks(LoadLineMarks(key));
    // A log opens with the stack kept for it, unless it was given one.
    if (!m_stack->rows().empty())
        return;
    std::vector<StackRow> rows;
    for (const FilterRow& kept : LoadFilterStack(key))
        rows.push_back({QString::fromUtf8(kept.pattern), kept.regex, kept.matchCase, kept.kind, kept.on});
    if (!rows.empty())
        setFilterRows(rows);
}

void LogTab::logChanged(const LogChange& change)
{
    if (change.why == LogChange::Why::Opened) {
        // What a log holds when first shown is not news, errors or not.
        m_newsFrom = m_view->lineCount();
    }
    if (change.why != LogChange::Why::Said && m_log && m_log->convertUnicode() != m_switches.convertUnicode) {
        // A 16-bit log turns "View Unicode" on.
        m_switches.convertUnicode = m_log->convertUnicode();
        emit switchesChanged();
    }
    if (m_fields && m_log && m_log->fields() && !m_log->fields()->narrowed() && change.why != LogChange::Why::Said)
        m_fields->setFields(m_log->fields()->listedFields());
}

void LogTab::showEntryFields()
{
    const LinesPtr shown = m_view->document();
    LogFields* fields = m_log ? m_log->fields() : nullptr;
    if (!m_fields || !fields || !shown || shown->lineCount() == 0)
        return;
    const LineNumber line = shown->lineInLog(std::min<LineNumber>(m_view->caretLine(), EndLine(shown->lineCount()) - 1));
    const LineNumber entry = fields->entryStart(line);
    if (entry == m_entryShown)
        return;
    m_entryShown = entry;
    m_fields->showEntryFields(fields->entryFields(entry));
}

// --- Switches ---------------------------------------------------------------------------------

void LogTab::setAutoRefresh(bool on, bool fromButton)
{
    // ToolButton17Click sets the box too; CheckBox5Click the watcher's switch alone.
    m_switches.autoRefresh = on;
    if (m_log)
        m_log->setFollowing(on);
    if (fromButton) {
        m_switches.autoRefreshButton = on;
        if (on)
            m_follower->keepRunning();
    }
}

void LogTab::setGotoBottom(bool on, bool fromButton)
{
    m_switches.gotoBottom = on;
    m_presenter->setGotoBottom(on, fromButton);
}

void LogTab::setWordWrap(bool on)
{
    // CheckBox1Click
    m_switches.wordWrap = on;
    m_view->setWordWrap(on);
    // Back to the caret's line, which the wrap change may have moved out of sight.
    ScrollToLine(m_view, m_view->caretLine());
}

void LogTab::setConvertUnicode(bool on)
{
    m_switches.convertUnicode = on;
    if (m_log)
        m_log->setConvertUnicode(on);
}

void LogTab::chooseEncoding(const EncodingChoice& choice)
{
    m_switches.encoding = choice;
    if (m_log)
        m_log->chooseEncoding(choice);
}

// --- Names and counts -------------------------------------------------------------------------

QString LogTab::displayName() const
{
    if (m_log)
        return m_log->displayName();
    return m_opening.isEmpty() ? QStringLiteral("(blank)") : QFileInfo(m_opening).fileName();
}

QString LogTab::path() const
{
    return m_log ? m_log->path() : m_opening;
}

LineCount LogTab::logLineCount() const
{
    return m_log ? m_log->lines()->lineCount() : LineCount(0);
}

// --- The filter stack -------------------------------------------------------------------------

void LogTab::setFilterRows(const std::vector<StackRow>& rows)
{
    m_stackBar->setRows(rows);
    m_stack->setRows(rows);
}

void LogTab::keepFilterStack()
{
    const std::string key = m_log ? m_log->settingsKey() : std::string();
    if (key.empty())
        return;
    std::vector<FilterRow> kept;
    for (const StackRow& row : m_stack->rows())
        kept.push_back({row.pattern.toStdString(), row.regex, row.matchCase, row.kind, row.on});
    try {
        SaveFilterStack(key, kept);
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

// --- News of a tab out of sight ---------------------------------------------------------------

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
