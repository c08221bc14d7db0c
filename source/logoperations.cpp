#include "source/logoperations.h"

#include <QTimer>

#include <algorithm>

namespace tlg {

LogOperations::LogOperations(QObject* parent) : QObject(parent), m_queue(std::make_unique<SerialQueue>())
{
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { reportProgress(); });
}

LogOperations::~LogOperations()
{
    // The queue ends first: it stops the read under way and waits for it, and drops the rest.
    m_queue.reset();
}

void LogOperations::started(std::int64_t total, std::shared_ptr<std::atomic<std::int64_t>> done)
{
    ++m_running;
    m_done = std::move(done);
    m_total = total;
    m_reported = false;
    m_sinceStart.start();
    m_progressTimer->start();
}

void LogOperations::ended()
{
    --m_running;
    if (m_running > 0)
        return;
    m_progressTimer->stop();
    if (m_reported)
        emit progress(-1);
    m_reported = false;
}

void LogOperations::reportProgress()
{
    if (!m_done || m_sinceStart.elapsed() < 500 || m_total <= 0)
        return;
    m_reported = true;
    const std::int64_t done = std::min(m_done->load(std::memory_order_relaxed), m_total);
    emit progress(static_cast<int>(done * 100 / m_total));
}

} // namespace tlg
