#pragma once

// The program's one change watcher. Every open log asks it for its file and folder instead of
// keeping a watcher of its own: a watcher costs an inotify instance, of which a user has 128 in
// all, while one instance takes thousands of paths. A path asked for by several owners (two
// logs in /var/log) is watched once and let go when the last of them lets go; each owner hears
// only the changes of the paths it asked for.
//
// Made on first use on the GUI thread, as a child of the application, and used there only.

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QFileSystemWatcher;

namespace tlg {

class SharedFileWatcher : public QObject {
    Q_OBJECT

public:
    static SharedFileWatcher& instance();

    // Watches `paths` (files or folders, absolute) for `owner` in place of what it watched
    // before; `changed` runs here for each change of one of them. A path that could not be
    // watched (a file not there yet) is tried again at the owner's next call, as is a file the
    // system stopped watching when it was deleted or renamed. An empty list lets go of all.
    // The owner lets go of everything when it is destroyed.
    void watch(QObject* owner, const QStringList& paths, std::function<void()> changed);
    void unwatch(QObject* owner);

    // The paths the system watches now, each once.
    QStringList watchedPaths() const;

private:
    explicit SharedFileWatcher(QObject* parent);

    struct Subscriber {
        QStringList paths;
        std::function<void()> changed;
        QMetaObject::Connection destroyed;
    };
    void release(const QString& path);
    void pathChanged(const QString& path);

    QFileSystemWatcher* m_watcher = nullptr;
    QHash<QObject*, Subscriber> m_subscribers;
    QHash<QString, int> m_uses; // how many owners ask for each path
};

} // namespace tlg
