#include "navigate/filterstackrunner.h"

#include "core/beside.h"

#include <QLocale>
#include <QTimer>

#include <algorithm>

namespace tlg {

struct FilterStackRunner::Job {
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    std::int64_t total = 0;
    std::shared_ptr<const FilterStack> stack;
    LinesPtr text;
    std::vector<FilterRow> rows;  // the kinds and switches to combine with
    FilterMatchesPtr matches;     // of this text already: only combined again
    FilterMatchesPtr unsettled;   // of this text already, to settle first
    bool keepShown = false;       // settling only: the lines shown stay
    FilterMatchesPtr earlier;     // of the text this one grew from
    KeptLinesPtr earlierShown;    // what earlier showed with these rows
    FilterMatchesPtr result;
    KeptLinesPtr shown;

    // Matches and combines, beside the GUI thread.
    void run();
};

void FilterStackRunner::Job::run()
{
    FilterMatchesPtr found = matches;
    if (unsettled) {
        found = stack->settle(*unsettled, cancel, done);
    } else if (!found) {
        // The lines shown come first: the rows left unmatched on lines already hidden are
        // matched by a pass of their own afterwards.
        // New lines of a followed log are matched whole.
        found = earlier ? stack->grow(*earlier, text, cancel, done, earlier->settled() ? nullptr : &rows)
                        : stack->run(text, cancel, done, &rows);
    }
    if (!found || cancel)
        return;
    if (!keepShown)
        shown = earlierShown ? found->shownGrown(*earlierShown, rows) : found->shown(rows);
    result = std::move(found);
}

FilterStackRunner::FilterStackRunner(QObject* parent) : QObject(parent)
{
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, [this] {
        if (!m_job || m_sinceStart.elapsed() < 500 || m_job->total <= 0)
            return;
        emit progress(static_cast<int>(std::min<std::int64_t>(99, m_job->done * 100 / m_job->total)));
    });
}

FilterStackRunner::~FilterStackRunner()
{
    cancel();
}

bool FilterStackRunner::active() const
{
    if (!m_stack)
        return false;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].on && m_errors[i].isEmpty() && !m_rows[i].pattern.isEmpty())
            return true;
    }
    return false;
}

QString FilterStackRunner::rowError(std::size_t row) const
{
    return row < m_errors.size() ? m_errors[row] : QString();
}

void FilterStackRunner::setRows(std::vector<StackRow> rows)
{
    if (rows == m_rows)
        return;
    const auto samePatterns = [](const std::vector<StackRow>& a, const std::vector<StackRow>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const StackRow& x, const StackRow& y) {
                   return x.pattern == y.pattern && x.regex == y.regex && x.matchCase == y.matchCase;
               });
    };
    const bool recombine = samePatterns(rows, m_rows) && m_stack;
    m_rows = std::move(rows);
    if (recombine) {
        // Only kinds or switches changed: the matches kept say what is shown, combined again.
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            m_matched[i].kind = m_rows[i].kind;
            m_matched[i].on = m_rows[i].on;
        }
    } else {
        compile();
        cancel();
        m_matches.reset();
    }
    if (!active()) {
        // Nothing to keep: the whole text is shown at once.
        cancel();
        emit shownChanged();
        return;
    }
    update();
}

void FilterStackRunner::compile()
{
    m_matched.clear();
    m_errors.assign(m_rows.size(), QString());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const StackRow& row = m_rows[i];
        FilterRow matched;
        matched.regex = row.regex;
        matched.matchCase = row.matchCase;
        matched.kind = row.kind;
        matched.on = row.on;
        // The pattern in the log's encoding; one holding a character the log cannot hold
        // matches nothing, and says so.
        if (std::optional<std::string> encoded = EncodeForLog(row.pattern.toStdU16String(), m_encoding))
            matched.pattern = std::move(*encoded);
        else
            m_errors[i] = QStringLiteral("The log's encoding cannot hold this pattern");
        m_matched.push_back(std::move(matched));
    }
    m_stack = std::make_shared<const FilterStack>(m_matched, m_encoding);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_errors[i].isEmpty())
            m_errors[i] = QString::fromStdString(m_stack->error(i));
    }
    emit errorsChanged();
}

LinesPtr FilterStackRunner::shownOf(const LinesPtr& text, Encoding encoding)
{
    if (text != m_text || encoding != m_encoding) {
        const bool recode = encoding != m_encoding;
        m_text = text;
        m_encoding = encoding;
        if (recode && !m_rows.empty()) {
            compile();
            cancel();
            m_matches.reset();
            m_shown.reset();
        }
        update();
    }
    if (!active() || !m_shown)
        return text;
    return m_shown;
}

void FilterStackRunner::update()
{
    if (m_job || !m_text || !active())
        return;
    const bool sameText = m_matches && m_matches->document() == m_text;
    const bool shownNow = sameText && m_shown && m_shownRows == m_matched;
    if (shownNow && m_matches->settled())
        return;
    auto job = std::make_shared<Job>();
    job->stack = m_stack;
    job->text = m_text;
    job->rows = m_matched;
    if (shownNow) {
        // The lines shown came before every row was matched on every line: the rest is
        // matched now, so that switching rows needs no pass.
        job->unsettled = m_matches;
        job->keepShown = true;
    } else if (sameText) {
        if (m_matches->knownUnder(m_matched))
            job->matches = m_matches; // only combined again
        else
            job->unsettled = m_matches;
    } else if (m_matches && m_text->grewFrom(*m_matches->document())) {
        // A text that only grew costs its new lines, and so do the lines it shows.
        job->earlier = m_matches;
        if (m_shown && m_shownRows == m_matched)
            job->earlierShown = m_shown;
    }
    const ByteOffset from =
        job->matches ? m_text->size()
        : job->unsettled ? ByteOffset(0)
        : job->earlier
            ? m_text->lineIndex(EndLine(job->earlier->lineCount() > 0 ? job->earlier->lineCount() - 1 : LineCount(0)))
            : ByteOffset(0);
    job->total = (m_text->size() - from).value();
    m_job = job;
    m_sinceStart.start();
    m_progressTimer->start();
    // Matching and combining both run on the executor, as work the reader waits for: the GUI
    // thread only takes the result. A runner gone by then takes nothing.
    RunBeside(this, Executor::Priority::User, [job] {
        try {
            job->run();
        } catch (...) {
            // A pass that failed shows nothing new; the runner still ends it.
            job->result.reset();
        }
    }, [this, job] { finish(job); });
}

void FilterStackRunner::finish(const std::shared_ptr<Job>& job)
{
    if (job != m_job)
        return; // cancelled, or overtaken
    m_job.reset();
    m_progressTimer->stop();
    emit progress(-1);
    if (job->result && job->stack == m_stack && job->keepShown) {
        m_matches = job->result;
    } else if (job->result && job->stack == m_stack) {
        m_matches = job->result;
        m_shown = job->shown;
        m_shownRows = job->rows;
        m_shownTotal = m_matches->lineCount();
        emit shownChanged();
    }
    // The text or the rows may have changed meanwhile.
    update();
}

void FilterStackRunner::cancel()
{
    if (m_job) {
        m_job->cancel = true;
        m_job.reset();
        m_progressTimer->stop();
        emit progress(-1);
    }
}

QString FilterStackRunner::shownText() const
{
    if (!active() || !m_shown)
        return {};
    return QStringLiteral("%1 of %2 lines shown")
        .arg(QLocale().toString(static_cast<qlonglong>(m_shown->lineCount().value())),
             QLocale().toString(static_cast<qlonglong>(m_shownTotal.value())));
}

} // namespace tlg
