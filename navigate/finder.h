#pragma once

// Finding text in the log view: Find Next selects the next occurrence after the selection
// or the caret, Find Previous the last one before it, ignoring case and matching inside words,
// up to the text's end or its start. Every occurrence in the lines in sight is marked; when
// nothing further is found the selection stays and the first status panel says so.

#include "document/linesource.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

class QWidget;

class QTimer;

namespace tlg {

class FindDialog;
class LogView;
class StatusPanels;

class Finder : public QObject {
    Q_OBJECT

public:
    // The find dialog (FindDialog1) is a child of window; Ctrl+F, F3 and Shift+F3 work anywhere
    // in it. status (may be null) is where "Not found" is said.
    // It finds in view (may be null: nothing is found until setView).
    Finder(LogView* view, QWidget* window, StatusPanels* status = nullptr);

    // Stops a search under way.
    ~Finder() override;

    FindDialog* findDialog() const { return m_findDialog; }
    LogView* view() const { return m_view; }
    // Finds in another view from now on (the log in sight changed; may be null): a search
    // under way stops and is never shown; the old view keeps its marks.
    void setView(LogView* view);
    // A search of a large text is under way beside the GUI thread.
    bool searching() const { return m_cancel != nullptr; }

public slots:
    // ToolButton15Click: "Search" shows the find dialog.
    void showFindDialog();
    // FindDialog1Find: Find Next selects the next occurrence in the view; when there is none the
    // selection stays and `Not found: "<text>"` goes to the first status panel. A large text
    // is searched beside the GUI thread; a press meanwhile starts it again.
    void findNext();
    // Find Previous: the same backwards, from just before the selection (or the caret).
    void findPrevious();
    // Takes the marks away.
    void clearMarks();

signals:
    // The dialog's Find Next (its button or Enter) with "All open logs" ticked and a text to
    // find: the window lists the occurrences in every open log (FindDialog::query()).
    void findAllRequested();

private:
    void find(bool forward);
    // Stops the search under way, whose result is then never shown.
    void cancelSearch();
    // The dialog's Find Next: in the view, or in every log.
    void findNextAsked();

    // A view may go (its tab closed) before the finder is told.
    QPointer<LogView> m_view;
    QMetaObject::Connection m_viewKeys; // Esc in the view
    StatusPanels* m_status;
    FindDialog* m_findDialog = nullptr; // FindDialog1
    // The stop flag of the search of a large text under way (null: none runs); a result
    // whose flag is not this one is dropped.
    std::shared_ptr<std::atomic<bool>> m_cancel;
    // Its progress, said in the first status panel once it has run half a second.
    std::shared_ptr<std::atomic<std::int64_t>> m_looked;
    std::int64_t m_toLook = 0;
    QTimer* m_progress = nullptr;
    QElapsedTimer m_sinceStart;
};

} // namespace tlg
