#include "app/logpresenter.h"

#include "core/messages.h"
#include "core/statuspanels.h"
#include "core/timetext.h"
#include "format/colouring.h"
#include "navigate/filterstackrunner.h"
#include "view/caretplacement.h"
#include "view/logview.h"

#include <QApplication>

namespace tlg {

LogPresenter::LogPresenter(QWidget* window, LogView* view, FilterStackRunner* stack, const Colouring* colouring,
                           StatusPanels* status, QObject* parent)
    : QObject(parent), m_window(window), m_view(view), m_stack(stack), m_colouring(colouring), m_status(status)
{
}

void LogPresenter::setLog(Log* log)
{
    if (m_log)
        disconnect(m_log, nullptr, this, nullptr);
    m_log = log;
    if (!log) {
        m_view->setDocument(nullptr);
        return;
    }
    connect(log, &Log::changed, this, &LogPresenter::show);
    connect(log, &Log::progress, this, &LogPresenter::showProgress);
}

void LogPresenter::setStatusText(int panel, const QString& text)
{
    m_status->setText(panel, text);
}

void LogPresenter::showProgress(int percent)
{
    if (percent < 0) {
        // The report gives way to the text that was there once the read is over.
        if (m_progressShown)
            setStatusText(0, m_beforeProgress);
        m_progressShown = false;
        return;
    }
    if (!m_progressShown)
        m_beforeProgress = m_status->text(0);
    m_progressShown = true;
    setStatusText(0, QStringLiteral("Loading %1%").arg(percent));
}

bool LogPresenter::endInSight() const
{
    return m_view->firstVisibleLine() + m_view->visibleRows() >= m_view->lineCount();
}

void LogPresenter::show(const LogChange& change)
{
    if (change.status)
        setStatusText(0, *change.status);
    if (!change.alert.isEmpty())
        showError(m_window, change.alert);
    if (change.why == LogChange::Why::Said || !m_log)
        return;
    const Encoding held = HeldEncoding(m_log->encoding());
    m_view->setEncoding(held);
    if (change.why != LogChange::Why::Grew)
        setStatusText(1, QString::fromLatin1(EncodingName(m_log->encoding())));
    const LinesPtr before = m_view->document();
    const bool atEnd = endInSight();
    const bool caretAtEnd = m_view->caretLine() + 1 >= m_view->lineCount();
    const LinesPtr shown = m_stack->shownOf(m_log->lines(), held);
    const auto rules = m_colouring->colouringOn() ? m_colouring->rules() : nullptr;
    switch (change.why) {
    case LogChange::Why::Opened:
        m_view->setDocument(shown, rules);
        if (m_gotoBottom || change.toEnd)
            scrollToBottom();
        break;
    case LogChange::Why::Grew:
        // What is in sight stays, unless the reader follows the end.
        m_view->setDocument(shown, rules);
        if ((m_gotoBottom && (change.followed || atEnd)) || (change.keepAtEnd && caretAtEnd))
            scrollToBottom();
        break;
    case LogChange::Why::ReadAgain: {
        // The same log's lines anew: the reader stays on the same line of the log.
        const LineMapping inLog = change.mapping;
        const LinesPtr was = before;
        m_view->setDocument(shown, rules, [was, shown, inLog](LineNumber row) {
            if (!was || was->lineCount() == 0)
                return LineNumber(0);
            const LineNumber line = was->lineInLog(std::min<LineNumber>(row, EndLine(was->lineCount()) - 1));
            return shown->lineShowing(inLog ? inLog(line) : line);
        });
        if (m_gotoBottom || (change.keepAtEnd && caretAtEnd))
            scrollToBottom();
        break;
    }
    case LogChange::Why::Said:
        break;
    }
    if (rules) {
        if (!m_colouredOnce) {
            // From the first pass on, text that no label colours is black.
            m_view->setBaseTextColour(Qt::black);
            m_colouredOnce = true;
        }
        MarkColoured(m_due);
        sayColoured();
    } else {
        // Coloured at the first tick that finds colouring on again.
        m_due.FormatPending = true;
        m_due.FormatTicks = 999;
    }
    if (change.bringForward && QApplication::activeWindow())
        m_window->activateWindow();
    if (change.applied)
        emit formatApplied(m_log->path());
    if (change.why != LogChange::Why::Opened)
        emit grew();
}

void LogPresenter::sayColoured()
{
    // The encoding in use stays in sight after the time of the colouring.
    setStatusText(1, QStringLiteral("Format ") + dateTimeText() + QStringLiteral(" \u2014 ") +
                         QString::fromLatin1(EncodingName(m_log ? m_log->encoding() : Encoding::Windows1252)));
}

void LogPresenter::colourIfDue(int intervalMs)
{
    if (!TakeColouringTick(m_due, m_colouring->colouringOn(), intervalMs))
        return;
    showRulesNow();
    if (m_gotoBottom)
        scrollToBottom();
    MarkColoured(m_due);
    sayColoured();
}

void LogPresenter::showStackAgain()
{
    if (!m_log)
        return;
    const LinesPtr before = m_view->document();
    const bool caretAtEnd = m_view->caretLine() > 0 && m_view->caretLine() + 1 >= m_view->lineCount();
    const LinesPtr shown = m_stack->shownOf(m_log->lines(), HeldEncoding(m_log->encoding()));
    if (shown == before)
        return;
    m_view->setDocument(shown, m_colouring->colouringOn() ? m_colouring->rules() : nullptr, [before, shown](LineNumber row) {
        if (!before || before->lineCount() == 0)
            return LineNumber(0);
        return shown->lineShowing(before->lineInLog(std::min<LineNumber>(row, EndLine(before->lineCount()) - 1)));
    });
    if (m_gotoBottom || caretAtEnd)
        scrollToBottom();
}

void LogPresenter::setGotoBottom(bool on, bool fromButton)
{
    m_gotoBottom = on;
    if (on && fromButton)
        scrollToBottom();
}

void LogPresenter::scrollToBottom()
{
    ScrollToLine(m_view, m_view->lineCount());
}

void LogPresenter::showRulesNow()
{
    m_view->setColourRules(m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
}

} // namespace tlg
