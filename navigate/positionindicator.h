#pragma once

// The line indicator in the status bar ("Line : L/N"), and the arrow keys that first jump the
// caret to the edge of the view so that the view scrolls at once.

#include <QObject>

namespace tlg {

class LogView;
class StatusPanels;
struct WatchState;

class PositionIndicator : public QObject {
    Q_OBJECT

public:
    // Listens to the keys and clicks of the view; records in watch.
    PositionIndicator(LogView* view, WatchState* watch, StatusPanels* status, QObject* parent);

public slots:
    // Records the caret's height in the view and the reader's caret line, and writes
    // the view's caret line and line count into the third panel.
    void UpdatePositionIndicator();
    // Up or Down (with any modifier): a caret away from the edge first jumps to the line at the
    // edge, clamped into the text; the view then moves its caret one line as it always does.
    void RichEdit1KeyDown(int key);
    void RichEdit1MouseDown();

private:
    LogView* m_view;
    WatchState* m_watch;
    StatusPanels* m_status;
};

} // namespace tlg
