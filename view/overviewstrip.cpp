#include "view/overviewstrip.h"

#include "document/encoding.h"
#include "search/casefolding.h"
#include "search/overview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

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
    if (m_worker.joinable())
        m_worker.join();
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
    if (m_worker.joinable())
        m_worker.join();
    m_running = true;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_worker = std::thread([this, job = std::move(job), cancel = m_cancel]() mutable {
        std::vector<std::uint8_t> marks;
        try {
            marks = MarkLines(*job.document, job.first, job.rules.get(), job.pattern, job.folding, cancel.get());
        } catch (...) {
            marks.assign(static_cast<std::size_t>(std::max<LineCount>(EndLine(job.document->lineCount()) - job.first, 0)), 0);
        }
        if (cancel->load())
            return; // the strip is going away
        // Handed over on the GUI thread; dropped unseen if the strip is gone by then.
        QMetaObject::invokeMethod(
            this, [this, job = std::move(job), marks = std::move(marks)]() mutable { finished(job, std::move(marks)); },
            Qt::QueuedConnection);
    });
}

void OverviewStrip::finished(const Job& job, std::vector<std::uint8_t> marks)
{
    if (m_worker.joinable())
        m_worker.join();
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

void OverviewStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(246, 246, 246));
    painter.setPen(QColor(200, 200, 200));
    painter.drawLine(0, 0, 0, height());
    const int rows = height();
    if (m_rowsStale || static_cast<int>(m_rowMarks.size()) != rows) {
        m_rowMarks = MarksPerRow(m_marks, rows);
        m_rowsStale = false;
    }
    const int colourWidth = width() - 6;
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t mark = m_rowMarks[static_cast<std::size_t>(y)];
        if (mark & kMarkError)
            painter.fillRect(2, y, colourWidth, 1, errorColour());
        else if (mark & kMarkInfo)
            painter.fillRect(2, y, colourWidth, 1, infoColour());
        if (mark & kMarkFound)
            painter.fillRect(width() - 4, y, 3, 1, foundColour());
    }
    // A frame around the part of the log in sight.
    const LogView* view = m_shownView();
    const auto lines = static_cast<LineCount>(m_marks.size());
    if (view && lines > 0) {
        auto rowOf = [&](LineNumber line) {
            return lines < rows ? ToQtInt(line) : ToQtInt(line.value() * rows / lines.value());
        };
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
    if (event->button() != Qt::LeftButton || lines == 0)
        return;
    const int row = std::clamp(static_cast<int>(event->position().y()), 0, std::max(height() - 1, 0));
    emit lineClicked(std::min(LineOfRow(row, height(), lines), EndLine(lines) - 1));
}

} // namespace tlg
