#pragma once

// Finding text in the shown view: each Find Next selects the next occurrence after the
// selection or the caret, ignoring case and matching inside words, up to the end of the text.

#include <QObject>

class QWidget;

namespace tlg {

class FindDialog;
class LogFollower;

class Finder : public QObject {
    Q_OBJECT

public:
    // The find dialog (FindDialog1) is a child of window; Ctrl+F and F3 work anywhere in it.
    Finder(LogFollower* follower, QWidget* window);

    FindDialog* findDialog() const { return m_findDialog; }

public slots:
    // "Search": shows the find dialog.
    void ToolButton15Click();
    // Find Next: selects the next occurrence in the shown view; nothing changes when there is
    // none. A large text is searched beside the GUI thread, one search at a time.
    void FindDialog1Find();

private:
    LogFollower* m_follower;
    FindDialog* m_findDialog = nullptr; // FindDialog1
    bool m_searching = false;           // a search of a large text is under way
};

} // namespace tlg
