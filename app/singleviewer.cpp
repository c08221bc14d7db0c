#include "app/singleviewer.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

#include <limits>
#include <optional>

#include <unistd.h>

namespace tlg {

namespace {

// A hand-over is one frame: its size (quint32), then the message: kRequest, kVersion, the
// number of paths (quint32) and the paths, all as QDataStream writes them in Qt 6.0's format.
// The viewer answers with kAcknowledged (quint32) and closes.
constexpr quint32 kRequest = 0x544c4756; // "TLGV"
constexpr quint16 kVersion = 1;
constexpr quint32 kAcknowledged = 0x544c4741; // "TLGA"
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;
constexpr qsizetype kSizeBytes = 4;
// Enough for thousands of paths; a larger size is not ours.
constexpr quint32 kMaxMessage = 1024 * 1024;
// The smallest message: magic, version and a count of none.
constexpr quint32 kMinMessage = 4 + 2 + 4;
// A client that connects and does not finish its message within this is let go.
constexpr int kClientTimeoutMs = 10000;
// How long a starting viewer waits for another one that is taking the name at the same time.
constexpr int kLockWaitMs = 5000;
constexpr int kProbeTimeoutMs = 2000;

QByteArray requestFrame(const QStringList& paths)
{
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(kStreamVersion);
        out << kRequest << kVersion << quint32(paths.size());
        for (const QString& path : paths)
            out << path;
    }
    QByteArray frame;
    QDataStream out(&frame, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << quint32(message.size());
    frame.append(message);
    return frame;
}

quint32 readQuint32(const QByteArray& bytes)
{
    QDataStream in(bytes);
    in.setVersion(kStreamVersion);
    quint32 value = 0;
    in >> value;
    return value;
}

// The paths of a well-formed message, nothing for anything else. The count is checked against
// the message's size before anything is read, so a lying count costs nothing.
std::optional<QStringList> readPaths(const QByteArray& message)
{
    QDataStream in(message);
    in.setVersion(kStreamVersion);
    quint32 magic = 0;
    quint16 version = 0;
    quint32 count = 0;
    in >> magic >> version >> count;
    // Each path takes at least its 4-byte length.
    if (in.status() != QDataStream::Ok || magic != kRequest || version != kVersion ||
        count > quint32(message.size()) / 4)
        return std::nullopt;
    QStringList paths;
    paths.reserve(qsizetype(count));
    for (quint32 i = 0; i < count; ++i) {
        QString path;
        in >> path;
        if (in.status() != QDataStream::Ok)
            return std::nullopt;
        paths.append(path);
    }
    if (!in.atEnd())
        return std::nullopt;
    return paths;
}

int remainingMs(const QDeadlineTimer& deadline)
{
    return int(qMin<qint64>(deadline.remainingTime(), std::numeric_limits<int>::max()));
}

// Whether a viewer listens on `path` and takes a connection.
bool viewerAnswers(const QString& path)
{
    QLocalSocket probe;
    probe.connectToServer(path);
    const bool answered = probe.waitForConnected(kProbeTimeoutMs);
    probe.abort();
    return answered;
}

void drop(QLocalSocket* socket)
{
    socket->abort();
    socket->deleteLater();
}

} // namespace

QString ViewerSocketPath()
{
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        display = QStringLiteral("nodisplay");
    // A Wayland display may be a path; keep the name well within a socket path's 108 bytes.
    display.truncate(48);
    for (QChar& c : display) {
        const char16_t u = c.unicode();
        const bool kept = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                          u == u'.' || u == u'_' || u == u'-';
        if (!kept)
            c = QLatin1Char('_');
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return QDir::cleanPath(runtime) + QStringLiteral("/tlgview-") + display + QStringLiteral(".socket");
    return QDir::cleanPath(QDir::tempPath()) +
           QStringLiteral("/tlgview-%1-%2.socket").arg(qulonglong(::getuid())).arg(display);
}

bool HandOverToRunningViewer(const QStringList& paths, int timeoutMs)
{
    const QString socketPath = ViewerSocketPath();
    const QFileInfo socketFile(socketPath);
    // No viewer; or, in a shared temp folder, a socket another user made, which must not hear
    // of our files.
    if (!socketFile.exists() || socketFile.ownerId() != ::getuid())
        return false;

    QStringList absolute;
    absolute.reserve(paths.size());
    const QDir here = QDir::current();
    for (const QString& path : paths)
        absolute.append(path.isEmpty() ? path : here.absoluteFilePath(path));
    const QByteArray frame = requestFrame(absolute);
    if (frame.size() - kSizeBytes > qsizetype(kMaxMessage))
        return false;

    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(remainingMs(deadline)))
        return false;
    socket.write(frame);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remainingMs(deadline)))
            return false;
    }
    while (socket.bytesAvailable() < kSizeBytes) {
        if (!socket.waitForReadyRead(remainingMs(deadline)))
            return false;
    }
    return readQuint32(socket.read(kSizeBytes)) == kAcknowledged;
}

ViewerListener::ViewerListener(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &ViewerListener::acceptConnections);
    listen(ViewerSocketPath());
}

// The server removes its socket file as it closes.
ViewerListener::~ViewerListener() = default;

bool ViewerListener::isListening() const
{
    return m_server->isListening();
}

void ViewerListener::listen(const QString& path)
{
    // Viewers starting together take turns, so that none removes the socket another has just
    // made.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs))
        return;
    if (viewerAnswers(path))
        return;
    // Left by a viewer that ended without closing it.
    QLocalServer::removeServer(path);
    m_server->listen(path);
}

void ViewerListener::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        QTimer::singleShot(kClientTimeoutMs, socket, [socket] { drop(socket); });
        // The message may have come with the connection.
        if (socket->bytesAvailable() > 0)
            readMessage(socket);
    }
}

void ViewerListener::readMessage(QLocalSocket* socket)
{
    if (socket->bytesAvailable() < kSizeBytes)
        return;
    const quint32 size = readQuint32(socket->peek(kSizeBytes));
    if (size < kMinMessage || size > kMaxMessage) {
        drop(socket);
        return;
    }
    if (socket->bytesAvailable() < kSizeBytes + qint64(size))
        return;
    socket->skip(kSizeBytes);
    const std::optional<QStringList> paths = readPaths(socket->read(size));
    if (!paths) {
        drop(socket);
        return;
    }
    // One message a connection: anything after it is not read.
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    QByteArray reply;
    QDataStream out(&reply, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << kAcknowledged;
    socket->write(reply);
    // Closes once the acknowledgement is written.
    socket->disconnectFromServer();
    emit pathsReceived(*paths);
}

} // namespace tlg
