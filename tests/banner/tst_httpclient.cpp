// The HTTP client against a server of the test's own on 127.0.0.1: the request bytes, the
// header and body files, redirects, statuses, and every way a request can fail.

#include "banner/httpclient.h"
#include "loopbackserver.h"
#include "support/qtfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using tlg::HttpClient;
using tlg::testing::LoopbackServer;
using tlg::testing::readFile;
using tlg::testing::writeFile;

namespace {

const QByteArray kAccept = "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                           "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const QByteArray kContentType = "Content-type: application/x-www-form-urlencoded\r\n";

// The text of the failure that fn throws; empty when it throws none.
template <typename Fn>
QString failureOf(Fn&& fn)
{
    try {
        fn();
    } catch (const tlg::Failure& failure) {
        return QString::fromUtf8(failure.what());
    }
    return QString();
}

} // namespace

class HttpClientTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.emplace();
        m_previousFolder = QDir::currentPath();
        QDir::setCurrent(m_dir->path()); // "Head.txt" goes to the current folder
        m_client.emplace();
        m_client->setBody(body().toStdString());
    }

    void cleanup()
    {
        m_client.reset();
        tlg::Powersock::setHostLookup({});
        QDir::setCurrent(m_previousFolder);
        m_dir.reset();
    }

    void requestBytesHeaderFileAndBody()
    {
        LoopbackServer server;
        const QByteArray header = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Type: text/html\r\n\r\n";
        server.handler = [&](QTcpSocket* c, const QByteArray&) { server.reply(c, header + "hello, world"); };
        m_client->Get(server.url("/rklm/tlg-1.htm"));

        QCOMPARE(server.requests, QList<QByteArray>{"GET /rklm/tlg-1.htm HTTP/1.0\r\nHost: 127.0.0.1\r\n" + kAccept +
                                                    kContentType + "\r\n"});
        QCOMPARE(m_client->status(), 200);
        QCOMPARE(m_client->target().port, int(server.port()));
        QCOMPARE(readFile(m_dir->filePath("Head.txt")), header);
        // The content length is recorded; the close ends the body.
        QCOMPARE(m_client->reply().contentLength, 5LL);
        QCOMPARE(readFile(body()), QByteArray("hello, world"));
    }

    void hostAndPathFromTheAddress()
    {
        LoopbackServer server;
        m_client->Get(server.url());
        QCOMPARE(m_client->address(), server.url("/"));
        // Names go to the resolver; localhost comes from the hosts file, asking no name server.
        if (readFile(QStringLiteral("/etc/hosts")).contains("127.0.0.1 localhost"))
            m_client->Get("http://localhost:" + std::to_string(server.port()) + "/a.htm");
        tlg::Powersock::setHostLookup([](const std::string& name) -> std::optional<std::string> {
            return name == "banner.test" ? std::optional<std::string>("127.0.0.1") : std::nullopt;
        });
        m_client->Get("http://banner.test:" + std::to_string(server.port()) + "/rklm/tlg-2.htm");
        QCOMPARE(server.requestLines().first(), QByteArray("GET / HTTP/1.0"));
        QVERIFY(server.requests.last().contains("\r\nHost: banner.test\r\n"));
    }

    void repliesThatAreNoError_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("404 keeps its body") << LoopbackServer::page("404 Not Found", "no page") << 404 << QByteArray("no page");
        QTest::newRow("closed without a reply") << QByteArray() << 0 << QByteArray();
        QTest::newRow("302 without Location") << LoopbackServer::page("302 Found", "nowhere") << 302 << QByteArray("nowhere");
    }

    void repliesThatAreNoError()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        writeFile(this->body(), "old page");
        LoopbackServer server;
        server.handler = [&](QTcpSocket* c, const QByteArray&) { server.reply(c, reply); };
        m_client->Get(server.url("/rklm/tlg-3.htm"));
        QCOMPARE(m_client->status(), status);
        QCOMPARE(readFile(this->body()), body);
        QCOMPARE(readFile(m_dir->filePath("Head.txt")), reply.left(reply.indexOf("\r\n\r\n") + 4));
    }

    void redirectFollowsLocationWithItsCookie()
    {
        LoopbackServer server;
        server.handler = [&](QTcpSocket* c, const QByteArray& request) {
            if (request.startsWith("GET /rklm/tlg-1.htm "))
                server.reply(c, server.page("302 Found", "moved", "Location: /rklm/moved.htm\r\nSet-Cookie: session=42\r\n"));
            else
                server.reply(c, server.page("200 OK", "the moved page"));
        };
        m_client->Get(server.url("/rklm/tlg-1.htm"));
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(server.requests[1], "GET /rklm/moved.htm HTTP/1.0\r\nHost: 127.0.0.1\r\n" + kAccept +
                                         "Cookie: session=42\r\n" + kContentType + "\r\n");
        QCOMPARE(readFile(body()), QByteArray("the moved page"));

        // The cookie stays for later requests; a bare page name is taken on the same server.
        server.handler = [&](QTcpSocket* c, const QByteArray& request) {
            if (request.startsWith("GET /start "))
                server.reply(c, server.page("301 Moved", "", "Location: bare.htm\r\n"));
            else
                server.reply(c, server.page("200 OK", "bare"));
        };
        m_client->Get(server.url("/start"));
        QCOMPARE(server.requestLines().mid(2), (QList<QByteArray>{"GET /start HTTP/1.0", "GET /bare.htm HTTP/1.0"}));
        QVERIFY(server.requests[3].contains("\r\nCookie: session=42\r\n"));
    }

    void repeatsAreBounded_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("fields");
        QTest::newRow("302 to itself") << QByteArray("302 Found") << QByteArray("Location: /loop\r\n");
        QTest::newRow("303") << QByteArray("303 See Other") << QByteArray();
        QTest::newRow("299") << QByteArray("299 Odd") << QByteArray();
    }

    void repeatsAreBounded()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, fields);
        writeFile(body(), "good page");
        LoopbackServer server;
        server.handler = [&](QTcpSocket* c, const QByteArray&) { server.reply(c, server.page(status, "again", fields)); };
        QCOMPARE(failureOf([&] { m_client->Get(server.url("/loop")); }), QStringLiteral("Too many redirects"));
        QCOMPARE(server.requests.size(), 1 + tlg::kMaxRepeats);
        const QList<QByteArray> lines = server.requestLines();
        QCOMPARE(QSet<QByteArray>(lines.begin(), lines.end()), QSet<QByteArray>{"GET /loop HTTP/1.0"});
        QCOMPARE(readFile(body()), QByteArray("good page"));
    }

    void headerLineMustFitTheBuffer_data()
    {
        QTest::addColumn<int>("lineLength");
        QTest::addColumn<QString>("failure");
        QTest::newRow("65000 bytes") << 65000 << QString();
        // The line fits the buffer, but the whole header may not be longer either.
        QTest::newRow("65536 bytes with its CR LF") << 65536 << QStringLiteral("Reply header too long");
        QTest::newRow("65537 bytes") << 65537 << QStringLiteral("Reply header line too long");
    }

    void headerLineMustFitTheBuffer()
    {
        QFETCH(int, lineLength);
        QFETCH(QString, failure);
        const bool fits = failure.isEmpty();
        writeFile(body(), "good page");
        LoopbackServer server;
        const QByteArray line = "X-Long: " + QByteArray(lineLength - 10, 'a') + "\r\n";
        server.handler = [&](QTcpSocket* c, const QByteArray&) { server.reply(c, server.page("200 OK", "new page", line)); };
        QCOMPARE(failureOf([&] { m_client->Get(server.url("/rklm/tlg-1.htm")); }), failure);
        QCOMPARE(readFile(body()), fits ? QByteArray("new page") : QByteArray("good page"));
    }

    void failuresCarryTheirTexts()
    {
        quint16 closedPort = 0;
        {
            LoopbackServer gone;
            closedPort = gone.port();
        }
        LoopbackServer server;
        const std::string port = std::to_string(server.port());
        tlg::Powersock::setHostLookup([](const std::string&) { return std::nullopt; });
        const std::pair<std::string, QString> cases[] = {
            {"http://127.0.0.1:" + std::to_string(closedPort) + "/x", "Connection Failed"},
            {"http://nowhere.test/x", "Null Remote Address"},
            {"https://127.0.0.1:" + port + "/", "HTTP Secure Socket is not supported"},
            {"", "Empty URL"},
        };
        for (const auto& [address, text] : cases)
            QCOMPARE(failureOf([&] { m_client->Get(address); }), text);
        QVERIFY(server.requests.isEmpty());

        const QString unwritable = m_dir->filePath("missing/page.htm");
        m_client->setBody(unwritable.toStdString());
        QCOMPARE(failureOf([&] { m_client->Get(server.url("/x")); }), "Cannot create file " + unwritable);
    }

    void resetMidBodyKeepsTheOldPage()
    {
        writeFile(body(), "good page");
        LoopbackServer server;
        server.handler = [&](QTcpSocket* c, const QByteArray&) { server.resetAfter(c, server.page("200 OK", "half a pa")); };
        QCOMPARE(failureOf([&] { m_client->Get(server.url("/rklm/tlg-1.htm")); }),
                 QStringLiteral("10054:Connection reset by peer"));
        QCOMPARE(readFile(body()), QByteArray("good page"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"Head.txt", "page.htm"}));
    }

    void secondGetDuringAWaitIsRefused()
    {
        LoopbackServer server;
        QString second;
        server.handler = [&](QTcpSocket* c, const QByteArray&) {
            // Runs inside the first Get's wait, as a timer or a click would.
            second = failureOf([&] { m_client->Get(server.url("/other")); });
            server.reply(c, server.page("200 OK", "first"));
        };
        m_client->Get(server.url("/first"));
        QCOMPARE(second, QStringLiteral("Already connected"));
        QCOMPARE(server.requestLines(), QList<QByteArray>{"GET /first HTTP/1.0"});
        QCOMPARE(readFile(body()), QByteArray("first"));
    }

    void destroyedDuringAWaitAbandonsTheRequest()
    {
        LoopbackServer server;
        QPointer<QTcpSocket> held;
        auto* client = new HttpClient;
        client->setBody(body().toStdString());
        server.handler = [&](QTcpSocket* c, const QByteArray&) {
            held = c;
            delete client; // the owner goes away while the request waits for its reply
        };
        bool aborted = false;
        try {
            client->Get(server.url("/rklm/tlg-1.htm"));
        } catch (const tlg::AbortError&) {
            aborted = true;
        }
        QVERIFY(aborted);
        QVERIFY(!QFile::exists(body()));
        // The client's socket was closed on the way out, so the server's end goes too.
        QVERIFY(held);
        QTRY_VERIFY(held.isNull());
    }

    void anEndlessHeaderOrBodyIsCutAndLeavesNoFiles_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("failure");
        QByteArray header = "HTTP/1.0 200 OK\r\n";
        while (header.size() <= 200000)
            header += "X-More: " + QByteArray(100, 'h') + "\r\n";
        QTest::newRow("header past 64 KiB") << header + "\r\nbody" << QStringLiteral("Reply header too long");
        QTest::newRow("body past 1 MiB") << LoopbackServer::page("200 OK", QByteArray(2 * 1024 * 1024, 'b'))
                                         << QStringLiteral("Reply body larger than 1 MiB");
        QTest::newRow("header of 64 KiB and body of 1 MiB")
            << "HTTP/1.0 200 OK\r\nX: " + QByteArray(65536 - 17 - 5 - 2, 'h') + "\r\n\r\n" + QByteArray(1024 * 1024, 'b')
            << QString();
    }

    void anEndlessHeaderOrBodyIsCutAndLeavesNoFiles()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, failure);
        writeFile(body(), "good page");
        writeFile(m_dir->filePath("Head.txt"), "old header");
        LoopbackServer server;
        server.handler = [&](QTcpSocket* c, const QByteArray&) { server.reply(c, reply); };
        QCOMPARE(failureOf([&] { m_client->Get(server.url("/rklm/tlg-1.htm")); }), failure);
        QStringList files{"Head.txt", "page.htm"};
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), files);
        if (failure.isEmpty()) {
            QCOMPARE(readFile(body()).size(), 1024 * 1024);
            QCOMPARE(readFile(m_dir->filePath("Head.txt")).size(), 65536);
        } else {
            QCOMPARE(readFile(body()), QByteArray("good page"));
        }
        if (failure.startsWith(QStringLiteral("Reply header")))
            QCOMPARE(readFile(m_dir->filePath("Head.txt")), QByteArray("old header"));
    }

    void aLineBreakInLocationOrCookieIsABadReply_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<QString>("failure");
        QTest::newRow("CR in Location") << QByteArray("Location: /next\rX-Injected: 1\r\n")
                                        << QStringLiteral("Bad reply: the Location value holds a line break");
        QTest::newRow("CR in Set-Cookie") << QByteArray("Location: /next\r\nSet-Cookie: id=1\rX-Injected: 1\r\n")
                                          << QStringLiteral("Bad reply: the Set-Cookie value holds a line break");
        QTest::newRow("CR CR LF at the end") << QByteArray("Location: /next\r\r\n")
                                             << QStringLiteral("Bad reply: the Location value holds a line break");
        QTest::newRow("plain") << QByteArray("Location: /next\r\nSet-Cookie: id=1\n") << QString();
    }

    void aLineBreakInLocationOrCookieIsABadReply()
    {
        QFETCH(QByteArray, fields);
        QFETCH(QString, failure);
        LoopbackServer server;
        server.handler = [&](QTcpSocket* c, const QByteArray& request) {
            server.reply(c, request.startsWith("GET /next") ? server.page("200 OK", "next")
                                                             : server.page("302 Moved", "", fields));
        };
        QCOMPARE(failureOf([&] { m_client->Get(server.url("/first")); }), failure);
        QCOMPARE(server.requests.size(), failure.isEmpty() ? 2 : 1);
        for (const QByteArray& request : server.requests)
            QVERIFY2(!request.contains("X-Injected"), request.constData());
    }

    void theHeaderFileReplacesALinkInItsPlace()
    {
        const QString target = m_dir->filePath("precious.txt");
        writeFile(target, "precious");
        QVERIFY(QFile::link(target, m_dir->filePath("Head.txt")));
        LoopbackServer server;
        m_client->Get(server.url("/x"));
        QCOMPARE(readFile(target), QByteArray("precious"));
        QVERIFY(!QFileInfo(m_dir->filePath("Head.txt")).isSymLink());
        QVERIFY(readFile(m_dir->filePath("Head.txt")).startsWith("HTTP/1.0 200 OK\r\n"));
    }

    void aSilentOrSlowServerEndsTheRequestInTime_data()
    {
        QTest::addColumn<int>("stepMs"); // a byte every so often; 0: nothing at all
        QTest::addColumn<QString>("failure");
        QTest::newRow("silent") << 0 << QStringLiteral("Connection timed out: the server was silent for 300 ms");
        QTest::newRow("a byte now and then")
            << 50 << QStringLiteral("Connection timed out: no complete reply within 1500 ms");
    }

    void aSilentOrSlowServerEndsTheRequestInTime()
    {
        QFETCH(int, stepMs);
        QFETCH(QString, failure);
        LoopbackServer server;
        QPointer<QTcpSocket> held;
        QTimer trickle;
        server.handler = [&](QTcpSocket* c, const QByteArray&) {
            held = c; // accepted and kept open
            if (stepMs > 0) {
                connect(&trickle, &QTimer::timeout, c, [c] { c->write("HTTP/1.0 200 OK\r\nX: "); });
                trickle.start(stepMs);
            }
        };
        m_client->setRequestTimeOuts(2000, 300, 1500);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf([&] { m_client->Get(server.url("/rklm/tlg-1.htm")); }), failure);
        QVERIFY2(clock.elapsed() < 10000, QByteArray::number(clock.elapsed()).constData());
        QVERIFY(clock.elapsed() >= (stepMs > 0 ? 1400 : 250)); // timers may fire a little early
        QVERIFY(held);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void theDefaultLimitsAreSecondsNotMinutes()
    {
        HttpClient client;
        QCOMPARE(client.connectTimeOut(), 10000);
        QCOMPARE(client.idleTimeOut(), 15000);
        QCOMPARE(client.totalTimeOut(), 45000);
    }

    void aConnectionThatDoesNotStandEndsInTime()
    {
        // A listener that never accepts, its queue filled: a further connection stays pending.
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::listen(listener, 0), 0);
        QCOMPARE(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        std::vector<int> fillers;
        for (int i = 0; i < 4; ++i) {
            fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        QTest::qWait(100);
        m_client->setRequestTimeOuts(300, 5000, 10000);
        QElapsedTimer clock;
        clock.start();
        const QString failure = failureOf([&] {
            m_client->Get("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x");
        });
        for (const int fd : fillers)
            ::close(fd);
        ::close(listener);
        QCOMPARE(failure, QStringLiteral("Connection timed out: no connection within 300 ms"));
        QVERIFY2(clock.elapsed() < 5000, QByteArray::number(clock.elapsed()).constData());
    }

private:
    QString body() const { return m_dir->filePath("page.htm"); }

    std::optional<QTemporaryDir> m_dir;
    QString m_previousFolder;
    std::optional<HttpClient> m_client;
};

QTEST_MAIN(HttpClientTest)
#include "tst_httpclient.moc"
