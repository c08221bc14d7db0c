#pragma once

// The line indicator in the status bar ("Line : L/N"), and the arrow keys that first jump the
// caret to the edge of the view so that the view scrolls at once.

#include <QObject>

namespace tlg {

class LogFollower;
class StatusPanels;

class PositionIndicator : public QObject {
    Q_OBJECT

public:
    // Listens to the keys and clicks of both of the follower's views.
    PositionIndicator(LogFollower* follower, StatusPanels* status, QObject* parent);

public slots:
    // Records the caret's height in the shown view and the reader's caret line, and writes
    // the shown view's caret line and line count into the third panel.
    void UpdatePositionIndicator();
    // Up or Down (with any modifier): a caret away from the edge first jumps to the line at the
    // edge, clamped into the text; the view then moves its caret one line as it always does.
    void RichEdit1KeyDown(int key);
    void RichEdit1MouseDown();

private:
    LogFollower* m_follower;
    StatusPanels* m_status;
};

} // namespace tlg
