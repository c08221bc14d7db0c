#pragma once

// The socket component under the HTTP client: TCP connections over POSIX sockets, and waits
// that keep the application's events running. A wait runs a nested event loop until the
// socket is ready, so timers, painting and input go on during a request; no other thread is
// involved, apart from the system's name look-up, which hands its answer back to this one.

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>

#include <netinet/in.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QEventLoop;

namespace tlg {

// One TCP connection, owned by the request that opened it. Closing it (its destructor)
// touches nothing else, so a request whose component went away still closes its socket as
// it unwinds.
class SocketConnection {
public:
    explicit SocketConnection(int fd) : m_fd(fd) {}
    ~SocketConnection();
    SocketConnection(SocketConnection&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    SocketConnection& operator=(SocketConnection&&) = delete;
    SocketConnection(const SocketConnection&) = delete;
    SocketConnection& operator=(const SocketConnection&) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

class Powersock : public QObject {
    Q_OBJECT

public:
    explicit Powersock(QObject* parent = nullptr);
    // A call waiting meanwhile ends with AbortError, and its socket is closed as it unwinds.
    ~Powersock() override;

    // The limit of each wait in milliseconds; 0, the default, waits as long as the network
    // takes. A wait that runs out fails with "10060:Connection timed out".
    int timeOut() const { return m_timeOut; }
    void setTimeOut(int milliseconds) { m_timeOut = milliseconds; }

    // The limits of a request, in milliseconds (0: none), each ending it with a SocketError:
    // the connection (with the host's look-up) must stand within the connect limit ("Connection
    // timed out: no connection within 10 s"), the server must send or take something at least
    // once every idle limit ("Connection timed out: the server was silent for 15 s"), and the
    // whole request, from beginRequest() on, must end within the total limit ("Connection timed
    // out: no complete reply within 45 s").
    static constexpr int kDefaultConnectTimeOut = 10000;
    static constexpr int kDefaultIdleTimeOut = 15000;
    static constexpr int kDefaultTotalTimeOut = 45000;
    void setRequestTimeOuts(int connectMs, int idleMs, int totalMs);
    int connectTimeOut() const { return m_connectTimeOut; }
    int idleTimeOut() const { return m_idleTimeOut; }
    int totalTimeOut() const { return m_totalTimeOut; }

    // Gives up the wait under way: the call ends with AbortError. Nothing when none waits.
    void Abort();

    // Answers host name look-ups in place of the system's resolver, with the dotted IPv4
    // address of a name or nothing when it has none; an empty function restores the resolver.
    // For tests, which must not reach the network.
    using HostLookup = std::function<std::optional<std::string>(const std::string& name)>;
    static void setHostLookup(HostLookup lookup);

protected:
    // Starts the total limit's clock for a request.
    void beginRequest();

    // Resolves host (a dotted address is taken as it is) and connects to it. Throws
    // SocketError "Null Remote Address" when the host has no IPv4 address, "Connection
    // Failed" when the connection is refused or cannot be made, and "Initializaton of windows
    // sockets failed" when no socket can be had.
    SocketConnection Connect(const std::string& host, int port);

    // Sends all of bytes. Throws SocketFailure(errno) when the socket fails.
    void Send(SocketConnection& connection, std::string_view bytes);

    // Receives at most size bytes, waiting until some are there; 0 once the peer has closed
    // the connection. Throws SocketFailure(errno) when the socket fails.
    std::size_t Receive(SocketConnection& connection, char* into, std::size_t size);

    // False once the component is destroyed. Code that may run after a wait in which the
    // component went away checks it before it touches a member.
    std::shared_ptr<const bool> aliveToken() const { return m_alive; }

private:
    enum class Phase { Connecting, Transfer };
    void waitFor(int fd, QSocketNotifier::Type type, Phase phase);
    // Runs loop until a handler ends it with kReady. Throws AbortError when the component goes
    // away, Abort() is called or the application quits meanwhile, SocketFailure(ETIMEDOUT)
    // after timeOut(), and SocketError with its text when a limit of the request runs out.
    void runWait(QEventLoop& loop, Phase phase);
    in_addr resolve(const std::string& host);

    int m_timeOut = 0;
    int m_connectTimeOut = kDefaultConnectTimeOut;
    int m_idleTimeOut = kDefaultIdleTimeOut;
    int m_totalTimeOut = kDefaultTotalTimeOut;
    QElapsedTimer m_requestClock; // since beginRequest()
    QEventLoop* m_wait = nullptr; // the wait under way, on the stack of the call
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace tlg
