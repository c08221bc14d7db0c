#pragma once

// Files for widget tests: written, read and locked as another program would.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tlg::testing {

inline QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    return path;
}

inline void appendFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        qFatal("cannot append to %s", qPrintable(path));
    file.write(bytes);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// Holds an flock lock on a file, as another program would, for as long as it lives.
class HeldLock {
public:
    explicit HeldLock(const QString& path, int operation = LOCK_EX)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR))
    {
        if (m_fd < 0 || ::flock(m_fd, operation | LOCK_NB) != 0)
            qFatal("cannot lock %s", qPrintable(path));
    }
    ~HeldLock() { ::close(m_fd); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    int m_fd;
};

} // namespace tlg::testing
