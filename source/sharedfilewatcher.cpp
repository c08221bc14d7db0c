#include "source/sharedfilewatcher.h"

#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QThread>

#include <utility>

namespace tlg {

SharedFileWatcher& SharedFileWatcher::instance()
{
    // Goes with the application, whose event loop its notices need.
    static QPointer<SharedFileWatcher> shared;
    if (!shared)
        shared = new SharedFileWatcher(QCoreApplication::instance());
    return *shared;
}

SharedFileWatcher::SharedFileWatcher(QObject* parent) : QObject(parent), m_watcher(new QFileSystemWatcher(this))
{
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &SharedFileWatcher::pathChanged);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &SharedFileWatcher::pathChanged);
}

void SharedFileWatcher::watch(QObject* owner, const QStringList& paths, std::function<void()> changed)
{
    Q_ASSERT(owner && QThread::currentThread() == thread());
    QStringList wanted;
    for (const QString& path : paths) {
        if (!path.isEmpty() && !wanted.contains(path))
            wanted << path;
    }
    if (wanted.isEmpty()) {
        unwatch(owner);
        return;
    }

    auto subscriber = m_subscribers.find(owner);
    if (subscriber == m_subscribers.end()) {
        subscriber = m_subscribers.insert(owner, {});
        subscriber->destroyed = connect(owner, &QObject::destroyed, this, [this, owner] { unwatch(owner); });
    }
    const QStringList before = std::exchange(subscriber->paths, wanted);
    subscriber->changed = std::move(changed);
    for (const QString& path : wanted) {
        if (!before.contains(path))
            ++m_uses[path];
    }
    for (const QString& path : before) {
        if (!wanted.contains(path))
            release(path);
    }

    // What the system does not watch is added: new paths, files that were not there, and files
    // it stopped watching when they were deleted or renamed (another owner's may be among them).
    const QStringList live = watchedPaths();
    QStringList missing;
    for (const QString& path : wanted) {
        if (!live.contains(path))
            missing << path;
    }
    if (!missing.isEmpty())
        m_watcher->addPaths(missing);
}

void SharedFileWatcher::unwatch(QObject* owner)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const auto subscriber = m_subscribers.find(owner);
    if (subscriber == m_subscribers.end())
        return;
    disconnect(subscriber->destroyed);
    const QStringList paths = subscriber->paths;
    m_subscribers.erase(subscriber);
    for (const QString& path : paths)
        release(path);
}

QStringList SharedFileWatcher::watchedPaths() const
{
    return m_watcher->files() + m_watcher->directories();
}

void SharedFileWatcher::release(const QString& path)
{
    const auto uses = m_uses.find(path);
    if (uses == m_uses.end() || --*uses > 0)
        return;
    m_uses.erase(uses);
    if (m_watcher->files().contains(path) || m_watcher->directories().contains(path))
        m_watcher->removePath(path);
}

void SharedFileWatcher::pathChanged(const QString& path)
{
    // The owners are picked first: a handler may watch, let go or destroy owners.
    QList<QObject*> owners;
    for (auto subscriber = m_subscribers.cbegin(); subscriber != m_subscribers.cend(); ++subscriber) {
        if (subscriber->paths.contains(path))
            owners << subscriber.key();
    }
    for (QObject* owner : owners) {
        const auto subscriber = m_subscribers.constFind(owner);
        if (subscriber == m_subscribers.cend() || !subscriber->paths.contains(path))
            continue;
        const std::function<void()> changed = subscriber->changed; // the handler may replace it
        changed();
    }
}

} // namespace tlg
