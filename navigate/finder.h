#pragma once

// Finding text in the log view: Find Next selects the next occurrence after the selection
// or the caret, Find Previous the last one before it, ignoring case and matching inside words,
// up to the text's end or its start. Every occurrence in the lines in sight is marked; when
// nothing further is found the selection stays and the first status panel says so.

#include <QObject>

class QWidget;

namespace tlg {

class FindDialog;
class LogView;
class StatusPanels;

class Finder : public QObject {
    Q_OBJECT

public:
    // The find dialog (FindDialog1) is a child of window; Ctrl+F, F3 and Shift+F3 work anywhere
    // in it. status (may be null) is where "Not found" is said.
    // It finds in view.
    Finder(LogView* view, QWidget* window, StatusPanels* status = nullptr);

    FindDialog* findDialog() const { return m_findDialog; }

public slots:
    // "Search": shows the find dialog.
    void ToolButton15Click();
    // Find Next: selects the next occurrence in the view; when there is none the
    // selection stays and `Not found: "<text>"` goes to the first status panel. A large text
    // is searched beside the GUI thread, one search at a time.
    void FindDialog1Find();
    // Find Previous: the same backwards, from just before the selection (or the caret).
    void FindPrevious();
    // Takes the marks away.
    void clearMarks();

private:
    void find(bool forward);

    LogView* m_view;
    StatusPanels* m_status;
    FindDialog* m_findDialog = nullptr; // FindDialog1
    bool m_searching = false;           // a search of a large text is under way
};

} // namespace tlg
