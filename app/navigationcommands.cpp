#include "app/navigationcommands.h"

#include "app/logtab.h"
#include "app/logtabs.h"
#include "navigate/filterstackrunner.h"
#include "navigate/findall.h"
#include "navigate/finddialog.h"
#include "navigate/finder.h"
#include "navigate/gotolinedialog.h"
#include "navigate/gototimedialog.h"
#include "search/overview.h"
#include "source/log.h"
#include "view/caretplacement.h"
#include "view/logview.h"
#include "view/overviewstrip.h"

#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <vector>

namespace tlg {

NavigationCommands::NavigationCommands(QWidget* window, LogTabs* tabs, Finder* finder, FindAllResults* findAll)
    : QObject(window), m_window(window), m_tabs(tabs), m_finder(finder), m_findAll(findAll),
      m_zoomPoints(LogView::kDefaultPointSize)
{
}

LogView* NavigationCommands::shownView() const
{
    return m_tabs->current()->view();
}

void NavigationCommands::showRow(LogView* view, LineNumber row)
{
    ShowLineInContext(view, std::min(row.value(), std::max<std::int64_t>(0, view->lineCount() - 1)));
}

void NavigationCommands::goToLine()
{
    if (!m_gotoLineDialog)
        m_gotoLineDialog = new GotoLineDialog(m_window);
    LogView* view = shownView();
    const LinesPtr shown = view->document();
    const LineCount inLog = m_tabs->current()->logLineCount();
    const LineNumber caret = view->lineCount() > 0 ? shown->lineInLog(view->caretLine()) : LineNumber(0);
    if (const std::optional<LineNumber> line = m_gotoLineDialog->ask(std::max(inLog, LineCount(view->lineCount())), caret))
        showRow(view, shown->lineShowing(*line));
}

void NavigationCommands::askForTime()
{
    LogTab* tab = m_tabs->current();
    const std::optional<std::int64_t> last = tab->log() ? tab->log()->lastTime() : std::nullopt;
    if (!last) {
        tab->status().setText(0, tab->log() && tab->log()->readingTimes() ? QStringLiteral("Still reading the times of the log's lines")
                                                     : QStringLiteral("No time stamps found in this log"));
        return;
    }
    if (!m_gotoTimeDialog) {
        m_gotoTimeDialog = new GotoTimeDialog(m_window);
        connect(m_gotoTimeDialog, &GotoTimeDialog::timeChosen, this, [this](std::int64_t time) { goToTime(time); });
    }
    m_gotoTimeDialog->ask(*last);
}

void NavigationCommands::goToTime(std::int64_t time)
{
    LogTab* tab = m_tabs->current();
    LogView* view = tab->view();
    // The first line at or after the time, or the next one the view shows.
    const std::optional<LineNumber> inLog = tab->log() ? tab->log()->firstLineAtOrAfter(time) : std::nullopt;
    if (!inLog) {
        tab->status().setText(0, QStringLiteral("No line at or after ") + GotoTimeDialog::timeText(time));
        return;
    }
    showRow(view, view->document()->lineShowing(*inLog));
}

void NavigationCommands::goToLabelLine(bool error, bool forward)
{
    LogView* view = shownView();
    const OverviewStrip* overview = m_tabs->current()->overview();
    const std::vector<std::uint8_t>& marks = overview->lineMarks();
    if (!overview->idle() || static_cast<std::int64_t>(marks.size()) != view->lineCount()) {
        m_tabs->current()->status().setText(0, QStringLiteral("Still looking through the log for its labels"));
        return;
    }
    const std::uint8_t wanted = error ? kMarkError : kMarkInfo;
    const auto count = static_cast<std::int64_t>(marks.size());
    for (std::int64_t line = view->caretLine() + (forward ? 1 : -1); line >= 0 && line < count;
         line += forward ? 1 : -1) {
        if (marks[static_cast<std::size_t>(line)] & wanted) {
            ShowLineInContext(view, line);
            return;
        }
    }
    m_tabs->current()->status().setText(0, error ? QStringLiteral("No more error lines") : QStringLiteral("No more info lines"));
}

void NavigationCommands::zoomBy(int steps)
{
    m_zoomPoints = std::clamp(m_zoomPoints + steps, LogView::kMinPointSize, LogView::kMaxPointSize);
    shownView()->setFontPointSize(m_zoomPoints);
}

void NavigationCommands::zoomReset()
{
    zoomBy(LogView::kDefaultPointSize - m_zoomPoints);
}

void NavigationCommands::followView(const LogView* view)
{
    m_zoomPoints = view->fontPointSize();
}

void NavigationCommands::filterLinesLike(FilterRow::Kind kind)
{
    const LogView* view = shownView();
    QString text = view->selectedText(4096);
    if (text.isEmpty() && view->lineCount() > 0)
        text = view->lineText(view->caretLine());
    // A pattern is one line of the log.
    text = text.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char('\r'), 0, 0);
    if (text.isEmpty())
        return;
    m_tabs->current()->addFilterRow({text, false, true, kind, true});
}

void NavigationCommands::findInAllLogs()
{
    std::vector<FindAllLog> logs;
    for (LogTab* tab : m_tabs->tabs()) {
        if (!tab->log())
            continue;
        const QString name = tab->log()->displayName();
        logs.push_back({reinterpret_cast<quintptr>(tab), name, tab->view()->document(), tab->view()->encoding()});
    }
    m_findAll->show();
    m_findAll->start(m_finder->findDialog()->query(), std::move(logs));
}

void NavigationCommands::showFoundLine(quint64 key, LineNumber line)
{
    for (LogTab* tab : m_tabs->tabs()) {
        if (reinterpret_cast<quintptr>(tab) == key) {
            m_tabs->setCurrent(tab);
            ShowLineInContext(tab->view(), std::min(line, LineNumber(std::max<std::int64_t>(0, tab->view()->lineCount() - 1))));
            tab->view()->setFocus();
            return;
        }
    }
}

void NavigationCommands::markFindText()
{
    const FindDialog* dialog = m_finder->findDialog();
    m_tabs->current()->overview()->setFindText(dialog->regex() ? QString() : dialog->findText());
}

} // namespace tlg
