#pragma once

// A heartbeat that tells how long the GUI thread went without running its loop.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

namespace tlg::bench {

// Beats every 10 ms on the GUI thread; the longest gap between beats (from start() on) less
// the 10 ms is the longest the thread went without its loop.
class StallMeter {
public:
    StallMeter()
    {
        QObject::connect(&m_beat, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_worst = std::max(m_worst, now - m_last - kBeatMs);
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_worst = 0;
        m_beat.start(kBeatMs);
    }
    void stop() { m_beat.stop(); }
    qint64 worst() const { return m_worst; }

private:
    static constexpr qint64 kBeatMs = 10;
    QTimer m_beat;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

} // namespace tlg::bench
