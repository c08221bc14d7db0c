#include "app/recentmenu.h"

#include "core/errors.h"
#include "core/messages.h"

#include <QFile>
#include <QMenu>
#include <QMouseEvent>

#include <utility>

namespace tlg {

namespace {

// Runs `handler` on the events of the object it filters; true from it eats the event.
class EventHook : public QObject {
public:
    EventHook(QObject* parent, std::function<bool(QEvent*)> handler) : QObject(parent), m_handler(std::move(handler)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override { return m_handler(event); }

private:
    std::function<bool(QEvent*)> m_handler;
};

} // namespace

RecentMenu::RecentMenu(QMenu* menu, QWidget* window, std::function<void(const std::string&)> open,
                       std::function<void(const QString&)> say)
    : QObject(menu), m_menu(menu), m_window(window), m_open(std::move(open)), m_say(std::move(say)),
      m_recent(RecentLogs::defaultFilePath())
{
    connect(m_menu, &QMenu::aboutToShow, this, &RecentMenu::fill);
    m_menu->installEventFilter(new EventHook(this, [this](QEvent* event) { return takeGreyedClick(event); }));
    m_recent.load();
}

void RecentMenu::add(const QString& path)
{
    try {
        m_recent.add(QFile::encodeName(path).toStdString());
    } catch (const Failure&) {
    }
}

void RecentMenu::fill()
{
    m_menu->clear();
    if (m_recent.paths().empty()) {
        m_menu->addAction(QStringLiteral("(none)"))->setEnabled(false);
        return;
    }
    int number = 0;
    for (const std::string& path : m_recent.paths()) {
        ++number;
        // "&1" .. "&9", "1&0": a key for each.
        const QString key = number < 10 ? QStringLiteral("&%1").arg(number) : QStringLiteral("1&0");
        QAction* action = m_menu->addAction(key + QStringLiteral("  ") + QFile::decodeName(QByteArray::fromStdString(path)).replace(QLatin1Char('&'), QStringLiteral("&&")));
        action->setData(QByteArray::fromStdString(path));
        action->setEnabled(RecentLogs::present(path));
        connect(action, &QAction::triggered, this, [this, path] { runGuarded(m_window, [&] { openRecent(path); }); });
    }
}

bool RecentMenu::takeGreyedClick(QEvent* event)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    QAction* action = m_menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (!action || action->isEnabled() || !action->data().isValid())
        return false;
    const std::string path = action->data().toByteArray().toStdString();
    m_menu->close();
    for (QWidget* up = m_menu->parentWidget(); qobject_cast<QMenu*>(up); up = up->parentWidget())
        up->close();
    runGuarded(m_window, [&] { openRecent(path); });
    return true;
}

void RecentMenu::openRecent(const std::string& path)
{
    if (!RecentLogs::present(path)) {
        m_say(QStringLiteral("File Could not be located"));
        try {
            m_recent.remove(path);
        } catch (const Failure&) {
        }
        return;
    }
    m_open(path);
}

} // namespace tlg
