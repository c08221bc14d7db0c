// The HTTP client against a server of the test's own on 127.0.0.1: the request bytes, the
// header and body files, redirects, statuses, and every way a request can fail.

#include "banner/httpclient.h"
#include "loopbackserver.h"
#include "support/qtfiles.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

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
        QTest::addColumn<bool>("fits");
        QTest::newRow("65536 bytes with its CR LF") << 65536 << true;
        QTest::newRow("65537 bytes") << 65537 << false;
    }

    void headerLineMustFitTheBuffer()
    {
        QFETCH(int, lineLength);
        QFETCH(bool, fits);
        writeFile(body(), "good page");
        LoopbackServer server;
        const QByteArray line = "X-Long: " + QByteArray(lineLength - 10, 'a') + "\r\n";
        server.handler = [&](QTcpSocket* c, const QByteArray&) { server.reply(c, server.page("200 OK", "new page", line)); };
        const QString failure = failureOf([&] { m_client->Get(server.url("/rklm/tlg-1.htm")); });
        QCOMPARE(failure, fits ? QString() : QStringLiteral("Reply header line too long"));
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

private:
    QString body() const { return m_dir->filePath("page.htm"); }

    std::optional<QTemporaryDir> m_dir;
    QString m_previousFolder;
    std::optional<HttpClient> m_client;
};

QTEST_MAIN(HttpClientTest)
#include "tst_httpclient.moc"
