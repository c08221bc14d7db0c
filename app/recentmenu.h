#pragma once

// File > Recent Logs: the logs opened last, most recent first, filled each time the menu
// opens. A log that has gone shows greyed; picked all the same, it is said to be missing and
// taken out of the list.

#include "source/recentlogs.h"

#include <QObject>

#include <functional>
#include <string>

class QMenu;
class QWidget;

namespace tlg {

class RecentMenu : public QObject {
    Q_OBJECT

public:
    // `open` opens a log picked (as a file-list pick does); `say` writes the first status
    // panel of the log in sight; `window` is the parent of error boxes. The list is read from
    // its file here.
    RecentMenu(QMenu* menu, QWidget* window, std::function<void(const std::string&)> open,
               std::function<void(const QString&)> say);

    RecentLogs& logs() { return m_recent; }
    // A log was opened or came to the front: it goes to the top. The list is a convenience: a
    // config folder that cannot be written does not stop the log from opening, and the list
    // in memory still holds it for this run.
    void add(const QString& path);

private:
    void fill();
    void openRecent(const std::string& path);
    // A click on a greyed item, which the menu itself does not trigger: true when taken.
    bool takeGreyedClick(QEvent* event);

    QMenu* m_menu;
    QWidget* m_window;
    std::function<void(const std::string&)> m_open;
    std::function<void(const QString&)> m_say;
    RecentLogs m_recent;
};

} // namespace tlg
