#include "navigate/filterpane.h"

#include "core/beside.h"
#include "core/controls.h"
#include "core/errors.h"
#include "view/caretplacement.h"
#include "view/logview.h"
#include "search/linefilter.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <set>

namespace tlg {

namespace {

// The pause after the last key before the list is filtered again.
constexpr int kTypingPauseMs = 250;
// Lines appended to a followed log up to this size are filtered at once on the GUI thread
// (a few milliseconds); more go beside it.
constexpr ByteOffset kFilterAtOnce = 4 << 20;

} // namespace

// One search beside the GUI thread: what it found and how far it got.
struct FilterPane::Job {
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    std::int64_t from = 0;
    std::int64_t total = 0;
    std::vector<LineNumber> lines;
    std::string failure; // why the search could not end, as the reader is told
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

    m_list = new LogView(this);
    m_list->setObjectName(QStringLiteral("FilterView"));
    m_list->setLineNumbersShown(true);
    column->addWidget(m_list, 1);
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
    connect(m_list, &LogView::mousePressed, this, [this](Qt::MouseButton button) {
        if (button == Qt::LeftButton)
            jumpToCaretLine();
    });
    connect(m_list, &LogView::keyPressed, this, [this](int key, Qt::KeyboardModifiers) {
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            jumpToCaretLine();
    });
}

FilterPane::~FilterPane()
{
    cancelJob();
}

void FilterPane::setLogView(LogView* view)
{
    m_log = view;
    view->installEventFilter(this);
    // The log's marks show on the listed lines, and a mark set or taken away in the list is
    // the log's.
    connect(view, &LogView::lineMarksChanged, this, &FilterPane::showLogMarks);
    connect(m_list, &LogView::lineMarksChanged, this, [this] {
        if (!m_log || !m_kept || m_log->document() != m_document)
            return;
        // Marks are kept by the line of the log, in the list as in the view.
        const std::set<std::int64_t>& shown = m_log->lineMarks();
        std::set<std::int64_t> changed;
        std::set_symmetric_difference(shown.begin(), shown.end(), m_list->lineMarks().begin(),
                                      m_list->lineMarks().end(), std::inserter(changed, changed.end()));
        for (const std::int64_t logLine : changed)
            m_log->toggleLogLineMark(logLine);
    });
    m_list->setFontPointSize(view->fontPointSize());
    connect(view, &LogView::documentChanged, this, &FilterPane::shownTextChanged);
    // The list is coloured as the log is.
    connect(view, &LogView::contentChanged, this, [this] {
        if (m_list->colourRules() != m_log->colourRules())
            m_list->setColourRules(m_log->colourRules());
        m_list->setBackgroundColour(m_log->backgroundColour());
        m_list->setBaseTextColour(m_log->baseTextColour());
    });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), window()), &QShortcut::activated, this,
            &FilterPane::toggle);
}

QString FilterPane::pattern() const
{
    return m_text->text();
}

bool FilterPane::matchCase() const
{
    return m_case->isChecked();
}

bool FilterPane::regex() const
{
    return m_regex->isChecked();
}

void FilterPane::setPattern(const QString& pattern, bool matchCase, bool regex)
{
    m_case->setChecked(matchCase);
    m_regex->setChecked(regex);
    m_text->setText(pattern);
    restart();
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
    m_filter.reset();
    m_document = m_log ? m_log->document() : nullptr;
    m_encoding = m_log ? m_log->encoding() : Encoding::Windows1252;
    m_list->setEncoding(m_encoding);
    showKept(m_document ? KeptLines::of(m_document, {}) : nullptr, false);
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
    job->from = m_document->lineIndex(fromLine).value();
    job->done = job->from;
    job->total = (m_document->size() - job->from).value();
    m_job = job;
    m_status->setText(QStringLiteral("Searching..."));
    m_progress->setValue(0);
    m_progress->show();
    m_progressTimer->start();
    // The search holds what it reads: the document and the filter outlive the pane if need be.
    // A pane gone by then takes nothing.
    RunBeside(
        this, Executor::Priority::User,
        [filter = m_filter, document = m_document, fromLine, job] {
            try {
                return filter->run(*document, fromLine, job->lines, job->cancel, job->done);
            } catch (const std::exception& failed) {
                job->failure = failed.what();
                return false;
            }
        },
        [this, job, fromLine](bool finished) {
            if (job != m_job)
                return; // cancelled, or overtaken by another search
            m_job.reset();
            m_progressTimer->stop();
            m_progress->hide();
            if (!finished) {
                m_status->setText(QStringLiteral("Search failed: ") + QString::fromUtf8(job->failure));
                return;
            }
            keepMatches(fromLine, job->lines);
            showCount();
            // The shown text may have changed meanwhile.
            shownTextChanged();
            if (!m_job)
                emit searchFinished();
        });
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
    const LineNumber fromLine = before->rowCount() > before->lineCount() ? EndLine(before->lineCount())
                                                                         : std::max<LineNumber>(EndLine(before->lineCount()) - 1, 0);
    m_document = now;
    if (now->size() - now->lineIndex(fromLine) > kFilterAtOnce) {
        keepMatches(fromLine, {});
        startJob(fromLine);
        return;
    }
    std::vector<LineNumber> lines;
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    m_filter->run(*now, fromLine, lines, cancel, done);
    keepMatches(fromLine, lines);
    showCount();
}

void FilterPane::keepMatches(LineNumber fromLine, const std::vector<LineNumber>& lines)
{
    if (!m_kept) {
        showKept(KeptLines::of(m_document, lines), false);
        return;
    }
    showKept(m_kept->grownTo(m_document, fromLine, lines), true);
}

void FilterPane::showKept(KeptLinesPtr kept, bool sameStart)
{
    const std::int64_t caret = m_list->caretOffset();
    const std::int64_t top = m_list->firstVisibleLine();
    // A list scrolled to its end follows the end as lines are added, as the log's view does.
    const bool atEnd = m_kept && top + m_list->visibleRows() >= m_kept->rowCount().value();
    m_kept = std::move(kept);
    m_list->setDocument(m_kept, m_log ? m_log->colourRules() : nullptr);
    showLogMarks();
    if (sameStart) {
        // The lines before the new ones stay where they were.
        m_list->setSelection(caret, 0);
        m_list->setFirstVisibleLine(atEnd ? m_kept->rowCount().value() : top);
    }
}

void FilterPane::showLogMarks()
{
    m_list->setLineMarks(m_log ? m_log->lineMarks() : std::set<std::int64_t>());
}

bool FilterPane::eventFilter(QObject* watched, QEvent* event)
{
    // The list zooms with the log.
    if (watched == m_log && event->type() == QEvent::FontChange)
        m_list->setFontPointSize(m_log->fontPointSize());
    return QWidget::eventFilter(watched, event);
}

void FilterPane::showCount()
{
    const qint64 count = matchCount();
    m_status->setText(count == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(count));
}

void FilterPane::jumpToCaretLine()
{
    if (!m_log || !m_kept || m_list->caretLine() >= m_kept->lineCount())
        return;
    LogView* view = m_log;
    if (view->document() != m_document)
        return; // the list belongs to a text no longer shown
    ShowLineInContext(view, matchedLine(m_list->caretLine()));
}

} // namespace tlg
