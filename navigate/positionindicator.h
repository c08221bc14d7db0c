#pragma once

// The line indicator in the status bar ("Line : L/N"), and the arrow keys that first jump the
// caret to the edge of the view so that the view scrolls at once.

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace tlg {

class LogView;
class StatusPanels;

class PositionIndicator : public QObject {
    Q_OBJECT

public:
    // Listens to the keys and clicks of the view.
    PositionIndicator(LogView* view, StatusPanels* status, QObject* parent);
    // The time a line of the view carries ("" when not known), said beside the caret's line.
    void setTimeOfLine(std::function<QString(std::int64_t line)> timeOf) { m_timeOf = std::move(timeOf); }

public slots:
    // Records the caret's height in the view (CaretPixelY), and writes the view's caret line
    // and line count into the third panel.
    void UpdatePositionIndicator();
    // RichEdit1KeyDown: records the caret as UpdatePositionIndicator does; then, for Up or Down
    // (with any modifier), a caret away from the edge first jumps to the line at the edge,
    // clamped into the text; the view then moves its caret one line as it always does.
    void jumpCaretToEdge(int key);

private:
    LogView* m_view;
    // CaretPixelY: the caret's height in the view as last recorded, or as the arrow keys last
    // set it.
    int m_caretPixelY = 0;
    StatusPanels* m_status;
    std::function<QString(std::int64_t line)> m_timeOf;
};

} // namespace tlg
