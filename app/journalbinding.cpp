#include "app/journalbinding.h"

#include "core/messages.h"
#include "document/encoding.h"
#include "format/colouring.h"
#include "navigate/filterstackrunner.h"
#include "navigate/journalfieldspanel.h"
#include "navigate/logtimes.h"
#include "source/journalsource.h"
#include "core/statuspanels.h"
#include "view/caretplacement.h"
#include "view/logview.h"

#include <QDateTime>
#include <QTimer>

namespace tlg {

namespace {

// Progress shows once a read has taken this long.
constexpr qint64 kProgressAfterMs = 500;

} // namespace

JournalBinding::JournalBinding(QWidget* window, LogView* view, FilterStackRunner* stack, LogTimes* times,
                               const Colouring* colouring, StatusPanels* status, QObject* parent)
    : QObject(parent), m_window(window), m_view(view), m_stack(stack), m_times(times), m_colouring(colouring),
      m_status(status), m_source(new JournalSource(this))
{
    connect(m_source, &JournalSource::documentChanged, this, &JournalBinding::showLines);
    connect(m_source, &JournalSource::progress, this, &JournalBinding::showProgress);
    connect(m_source, &JournalSource::failed, this, [this](const QString& text) {
        m_status->setText(0, text);
        showError(m_window, text);
        emit failed(text);
    });
}

JournalBinding::~JournalBinding() = default;

void JournalBinding::setFieldsPanel(JournalFieldsPanel* panel)
{
    m_panel = panel;
    connect(m_panel, &JournalFieldsPanel::tickedChanged, this, [this] {
        JournalQuery query = m_source->query();
        query.fields = m_panel->ticked();
        m_sinceOpen.start();
        m_source->open(query);
    });
    // The caret moves by keys and clicks; the view has moved it once the event is done.
    const auto later = [this] { QTimer::singleShot(0, this, &JournalBinding::showEntryFields); };
    connect(m_view, &LogView::keyPressed, this, later);
    connect(m_view, &LogView::mousePressed, this, later);
    connect(m_view, &LogView::documentChanged, this, later);
}

void JournalBinding::showEntryFields()
{
    const LinesPtr shown = m_view->document();
    if (!m_panel || !m_shown || !shown || shown->lineCount() == 0)
        return;
    const LineNumber line = shown->lineInLog(std::min<LineNumber>(m_view->caretLine(), EndLine(shown->lineCount()) - 1));
    const LineNumber entry = m_shown->entryStart(line);
    if (entry == m_entryShown)
        return;
    m_entryShown = entry;
    m_panel->showEntryFields(QString::fromUtf8(m_shown->fieldsOf(entry)));
}

void JournalBinding::open(const JournalQuery& query)
{
    m_sinceOpen.start();
    m_shown.reset();
    m_view->setEncoding(HeldEncoding(Encoding::Utf8));
    m_status->setText(0, tr("Opening %1").arg(title()));
    m_source->open(query);
}

QString JournalBinding::path() const
{
    const JournalQuery& query = m_source->query();
    if (query.where == JournalQuery::Where::Local || query.paths.empty())
        return {};
    return QString::fromStdString(query.paths.front());
}

QString JournalBinding::title() const
{
    return m_source->title();
}

void JournalBinding::showLines(bool grown)
{
    const JournalLinesPtr lines = m_source->lines();
    if (!lines)
        return;
    const JournalLinesPtr before = m_shown;
    const LinesPtr shownBefore = m_view->document();
    // Where the caret stands, as a line of the journal, and whether it is on the last line.
    const LineNumber caretInLog =
        shownBefore && shownBefore->lineCount() > 0 ? shownBefore->lineInLog(m_view->caretLine()) : LineNumber(0);
    const bool atEnd = !before || m_view->caretLine() + 1 >= m_view->lineCount();
    m_shown = lines;
    m_entryShown = -1;
    if (m_panel)
        m_panel->setLines(lines);
    const LinesPtr shown = m_stack->shownOf(lines, HeldEncoding(Encoding::Utf8));
    m_view->setDocument(shown, m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
    if (!grown)
        m_times->setText(lines, QDateTime::currentMSecsSinceEpoch() * 1000000);
    if (m_gotoBottom || atEnd) {
        ScrollToLine(m_view, m_view->lineCount());
    } else {
        // From the tail to the whole journal: the same entry counted from the end.
        LineNumber line = caretInLog;
        if (before && before->partial() && !lines->partial())
            line = EndLine(lines->lineCount()) - (before->lineCount() - LinesBefore(caretInLog));
        ShowLineInContext(m_view, std::clamp<LineNumber>(shown->lineShowing(line), 0,
                                                         std::max<std::int64_t>(0, m_view->lineCount() - 1)));
    }
    showStatus();
    if (grown)
        emit grew();
    else if (!lines->partial())
        emit opened();
}

void JournalBinding::showShownLinesAgain()
{
    if (!m_shown)
        return;
    const LinesPtr before = m_view->document();
    const LineNumber caretInLog = before && before->lineCount() > 0 ? before->lineInLog(m_view->caretLine()) : LineNumber(0);
    const bool atEnd = m_view->caretLine() + 1 >= m_view->lineCount();
    const LinesPtr shown = m_stack->shownOf(m_shown, HeldEncoding(Encoding::Utf8));
    if (shown == before)
        return;
    m_view->setDocument(shown, m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
    if (m_gotoBottom || (atEnd && m_view->caretLine() > 0))
        ScrollToLine(m_view, m_view->lineCount());
    else
        ShowLineInContext(m_view, std::min(shown->lineShowing(caretInLog).value(), std::max<std::int64_t>(0, m_view->lineCount() - 1)));
}

void JournalBinding::showStatus()
{
    if (!m_shown)
        return;
    QString text = m_shown->partial() ? tr("%1: the last %2 entries, reading the rest")
                                      : tr("%1: %2 entries");
    text = text.arg(title()).arg(m_shown->entryCount());
    if (m_shown->skipped() > 0)
        text += tr(", %1 skipped (unreadable or without a message)").arg(m_shown->skipped());
    if (m_source->hidesEntries())
        text += tr(" \u2014 only your own entries: members of the systemd-journal or adm group see all");
    m_status->setText(0, text);
}

void JournalBinding::showProgress(int percent)
{
    if (percent < 0) {
        m_status->setText(1, QString());
        return;
    }
    if (m_sinceOpen.isValid() && m_sinceOpen.elapsed() >= kProgressAfterMs)
        m_status->setText(1, tr("Reading the journal %1%").arg(percent));
}

} // namespace tlg
