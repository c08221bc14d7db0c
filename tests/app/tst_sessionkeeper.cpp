// The session keeper over tabs of the test's making, on an executor whose one background worker
// the test holds: a write that waits is dropped for the write at the close, and is still made
// when the keeper goes without a close.

#include "app/sessionkeeper.h"
#include "core/errors.h"
#include "core/executor.h"
#include "core/fileops.h"
#include "core/statuspanels.h"
#include "support/userhome.h"

#include <QTemporaryDir>
#include <QtTest>

#include <future>
#include <memory>

using tlg::Executor;
using tlg::SessionKeeper;
using tlg::SessionLog;

namespace {

class MadeTabs : public SessionKeeper::Tabs {
public:
    std::vector<SessionLog> sessionLogs() const override
    {
        ++asked;
        return logs;
    }
    void reopen(const SessionLog&, std::function<void()> done) override { done(); }
    void sayInSight(const QString&) override {}

    std::vector<SessionLog> logs;
    mutable int asked = 0;
};

// Holds the executor's background worker until it goes, then waits for what was queued behind.
class HeldWorker {
public:
    explicit HeldWorker(Executor& executor) : m_executor(executor)
    {
        m_executor.post(Executor::Priority::Background, [released = m_release.get_future().share()] { released.wait(); });
    }
    ~HeldWorker() { release(); }
    void release()
    {
        if (m_released)
            return;
        m_released = true;
        m_release.set_value();
        std::promise<void> drained;
        std::future<void> done = drained.get_future();
        m_executor.post(Executor::Priority::Background, [&drained] { drained.set_value(); });
        done.wait_for(std::chrono::seconds(60));
    }

private:
    Executor& m_executor;
    std::promise<void> m_release;
    bool m_released = false;
};

SessionLog kept(const char* path, std::int64_t caretLine = 0, bool followed = true)
{
    SessionLog log;
    log.path = path;
    log.caretLine = caretLine;
    log.followed = followed;
    return log;
}

// Session.TLG's bytes, "" while there is none.
std::string keptText()
{
    try {
        return tlg::ReadSettingsFile(tlg::SettingsFileToRead(tlg::kSessionFileName));
    } catch (const tlg::Failure&) {
        return {};
    }
}

} // namespace

class SessionKeeperTest : public QObject {
    Q_OBJECT

private slots:
    void init() { qputenv("TLGVIEW_HOME", m_home.path().toLocal8Bit()); }
    void cleanup()
    {
        qunsetenv("TLGVIEW_HOME");
        QFile::remove(QString::fromStdString(tlg::SettingsFileToWrite(tlg::kSessionFileName)));
    }

    void theWriteAtTheCloseIsTheOneThatStays()
    {
        Executor executor(1, 1, false);
        MadeTabs tabs;
        tabs.logs = {kept("/var/log/old.log")};
        tlg::StatusPanels status;
        SessionKeeper keeper(tabs, status, executor);
        HeldWorker held(executor);
        keeper.tabsChanged();
        QTRY_COMPARE_WITH_TIMEOUT(tabs.asked, 1, 60000); // its write waits for the worker

        tabs.logs = {kept("/var/log/new.log")};
        keeper.keepNow();
        QCOMPARE(keptText(), tlg::SessionText(tabs.logs));
        held.release();
        QCOMPARE(keptText(), tlg::SessionText(tabs.logs));
    }

    void aWriteThatWaitsIsMadeAsTheKeeperGoes()
    {
        Executor executor(1, 1, false);
        MadeTabs tabs;
        tabs.logs = {kept("/var/log/a.log"), kept("/var/log/b.log", 7, false)};
        tlg::StatusPanels status;
        auto keeper = std::make_unique<SessionKeeper>(tabs, status, executor);
        HeldWorker held(executor);
        keeper->tabsChanged();
        QTRY_COMPARE_WITH_TIMEOUT(tabs.asked, 1, 60000);
        keeper.reset();
        QCOMPARE(keptText(), tlg::SessionText(tabs.logs));
    }

private:
    tlg::testing::UserHome m_userHome;
    QTemporaryDir m_home;
};

QTEST_MAIN(SessionKeeperTest)
#include "tst_sessionkeeper.moc"
