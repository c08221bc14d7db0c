#include "app/logtab.h"

#include "app/logcontroller.h"
#include "navigate/filterpane.h"
#include "navigate/positionindicator.h"
#include "search/overview.h"
#include "view/logview.h"
#include "view/overviewstrip.h"

#include <QGridLayout>

namespace tlg {

LogTab::LogTab(QWidget* window, QMenu* viewMenu, const Colouring* colouring, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LogTab"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    m_view = new LogView(this);
    m_view->setObjectName(QStringLiteral("RichEdit1"));
    m_view->setContextMenu(viewMenu);
    m_view->setLineNumbersShown(true);
    grid->addWidget(m_view, 0, 0);
    // The overview strip beside the view's scroll bar.
    m_overview = new OverviewStrip([view = m_view] { return view; }, this);
    m_overview->setObjectName(QStringLiteral("OverviewStrip"));
    m_overview->watch(m_view);
    grid->addWidget(m_overview, 0, 1);
    // The filter pane, below the view.
    m_filterPane = new FilterPane(this);
    m_filterPane->setLogView(m_view);
    grid->addWidget(m_filterPane, 1, 0, 1, 2);
    grid->setRowStretch(0, 1);

    m_log = new LogController(window, this, m_view, colouring, &m_status);
    m_position = new PositionIndicator(m_view, &m_log->watchState(), &m_status, this);
    connect(m_log, &LogController::aboutToSample, m_position, &PositionIndicator::UpdatePositionIndicator);
    connect(m_view, &LogView::statusMessage, this, [this](const QString& text) { m_status.setText(0, text); });
    connect(m_log, &LogController::titleChanged, this, [this](const QString& title) { m_title = title; });
    connect(m_log, &LogController::reloadAlert, this, [this](bool alert) { m_reloadAlert = alert; });
    connect(m_log, &LogController::followed, this, &LogTab::noteGrowth);
    connect(m_overview, &OverviewStrip::marksUpdated, this, &LogTab::lookForErrors);
}

LogTab::~LogTab() = default;

QString LogTab::path() const
{
    return m_log->currentPath();
}

bool LogTab::blank() const
{
    return m_log->currentPath().isEmpty() && m_opening.isEmpty() && !m_log->busy();
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
