#include "view/overviewstrip.h"

#include "core/beside.h"
#include "document/encoding.h"
#include "search/casefolding.h"
#include "search/overview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

namespace tlg {

namespace {

bool sameRules(const LogView::RulesPtr& a, const LogView::RulesPtr& b)
{
    if (!a || !b)
        return a == b;
    return a->infoLabels == b->infoLabels && a->errorLabels == b->errorLabels && a->showInfo == b->showInfo &&
           a->showErrors == b->showErrors && a->asciiCaseOnly == b->asciiCaseOnly;
}

constexpr int kStripWidth = 14;

} // namespace

OverviewStrip::OverviewStrip(std::function<LogView*()> shownView, QWidget* parent)
    : QWidget(parent), m_shownView(std::move(shownView))
{
    setFixedWidth(kStripWidth);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Errors (red), info (blue) and found text (orange) in the whole log; click to go there"));
}

OverviewStrip::~OverviewStrip()
{
    if (m_cancel)
        m_cancel->store(true);
}

void OverviewStrip::watch(LogView* view)
{
    connect(view, &LogView::contentChanged, this, &OverviewStrip::refresh, Qt::QueuedConnection);
    // The frame of what is in sight follows scrolling.
    connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this, qOverload<>(&QWidget::update));
    connect(view, &LogView::lineMarksChanged, this, qOverload<>(&QWidget::update));
}

void OverviewStrip::setFindText(const QString& text)
{
    m_findText = text;
    refresh();
}

void OverviewStrip::refresh()
{
    if (m_running) {
        // A long pass is never thrown away for a newer text: a log that grows every tick
        // would otherwise never be marked. The newest state is looked at when it ends.
        m_dirty = true;
        return;
    }
    const LogView* view = m_shownView();
    if (!view)
        return;
    Job job{view->document(), view->matchRules(), {}, 0, CaseFoldingFor(view->encoding())};
    if (!m_findText.isEmpty())
        job.pattern = EncodeForLog(m_findText.toStdU16String(), view->encoding()).value_or(std::string());
    const bool sameMarking = sameRules(job.rules, m_rules) && job.pattern == m_pattern;
    if (sameMarking && job.document == m_document)
        return;
    // A log grown from the one marked (its buffer shared, so its old bytes are those marked):
    // the last old line may have grown, so it is marked again with the new ones.
    if (sameMarking && m_document && job.document && job.document->grewFrom(*m_document) &&
        static_cast<LineCount>(m_marks.size()) == m_document->lineCount())
        job.first = std::max<LineNumber>(EndLine(m_document->lineCount()) - 1, 0);
    start(std::move(job));
}

void OverviewStrip::start(Job job)
{
    m_running = true;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    // The marks are worth having but nothing waits on them: the pass waits behind what the
    // user waits for, and with many logs open at once the background workers take a few
    // passes at a time. Its result is dropped unseen if the strip is gone by then.
    auto pass = std::make_shared<Job>(std::move(job));
    RunBeside(
        this, Executor::Priority::Background,
        [pass, cancel = m_cancel] {
            std::vector<std::uint8_t> marks;
            try {
                marks = MarkLines(*pass->document, pass->first, pass->rules.get(), pass->pattern, pass->folding,
                                  cancel.get());
            } catch (...) {
                const LineCount lines = EndLine(pass->document->lineCount()) - pass->first;
                marks.assign(static_cast<std::size_t>(std::max<LineCount>(lines, 0).value()), 0);
            }
            return marks;
        },
        [this, pass](std::vector<std::uint8_t> marks) { finished(*pass, std::move(marks)); });
}

void OverviewStrip::finished(const Job& job, std::vector<std::uint8_t> marks)
{
    m_running = false;
    if (job.first == 0) {
        m_marks = std::move(marks);
    } else {
        m_marks.resize(static_cast<std::size_t>(job.first));
        m_marks.insert(m_marks.end(), marks.begin(), marks.end());
    }
    m_document = job.document;
    m_rules = job.rules;
    m_pattern = job.pattern;
    m_rowsStale = true;
    update();
    emit marksUpdated();
    if (std::exchange(m_dirty, false))
        refresh();
}

void OverviewStrip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_rowsStale = true;
}

QRect OverviewStrip::rowArea() const
{
    // Beside the scroll bar's groove, so that a line stands where the scroll bar puts it.
    const LogView* view = m_shownView();
    const QScrollBar* bar = view ? view->verticalScrollBar() : nullptr;
    if (!bar || !bar->isVisible())
        return rect();
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    option.singleStep = bar->singleStep();
    const QRect groove = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, bar);
    const int top = mapFromGlobal(bar->mapToGlobal(groove.topLeft())).y();
    const QRect area(0, top, width(), groove.height());
    return area.intersected(rect()).height() > 0 ? area.intersected(rect()) : rect();
}

void OverviewStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(246, 246, 246));
    painter.setPen(QColor(200, 200, 200));
    painter.drawLine(0, 0, 0, height());
    const QRect area = rowArea();
    const int rows = area.height();
    if (m_rowsStale || static_cast<int>(m_rowShares.size()) != rows) {
        m_rowShares = SharesPerRow(m_marks, rows);
        m_rowsStale = false;
    }
    // Each row shaded by the share of its lines that hold a colour: a few scattered error lines
    // give a light tint, a cluster of them full red.
    const auto shade = [](QColor colour, float share) {
        colour.setAlphaF(0.2f + 0.8f * share);
        return colour;
    };
    const int colourWidth = width() - 6;
    for (int row = 0; row < rows; ++row) {
        const RowShare& share = m_rowShares[static_cast<std::size_t>(row)];
        const int y = area.top() + row;
        if (share.error > 0)
            painter.fillRect(2, y, colourWidth, 1, shade(errorColour(), share.error));
        else if (share.info > 0)
            painter.fillRect(2, y, colourWidth, 1, shade(infoColour(), share.info));
        if (share.found)
            painter.fillRect(width() - 4, y, 3, 1, foundColour());
    }
    // A frame around the part of the log in sight.
    const LogView* view = m_shownView();
    const auto lines = static_cast<LineCount>(m_marks.size());
    if (view && lines > 0 && rows > 0) {
        auto rowOf = [&](LineNumber line) { return area.top() + ToQtInt(line.value() * rows / lines.value()); };
        const int top = rowOf(std::min<LineNumber>(view->firstVisibleLine(), EndLine(lines)));
        const int bottom = rowOf(std::min<LineNumber>(view->firstVisibleLine() + view->visibleRows(), EndLine(lines)));
        painter.setPen(QColor(90, 90, 90));
        painter.drawRect(1, top, width() - 2, std::max(bottom - top, 2));
        // The reader's marks, at the left edge.
        for (const std::int64_t marked : view->lineMarks()) {
            if (marked < lines.value())
                painter.fillRect(0, rowOf(marked), 3, 2, LogView::lineMarkColour());
        }
    }
}

void OverviewStrip::mousePressEvent(QMouseEvent* event)
{
    const auto lines = static_cast<LineCount>(m_marks.size());
    const QRect area = rowArea();
    if (event->button() != Qt::LeftButton || lines == 0 || area.height() <= 0)
        return;
    const int row = std::clamp(static_cast<int>(event->position().y()) - area.top(), 0, area.height() - 1);
    emit lineClicked(std::min(LineOfRow(row, area.height(), lines), EndLine(lines) - 1));
}

} // namespace tlg
