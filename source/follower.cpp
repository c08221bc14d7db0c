#include "source/follower.h"

#include "source/log.h"

#include <QTimer>

#include <algorithm>

namespace tlg {

Follower::Follower(QObject* tab) : QObject(tab)
{
    // The watcher runs from the start, as the window defines it. Whatever happens in a look,
    // the log reports it in the status bar, never in a message box, and the timer runs on.
    m_timer = new QTimer(tab);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(2000);
    connect(m_timer, &QTimer::timeout, this, [this] { tick(); });
    m_timer->start();

    m_notifiedTick = new QTimer(this);
    m_notifiedTick->setSingleShot(true);
    connect(m_notifiedTick, &QTimer::timeout, this, [this] {
        if (m_log && m_log->busy()) {
            m_notifiedTick->start(kNotifiedTickGapMs); // after the read under way
            return;
        }
        m_sinceNotifiedTick.start();
        tick(true);
    });
}

void Follower::setLog(Log* log)
{
    if (m_log)
        disconnect(m_log, nullptr, this, nullptr);
    m_log = log;
    if (!log)
        return;
    log->setNotified(m_followInstantly);
    connect(log, &Log::changeNotified, this, &Follower::changeNotified);
}

void Follower::setIntervalSeconds(int seconds)
{
    m_timer->setInterval(seconds * 1000);
}

void Follower::setFollowInstantly(bool on)
{
    m_followInstantly = on;
    if (m_log)
        m_log->setNotified(on);
}

void Follower::keepRunning()
{
    if (!m_timer->isActive())
        m_timer->start();
}

void Follower::tick(bool notified)
{
    emit ticked();
    if (m_log)
        m_log->look(notified);
}

void Follower::changeNotified()
{
    if (!m_followInstantly || m_notifiedTick->isActive())
        return;
    const qint64 since = m_sinceNotifiedTick.isValid() ? m_sinceNotifiedTick.elapsed() : kNotifiedTickGapMs;
    m_notifiedTick->start(static_cast<int>(std::max<qint64>(0, kNotifiedTickGapMs - since)));
}

} // namespace tlg
