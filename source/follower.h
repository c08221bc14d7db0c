#pragma once

// The watcher of one tab's log: its timer Timer1 (every 1 to 10 seconds, 2 at the start),
// which lives under the tab and never moves, looks at the log at each tick; and a change the
// system notices ("Follow changes instantly") starts a look at once, a burst of notices one
// look, no sooner than kNotifiedTickGapMs after the last.
//
// Lives on the GUI thread and uses Qt Core only.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

class QTimer;

namespace tlg {

class Log;

class Follower : public QObject {
    Q_OBJECT

public:
    // The shortest time between two looks that change notices start.
    static constexpr int kNotifiedTickGapMs = 100;

    // `tab` holds the timer, named Timer1 and running from the start.
    explicit Follower(QObject* tab);

    // The log looked at (null: none).
    void setLog(Log* log);
    QTimer* timer() const { return m_timer; }
    // TrackBar1Change: the time between two ticks.
    void setIntervalSeconds(int seconds);
    // Whether the system's change notices start looks; the log watches its files for them.
    void setFollowInstantly(bool on);
    bool followInstantly() const { return m_followInstantly; }
    // ToolButton17Click's part: a watcher that was stopped runs again.
    void keepRunning();

    // Timer1Timer: the tick, then the log's look (`notified`: a notice started it).
    void tick(bool notified = false);

signals:
    // A tick is about to look at the log: the line indicator and a colouring that is due keep
    // time with it.
    void ticked();

private:
    void changeNotified();

    QTimer* m_timer;         // Timer1
    QTimer* m_notifiedTick;  // the coalesced look after change notices
    QElapsedTimer m_sinceNotifiedTick;
    QPointer<Log> m_log;
    bool m_followInstantly = true;
};

} // namespace tlg
