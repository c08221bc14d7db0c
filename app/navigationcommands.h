#pragma once

// The window's commands that move through the log in sight or across the open logs: go to a
// line, go to a time, the next or previous line with a label, the font's size, a row of the
// filter stack made from the line in sight, and find in every open log. Each acts on the tab
// in sight when it is asked.

#include "document/linesource.h"
#include "search/filterstack.h"

#include <QObject>

#include <cstdint>

class QWidget;

namespace tlg {

class FindAllResults;
class Finder;
class GotoLineDialog;
class GotoTimeDialog;
class LogTabs;
class LogView;

class NavigationCommands : public QObject {
    Q_OBJECT

public:
    // `window` is the parent of the dialogs and message boxes; the find-all results list the
    // matches of a find in every open log.
    NavigationCommands(QWidget* window, LogTabs* tabs, Finder* finder, FindAllResults* findAll);

    // GotoLineClick: go to line (Ctrl+G), the caret to the start of the line asked for, in
    // sight. Lines are numbered as in the log: on a filtered log a hidden line goes to the next
    // one shown.
    void goToLine();
    // View > "Go to Time..." (Ctrl+T): asks for a time, and goes to it. A log whose times are
    // still read, or that has none, says so in the first panel instead.
    void askForTime();
    // The caret to the first line at or after `time` (in milliseconds since 1970), in sight; a
    // log with no such line says so in the first panel.
    void goToTime(std::int64_t time);
    // F8 and Shift+F8 (errors), F7 and Shift+F7 (infos): the caret goes to the next (or the
    // previous) line that holds such a label, as the overview strip marks them.
    void goToLabelLine(bool error, bool forward);

    // The log font's size, by steps of a point in the view in sight, clamped to what a view
    // takes; a new tab opens at it.
    void zoomBy(int steps);
    // The size at start.
    void zoomReset();
    int zoomPoints() const { return m_zoomPoints; }
    // Another tab came into sight: its size is the one the steps start from.
    void followView(const LogView* view);

    // "Hide lines like this" and "Show only lines like this": the selection, or the caret's
    // line, as a row of the filter stack of the log in sight (its first line only).
    void filterLinesLike(FilterRow::Kind kind);
    // Find with "All open logs": every tab's log is searched beside the GUI thread, and the
    // results list shows.
    void findInAllLogs();
    // A line of the results was picked: its tab comes into sight with the line in context. A
    // tab closed meanwhile is passed over.
    void showFoundLine(quint64 key, LineNumber line);
    // The overview strip of the log in sight marks the text last searched for (an
    // expression's matches are not marked).
    void markFindText();

private:
    LogView* shownView() const;
    // The caret to a row of the view (at most its last), in context.
    void showRow(LogView* view, LineNumber row);

    QWidget* m_window;
    LogTabs* m_tabs;
    Finder* m_finder;
    FindAllResults* m_findAll;
    GotoLineDialog* m_gotoLineDialog = nullptr;
    GotoTimeDialog* m_gotoTimeDialog = nullptr;
    int m_zoomPoints; // the font size of the view in sight, and of a new tab
};

} // namespace tlg
