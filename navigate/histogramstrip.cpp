#include "navigate/histogramstrip.h"
#include "core/beside.h"

#include "navigate/gototimedialog.h"
#include "source/log.h"
#include "view/caretplacement.h"
#include "view/logview.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <atomic>


namespace tlg {

namespace {

constexpr int kStripHeight = 56;
constexpr int kTextRow = 14;  // the line of text above the bars
constexpr int kBarPixels = 4; // the narrowest a bar is drawn
constexpr int kDragPixels = 4; // a press that moves less is a click

bool sameRules(const std::shared_ptr<const ColourRules>& a, const std::shared_ptr<const ColourRules>& b)
{
    if (!a || !b)
        return a == b;
    return a->infoLabels == b->infoLabels && a->errorLabels == b->errorLabels && a->showInfo == b->showInfo &&
           a->showErrors == b->showErrors && a->asciiCaseOnly == b->asciiCaseOnly;
}

QColor fromRgb(std::uint32_t rgb)
{
    return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>(rgb & 0xFF));
}

} // namespace

// One count: the whole log's (anew, or grown from `earlier`), or a closer look at a window.
struct HistogramStrip::Job {
    std::atomic<bool> stop{false};
    LinesPtr lines;
    TimeForm form = TimeForm::None;
    StampContext ctx;
    std::shared_ptr<const ColourRules> rules;
    LogHistogramPtr earlier;
    LogHistogramPtr result;
    // A window: its times, and its lines as the time index found them.
    std::optional<std::pair<std::int64_t, std::int64_t>> window;
    LineNumber first = 0;
    LineNumber end = 0;
    std::optional<std::int64_t> carried;
    std::optional<TimeHistogram> windowResult;
    // The lines of several logs, each counted in its own form (LineSource::timedParts).
    bool byParts = false;
};

HistogramStrip::HistogramStrip(LogView* view, QWidget* parent)
    : QWidget(parent), m_view(view)
{
    setFixedHeight(kStripHeight);
    setMouseTracking(false);
    setCursor(Qt::PointingHandCursor);
    hide(); // until there are times to show
    connect(m_view, &LogView::contentChanged, this, &HistogramStrip::refresh, Qt::QueuedConnection);
}

HistogramStrip::~HistogramStrip()
{
    if (m_job)
        m_job->stop = true;
}

const TimeHistogram* HistogramStrip::shown() const
{
    if (m_zoom && m_zoomCounts)
        return &*m_zoomCounts;
    return m_counts ? &m_counts->histogram() : nullptr;
}

void HistogramStrip::setLog(Log* log)
{
    if (m_log)
        disconnect(m_log, nullptr, this, nullptr);
    m_log = log;
    if (m_job)
        m_job->stop = true;
    m_job.reset();
    m_dirty = false;
    showNoCounts();
    if (log)
        connect(log, &Log::timesChanged, this, &HistogramStrip::refresh);
    refresh();
}

LogTimeline HistogramStrip::timeline() const
{
    return m_log ? m_log->timeline() : LogTimeline{};
}

void HistogramStrip::showNoCounts()
{
    m_counts.reset();
    m_zoom.reset();
    m_zoomCounts.reset();
    hide();
}

void HistogramStrip::refreshParts(const LinesPtr& parted)
{
    if (m_job) {
        // Every merge of the files counts from the counts before it, file by file: the one
        // under way is never thrown away, and the newest merge is looked at when it ends.
        m_dirty = true;
        return;
    }
    if (!m_log || !m_log->lastTime()) {
        showNoCounts();
        return;
    }
    auto job = std::make_shared<Job>();
    job->byParts = true;
    job->lines = parted;
    job->rules = m_view->matchRules();
    const bool sameCounting = m_counts && m_counts->byParts() && sameRules(m_counts->rules(), job->rules);
    if (sameCounting && m_counts->lines() == job->lines)
        return;
    if (sameCounting)
        job->earlier = m_counts;
    start(std::move(job));
}

