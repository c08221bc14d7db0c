#pragma once

// An HTTP server of the test's own on 127.0.0.1. It runs on the test's event loop, which the
// client under test keeps running while it waits, so no thread is needed.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

#include <functional>

namespace tlg::testing {

class LoopbackServer : public QObject {
public:
    // Answers one request (its bytes through the empty line) on its connection.
    using Handler = std::function<void(QTcpSocket* connection, const QByteArray& request)>;

    LoopbackServer()
    {
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            qFatal("cannot listen on 127.0.0.1");
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* connection = m_server.nextPendingConnection()) {
                connect(connection, &QTcpSocket::readyRead, this, [this, connection] { read(connection); });
                connect(connection, &QTcpSocket::disconnected, connection, &QObject::deleteLater);
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    // "http://127.0.0.1:<port>" and path.
    std::string url(const std::string& path = {}) const
    {
        return "http://127.0.0.1:" + std::to_string(port()) + path;
    }

    // Sends bytes and closes the connection, as an HTTP/1.0 server does.
    static void reply(QTcpSocket* connection, const QByteArray& bytes)
    {
        connection->write(bytes);
        connection->disconnectFromHost();
    }

    // Sends bytes and then resets the connection.
    static void resetAfter(QTcpSocket* connection, const QByteArray& bytes)
    {
        connection->write(bytes);
        connection->flush();
        const linger reset{1, 0};
        ::setsockopt(static_cast<int>(connection->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        connection->abort();
    }

    static QByteArray page(const QByteArray& status, const QByteArray& body, const QByteArray& fields = {})
    {
        return "HTTP/1.0 " + status + "\r\n" + fields + "Content-Type: text/html\r\n\r\n" + body;
    }

    // Every request received, in order.
    QList<QByteArray> requests;
    // The request lines ("GET /rklm/tlg-1.htm HTTP/1.0") of every request, in order.
    QList<QByteArray> requestLines() const
    {
        QList<QByteArray> lines;
        for (const QByteArray& request : requests)
            lines.append(request.left(request.indexOf("\r\n")));
        return lines;
    }
    // Answers each request; by default 200 with the body "ok".
    Handler handler = [](QTcpSocket* connection, const QByteArray&) { reply(connection, page("200 OK", "ok")); };

private:
    void read(QTcpSocket* connection)
    {
        QByteArray& pending = m_pending[connection];
        pending += connection->readAll();
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray request = pending.left(end + 4);
        m_pending.remove(connection);
        disconnect(connection, &QTcpSocket::readyRead, this, nullptr);
        requests.append(request);
        handler(connection, request);
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

} // namespace tlg::testing
