#include "banner/powersock.h"

#include "banner/httpmessage.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace tlg {

namespace {

// How a wait's event loop ended. QEventLoop::exec gives 0 when the application quits all its
// loops and -1 when it is quitting already, so the codes of our own start above them.
enum WaitResult { kReady = 1, kAborted, kTimedOut, kLimitReached };

std::string duration(int milliseconds)
{
    return milliseconds % 1000 == 0 ? std::to_string(milliseconds / 1000) + " s"
                                    : std::to_string(milliseconds) + " ms";
}

Powersock::HostLookup& hostLookup()
{
    static Powersock::HostLookup installed;
    return installed;
}

} // namespace

SocketConnection::~SocketConnection()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Powersock::Powersock(QObject* parent) : QObject(parent) {}

Powersock::~Powersock()
{
    *m_alive = false;
    if (m_wait) {
        m_wait->exit(kAborted);
    }
}

void Powersock::Abort()
{
    if (m_wait) {
        m_wait->exit(kAborted);
    }
}

void Powersock::setHostLookup(HostLookup lookup)
{
    hostLookup() = std::move(lookup);
}

void Powersock::setRequestTimeOuts(int connectMs, int idleMs, int totalMs)
{
    m_connectTimeOut = connectMs;
    m_idleTimeOut = idleMs;
    m_totalTimeOut = totalMs;
}

void Powersock::beginRequest()
{
    m_requestClock.start();
}

void Powersock::runWait(QEventLoop& loop, Phase phase)
{
    const std::shared_ptr<const bool> alive = m_alive;
    QTimer timer;
    if (m_timeOut > 0) {
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, [&loop] { loop.exit(kTimedOut); });
        timer.start(m_timeOut);
    }
    // The request's own limits: the one that runs out first ends the wait with its text.
    const int phaseLimit = phase == Phase::Connecting ? m_connectTimeOut : m_idleTimeOut;
    std::string limitText = phase == Phase::Connecting
                                ? "Connection timed out: no connection within " + duration(phaseLimit)
                                : "Connection timed out: the server was silent for " + duration(phaseLimit);
    qint64 limit = phaseLimit > 0 ? phaseLimit : -1;
    if (m_totalTimeOut > 0 && m_requestClock.isValid()) {
        const qint64 left = std::max<qint64>(0, m_totalTimeOut - m_requestClock.elapsed());
        if (limit < 0 || left < limit) {
            limit = left;
            limitText = "Connection timed out: no complete reply within " + duration(m_totalTimeOut);
        }
    }
    QTimer limitTimer;
    if (limit >= 0) {
        limitTimer.setSingleShot(true);
        connect(&limitTimer, &QTimer::timeout, &loop, [&loop] { loop.exit(kLimitReached); });
        limitTimer.start(static_cast<int>(limit));
    }
    m_wait = &loop;
    const int result = loop.exec();
    if (!*alive) {
        // Destroyed during the wait: nothing of this object may be touched any more.
        throw AbortError("Operation aborted");
    }
    m_wait = nullptr;
    if (result == kTimedOut) {
        throw SocketFailure(ETIMEDOUT);
    }
    if (result == kLimitReached) {
        throw SocketError(limitText);
    }
    if (result != kReady) {
        throw AbortError("Operation aborted");
    }
}

void Powersock::waitFor(int fd, QSocketNotifier::Type type, Phase phase)
{
    QEventLoop loop;
    QSocketNotifier notifier(fd, type);
    connect(&notifier, &QSocketNotifier::activated, &loop, [&loop] { loop.exit(kReady); });
    runWait(loop, phase);
}

in_addr Powersock::resolve(const std::string& host)
{
    in_addr address{};
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) {
        return address;
    }
    if (hostLookup()) {
        const std::optional<std::string> dotted = hostLookup()(host);
        if (dotted && ::inet_pton(AF_INET, dotted->c_str(), &address) == 1) {
            return address;
        }
        throw SocketError("Null Remote Address");
    }

    QEventLoop loop;
    QObject context; // the answer is dropped if it comes after this wait is over
    bool answered = false;
    std::optional<quint32> found;
    const int id = QHostInfo::lookupHost(QString::fromStdString(host), &context,
                                         [&](const QHostInfo& info) {
                                             for (const QHostAddress& a : info.addresses()) {
                                                 if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                                                     found = a.toIPv4Address();
                                                     break;
                                                 }
                                             }
                                             answered = true;
                                             loop.exit(kReady);
                                         });
    if (!answered) {
        try {
            runWait(loop, Phase::Connecting);
        } catch (const AbortError&) {
            QHostInfo::abortHostLookup(id);
            throw;
        }
    }
    if (!found) {
        throw SocketError("Null Remote Address");
    }
    address.s_addr = htonl(*found);
    return address;
}

SocketConnection Powersock::Connect(const std::string& host, int port)
{
    const in_addr address = resolve(host);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw SocketError("Initializaton of windows sockets failed");
    }
    SocketConnection connection(fd);
    // Closing resets the connection at once, also when a request is given up midway.
    const linger reset{1, 0};
    (void)::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    peer.sin_addr = address;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        // An interrupted non-blocking connect goes on in the background like one in progress.
        if (errno != EINPROGRESS && errno != EINTR) {
            throw SocketError("Connection Failed");
        }
        waitFor(fd, QSocketNotifier::Write, Phase::Connecting);
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            throw SocketError("Connection Failed");
        }
    }
    return connection;
}

void Powersock::Send(SocketConnection& connection, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(connection.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitFor(connection.fd(), QSocketNotifier::Write, Phase::Transfer);
        } else if (errno != EINTR) {
            throw SocketFailure(errno);
        }
    }
}

std::size_t Powersock::Receive(SocketConnection& connection, char* into, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::recv(connection.fd(), into, size, 0);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitFor(connection.fd(), QSocketNotifier::Read, Phase::Transfer);
        } else if (errno == ENOTCONN) {
            return 0; // read as the end of the reply
        } else if (errno != EINTR) {
            throw SocketFailure(errno);
        }
    }
}

} // namespace tlg
