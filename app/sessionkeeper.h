#pragma once

// The open logs kept in Session.TLG in the settings folder: a moment after the tabs change,
// written in order on the executor so that a disk flush never holds the window; at the close,
// written on the GUI thread after the write under way, so that the last one stays; and opened
// again at the next start. The keeper never looks into a tab: the window describes its logs
// and opens them again through SessionKeeper::Tabs.

#include "core/executor.h"
#include "source/session.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;

namespace tlg {

class SerialQueue;
class StatusPanels;

class SessionKeeper : public QObject {
    Q_OBJECT

public:
    // What the window gives the keeper: the one place that reads and sets up its tabs.
    class Tabs {
    public:
        virtual ~Tabs() = default;
        // The records of the open logs, in the tabs' order; a tab that cannot come back (a
        // blank one, a pipe, another machine's journal) has none.
        virtual std::vector<SessionLog> sessionLogs() const = 0;
        // Opens a kept log again as it was kept (followed or not, its caret line, its
        // encoding); `done` runs once it has opened or failed.
        virtual void reopen(const SessionLog& kept, std::function<void()> done) = 0;
        // Writes the first status panel of the tab in sight.
        virtual void sayInSight(const QString& text) = 0;
    };

    // `windowStatus` says a write that failed on `executor`. All three must outlive the keeper.
    SessionKeeper(Tabs& tabs, StatusPanels& windowStatus, Executor& executor = Executor::shared());
    // A write that still waits is written here, on the GUI thread; a failure is passed over.
    ~SessionKeeper() override;

    // The tabs changed: they are kept a moment later (fifty opened at once are one write),
    // unless the last session's logs are opening.
    void tabsChanged();
    // Keeps the open logs now, after the write under way, so that this one stays; a write
    // that waits is dropped for it (the close). Throws Failure when the file cannot be written.
    void keepNow();
    // Opens the logs of the last session again. A log that has gone is named once in the first
    // panel when every other one has opened; until then the tabs are not kept. Nothing kept
    // yet: nothing happens.
    void restore();

private:
    // The timer's end: the records taken now, written on the executor.
    void keepSoon();
    struct Write {
        std::string path;
        std::string text;
    };
    // Drops the writes that wait (the last one comes back), lets the one under way end, and
    // starts a fresh queue unless the keeper ends.
    std::optional<Write> stopWrites(bool fresh);

    Tabs& m_tabs;
    StatusPanels& m_windowStatus;
    Executor& m_executor;
    QTimer* m_timer = nullptr;
    bool m_restoring = false; // the last session's logs are opening
    bool m_collectDropped = false;
    std::optional<Write> m_dropped; // the last write dropped while stopping
    std::unique_ptr<SerialQueue> m_writes;
};

} // namespace tlg