void HistogramStrip::refresh()
{
    const LogTimeline times = timeline();
    if (!times.index && times.lines) {
        // Several logs, each counted in its own form.
        if (times.lines->timedParts()) {
            refreshParts(times.lines);
            return;
        }
    }
    const TimeIndexPtr index = times.index;
    if (m_job) {
        // A count is not thrown away for the same log grown, or a followed log would never be
        // counted: the newest state is looked at when it ends. Another log's count is.
        const bool otherLog = index && !m_job->window && index->lines() != m_job->lines &&
                              !index->lines()->grewFrom(*m_job->lines);
        if (!otherLog) {
            m_dirty = true;
            return;
        }
        m_job->stop = true;
        m_job.reset();
        m_dirty = false;
    }
    if (!index) {
        if (!m_log || !m_log->readingTimes())
            showNoCounts();
        return;
    }
    if (!index->lastTime()) {
        // No line carries a time.
        showNoCounts();
        return;
    }
    auto job = std::make_shared<Job>();
    job->lines = index->lines();
    job->form = index->form();
    job->ctx = index->context();
    job->rules = m_view->matchRules();
    const bool sameCounting = m_counts && m_counts->form() == job->form && sameRules(m_counts->rules(), job->rules);
    if (sameCounting && m_counts->lines() == job->lines)
        return;
    if (sameCounting && job->lines->grewFrom(*m_counts->lines()))
        job->earlier = m_counts;
    start(std::move(job));
}

void HistogramStrip::zoomTo(std::int64_t from, std::int64_t to)
{
    if (m_job) {
        m_pendingZoom = std::pair(from, to); // once the count under way ends
        return;
    }
    const LogTimeline times = timeline();
    if (!times.index && times.lines && times.lines->timedParts()) {
        if (!m_counts || to <= from)
            return;
        auto job = std::make_shared<Job>();
        job->byParts = true;
        job->lines = times.lines;
        job->rules = m_counts->rules();
        job->window = std::pair(from, to);
        start(std::move(job));
        return;
    }
    const TimeIndexPtr index = times.index;
    if (!index || !m_counts || to <= from)
        return;
    auto job = std::make_shared<Job>();
    job->lines = index->lines();
    job->form = index->form();
    job->ctx = index->context();
    job->rules = m_counts->rules();
    job->window = std::pair(from, to);
    // The index is asked here, on the GUI thread: its stamp context is one thread's.
    job->first = index->firstLineAtOrAfter(from);
    job->end = index->firstLineAtOrAfter(to);
    if (job->first > 0)
        job->carried = index->timeOfLine(job->first - 1);
    start(std::move(job));
}

void HistogramStrip::zoomOut()
{
    m_pendingZoom.reset();
    if (!m_zoom)
        return;
    m_zoom.reset();
    m_zoomCounts.reset();
    layBars();
    update();
}

void HistogramStrip::start(std::shared_ptr<Job> job)
{
    m_job = job;
    // The counts are worth having but nothing waits on them: they are work that can wait, so
    // that the view's own passes get the processors first.
    RunBeside(
        this, Executor::Priority::Background,
        [job] {
            try {
                if (job->byParts && job->window) {
                    job->windowResult = CountPartsWindow(*job->lines, job->window->first, job->window->second,
                                                         job->rules.get(), &job->stop);
                } else if (job->byParts) {
                    job->result = LogHistogram::countParts(job->lines, job->rules, job->earlier.get(), &job->stop);
                } else if (job->window) {
                    job->windowResult = CountWindow(*job->lines, job->first, job->end, job->carried, job->window->first,
                                                    job->window->second, job->form, job->ctx, job->rules.get(), &job->stop);
                } else {
                    job->result = job->earlier ? job->earlier->grownTo(job->lines, &job->stop)
                                               : LogHistogram::count(job->lines, job->form, job->ctx, job->rules, &job->stop);
                }
            } catch (...) {
                // A log that cannot be read (gone, truncated) shows the counts it had.
            }
        },
        [this, job] { finished(job); });
}

