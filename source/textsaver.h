#pragma once

// "Save As" beside the GUI thread: a log's text written to a file of the user's choice, with
// progress for a long write and a way to stop it. Uses Qt Core only.

#include "document/linesource.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "core/serialqueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

namespace tlg {

class TextSaver : public QObject {
    Q_OBJECT

public:
    explicit TextSaver(QObject* parent = nullptr);
    // Stops a save under way and waits for it: the file at its path stays as it was.
    ~TextSaver() override;

    // What a save writes, on the saver's thread: to this path, counting the bytes written,
    // heeding stop (SaveText, SaveFileBytes).
    using Write = std::function<void(const std::string& path, std::atomic<std::int64_t>* done,
                                     const std::atomic<bool>* stop)>;
    // Runs write for path (`total` bytes) on the executor; finished tells how it went.
    // One save at a time: while one runs nothing starts and this returns false.
    bool save(Write write, std::int64_t total, const QString& path);
    // The text as it is shown (SaveText).
    bool save(LinesPtr text, const QString& path);
    // Stops the save under way; finished then tells that it was stopped.
    void cancel();
    bool busy() const { return m_busy; }

signals:
    // Percent of a long save written, from half a second on; -1 once it ended.
    void progress(int percent);
    // The save ended: failure is empty when the file was written, else why not as a user reads
    // it; cancelled when it was stopped (the file stays as it was).
    void finished(const QString& path, const QString& failure, bool cancelled);

private:
    void reportProgress();
    void end(const QString& path, const QString& failure, bool cancelled);

    bool m_busy = false;
    std::atomic<bool> m_stop{false};
    std::atomic<std::int64_t> m_done{0}; // bytes written by the save under way
    std::int64_t m_total = 0;
    QElapsedTimer m_sinceStart;
    bool m_reported = false;
    QTimer* m_progressTimer = nullptr;
    std::unique_ptr<SerialQueue> m_queue; // last: ends first, waiting for the write under way
};

} // namespace tlg
