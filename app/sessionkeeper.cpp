#include "app/sessionkeeper.h"

#include "core/beside.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "core/serialqueue.h"
#include "core/statuspanels.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <utility>

namespace tlg {

SessionKeeper::SessionKeeper(Tabs& tabs, StatusPanels& windowStatus, Executor& executor)
    : m_tabs(tabs), m_windowStatus(windowStatus), m_executor(executor), m_writes(std::make_unique<SerialQueue>(executor))
{
    EndExecutorWithApplication();
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(300);
    connect(m_timer, &QTimer::timeout, this, &SessionKeeper::keepSoon);
}

SessionKeeper::~SessionKeeper()
{
    // As the window goes without closing, the last write asked for is still made.
    if (const std::optional<Write> waiting = stopWrites(false)) {
        try {
            WriteFileAtomically(waiting->path, waiting->text);
        } catch (const Failure&) {
        }
    }
}

void SessionKeeper::tabsChanged()
{
    if (!m_restoring)
        m_timer->start();
}

void SessionKeeper::keepSoon()
{
    Write write{SettingsFileToWrite(kSessionFileName), SessionText(m_tabs.sessionLogs())};
    // A write that waits is replaced by this one, which holds the newer records.
    const auto dropped = [this, write] {
        if (m_collectDropped)
            m_dropped = write;
    };
    QPointer<SessionKeeper> keeper = this;
    StatusPanels* status = &m_windowStatus;
    m_writes->post(
        "write", Executor::Priority::Background,
        [keeper, status, write = std::move(write)] {
            try {
                WriteFileAtomically(write.path, write.text);
            } catch (const Failure& failure) {
                const QString why = QString::fromLocal8Bit(failure.what());
                if (QCoreApplication* application = QCoreApplication::instance()) {
                    QMetaObject::invokeMethod(application, [keeper, status, why] {
                        if (keeper)
                            status->setText(0, QStringLiteral("Open logs not kept: ") + why);
                    });
                }
            }
        },
        dropped);
}

std::optional<SessionKeeper::Write> SessionKeeper::stopWrites(bool fresh)
{
    m_dropped.reset();
    m_collectDropped = true;
    m_writes->dropWaiting();
    m_collectDropped = false;
    m_writes.reset(); // waits for the write under way
    if (fresh)
        m_writes = std::make_unique<SerialQueue>(m_executor);
    return std::exchange(m_dropped, std::nullopt);
}

void SessionKeeper::keepNow()
{
    m_timer->stop();
    stopWrites(true);
    WriteFileAtomically(SettingsFileToWrite(kSessionFileName), SessionText(m_tabs.sessionLogs()));
}

void SessionKeeper::restore()
{
    std::string text;
    try {
        text = ReadSettingsFile(SettingsFileToRead(kSessionFileName));
    } catch (const Failure&) {
        return; // no session kept yet
    }
    const std::vector<SessionLog> logs = ReadSessionText(text);
    QStringList gone;
    auto remaining = std::make_shared<int>(1); // one more until every open has been asked
    m_restoring = true;
    // Once every log has opened (or failed), the tabs are kept again and a log that has gone
    // is named once.
    const auto oneDone = [keeper = QPointer<SessionKeeper>(this), remaining,
                          gone = std::make_shared<QStringList>()](const QStringList* missing) {
        if (missing)
            *gone = *missing;
        if (--*remaining > 0 || !keeper)
            return;
        keeper->m_restoring = false;
        keeper->keepSoon();
        if (!gone->isEmpty())
            keeper->m_tabs.sayInSight(QStringLiteral("Not found any more: ") + gone->join(QStringLiteral(", ")));
    };
    for (const SessionLog& kept : logs) {
        if (!kept.journal) {
            const QString path = QFile::decodeName(QByteArray::fromStdString(kept.path));
            // A folder is a journal's (AgeStamp knows files only).
            if (AgeStamp(kept.path) == -1 && !QFileInfo(path).isDir()) {
                gone << path;
                continue;
            }
        }
        ++*remaining;
        m_tabs.reopen(kept, [oneDone] { oneDone(nullptr); });
    }
    oneDone(&gone);
}

} // namespace tlg