void HistogramStrip::finished(const std::shared_ptr<Job>& job)
{
    if (job != m_job)
        return;
    m_job.reset();
    if (job->window && job->windowResult) {
        m_zoom = job->window;
        m_zoomCounts = std::move(job->windowResult);
    } else if (job->result) {
        // Another log (not this one grown) is looked at whole again.
        if (!job->earlier) {
            m_zoom.reset();
            m_zoomCounts.reset();
        }
        m_counts = job->result;
        show();
    }
    layBars();
    update();
    emit countsUpdated();
    if (const auto zoom = std::exchange(m_pendingZoom, std::nullopt))
        zoomTo(zoom->first, zoom->second);
    if (std::exchange(m_dirty, false))
        refresh();
}

QRect HistogramStrip::barArea() const
{
    return rect().adjusted(1, kTextRow, -1, -2);
}

void HistogramStrip::layBars()
{
    const TimeHistogram* histogram = shown();
    const int maxBars = std::max(1, barArea().width() / kBarPixels);
    if (!histogram || histogram->empty()) {
        m_bars = {};
    } else if (m_zoom) {
        m_bars = histogram->bars(m_zoom->first, m_zoom->second, maxBars);
    } else {
        m_bars = histogram->bars(maxBars);
    }
}

void HistogramStrip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layBars();
}

int HistogramStrip::barAt(int x) const
{
    const QRect area = barArea();
    const auto count = static_cast<int>(m_bars.bars.size());
    if (count == 0 || area.width() <= 0 || x < area.left() || x > area.right())
        return -1;
    return std::clamp(static_cast<int>(static_cast<std::int64_t>(x - area.left()) * count / area.width()), 0, count - 1);
}

QRect HistogramStrip::barRect(int bar) const
{
    const QRect area = barArea();
    const auto count = static_cast<int>(m_bars.bars.size());
    if (bar < 0 || bar >= count)
        return {};
    const int left = area.left() + static_cast<int>(static_cast<std::int64_t>(bar) * area.width() / count);
    const int right = area.left() + static_cast<int>(static_cast<std::int64_t>(bar + 1) * area.width() / count);
    return QRect(left, area.top(), std::max(right - left, 1), area.height());
}

void HistogramStrip::goToBar(int bar)
{
    if (!m_log || bar < 0 || bar >= static_cast<int>(m_bars.bars.size()) || m_view->lineCount() == 0)
        return;
    const std::optional<LineNumber> inLog = m_log->firstLineAtOrAfter(m_bars.start + m_bars.interval * bar);
    if (!inLog)
        return;
    const LineNumber row = m_view->document()->lineShowing(*inLog);
    ShowLineInContext(m_view, std::min(row.value(), m_view->lineCount() - 1));
    m_view->setFocus();
}

void HistogramStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(246, 246, 246));
    painter.setPen(QColor(200, 200, 200));
    painter.drawLine(0, height() - 1, width(), height() - 1);
    const QRect area = barArea();
    const auto count = static_cast<int>(m_bars.bars.size());
    if (count == 0)
        return;
    std::int64_t most = 1;
    for (const TimeBucket& bar : m_bars.bars)
        most = std::max(most, bar.lines);
    const QColor errorColour = fromRgb(kErrorRgb);
    const QColor infoColour = fromRgb(kInfoRgb);
    const QColor lineColour(150, 150, 150);
    const auto pixels = [&](std::int64_t lines) {
        return static_cast<int>((lines * area.height() + most - 1) / most); // a line is never lost to rounding
    };
    for (int i = 0; i < count; ++i) {
        const TimeBucket& bar = m_bars.bars[static_cast<std::size_t>(i)];
        if (bar.lines == 0)
            continue;
        QRect slot = barRect(i);
        if (slot.width() > 2)
            slot.setWidth(slot.width() - 1); // a gap between bars
        // From the bottom: the error part, the info part, the other lines.
        int bottom = area.bottom() + 1;
        const int all = pixels(bar.lines);
        const int errors = bar.errors > 0 ? std::max(1, pixels(bar.errors)) : 0;
        const int infos = bar.infos > 0 ? std::max(1, pixels(bar.infos)) : 0;
        painter.fillRect(slot.left(), bottom - errors, slot.width(), errors, errorColour);
        bottom -= errors;
        painter.fillRect(slot.left(), bottom - infos, slot.width(), infos, infoColour);
        bottom -= infos;
        const int rest = std::max(0, all - errors - infos);
        painter.fillRect(slot.left(), bottom - rest, slot.width(), rest, lineColour);
    }
    // The range and the interval, above the bars.
    painter.setPen(QColor(60, 60, 60));
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    painter.setFont(small);
    const QString interval = QString::fromStdString(IntervalText(m_bars.interval));
    const QRect textRow(4, 0, width() - 8, kTextRow);
    painter.drawText(textRow, Qt::AlignLeft | Qt::AlignVCenter, GotoTimeDialog::timeText(m_bars.start));
    painter.drawText(textRow, Qt::AlignRight | Qt::AlignVCenter, GotoTimeDialog::timeText(m_bars.end()));
    painter.drawText(textRow, Qt::AlignHCenter | Qt::AlignVCenter,
                     m_zoom ? QStringLiteral("%1 a bar, closer look (right-click: whole log)").arg(interval)
                            : QStringLiteral("%1 a bar").arg(interval));
    // The stretch being dragged over.
    if (m_pressX && std::abs(m_dragX - *m_pressX) >= kDragPixels) {
        const int left = std::min(m_dragX, *m_pressX);
        painter.fillRect(QRect(left, area.top(), std::abs(m_dragX - *m_pressX), area.height()), QColor(0, 120, 215, 60));
    }
}

bool HistogramStrip::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int bar = barAt(help->pos().x());
        if (bar < 0) {
            QToolTip::hideText();
            return true;
        }
        const TimeBucket& counts = m_bars.bars[static_cast<std::size_t>(bar)];
        const std::int64_t start = m_bars.start + m_bars.interval * bar;
        QToolTip::showText(help->globalPos(),
                           QStringLiteral("%1 to %2\n%3 lines, %4 with errors, %5 with info\nClick: go to its first line; "
                                          "drag: look closer")
                               .arg(GotoTimeDialog::timeText(start), GotoTimeDialog::timeText(start + m_bars.interval))
                               .arg(counts.lines)
                               .arg(counts.errors)
                               .arg(counts.infos),
                           this);
        return true;
    }
    return QWidget::event(event);
}

void HistogramStrip::mousePressEvent(QMouseEvent* event)
{
    const int x = static_cast<int>(event->position().x());
    if (event->button() == Qt::RightButton) {
        zoomOut();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    m_pressX = x;
    m_dragX = x;
}

void HistogramStrip::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressX)
        return;
    m_dragX = static_cast<int>(event->position().x());
    update();
}

void HistogramStrip::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressX)
        return;
    const int from = *m_pressX;
    const int to = static_cast<int>(event->position().x());
    m_pressX.reset();
    update();
    if (std::abs(to - from) < kDragPixels) {
        goToBar(barAt(from));
        return;
    }
    const QRect area = barArea();
    const int first = barAt(std::clamp(std::min(from, to), area.left(), area.right()));
    const int last = barAt(std::clamp(std::max(from, to), area.left(), area.right()));
    if (first < 0 || last < 0)
        return;
    zoomTo(m_bars.start + m_bars.interval * first, m_bars.start + m_bars.interval * (last + 1));
}

void HistogramStrip::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        zoomOut();
}

} // namespace tlg
