// One viewer: a second start of the program hands its logs to the viewer already listening
// and ends; --new-window starts a viewer of its own; the listener survives what is not a
// hand-over.

#include "app/singleviewer.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <future>
#include <memory>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using tlg::HandOverToRunningViewer;
using tlg::ViewerListener;

namespace {

constexpr int kWaitMs = 60000;

// The program with a display that does not exist and no platform forced: a start that went
// on to open a window fails at once instead of running on.
QProcessEnvironment withoutAWorkingDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
        environment.remove(QLatin1String(name));
    return environment;
}

QByteArray message(quint32 magic, quint16 version, quint32 count, const QStringList& paths)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << magic << version << count;
    for (const QString& path : paths)
        out << path;
    return bytes;
}

QByteArray frame(const QByteArray& message)
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << quint32(message.size());
    return bytes + message;
}

} // namespace

class SingleViewerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_runtime;

private slots:
    // Each test has a socket folder of its own, so no viewer of the user's is reached.
    void init()
    {
        m_runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(m_runtime->isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime->path()));
        qputenv("DISPLAY", ":999");
        qunsetenv("WAYLAND_DISPLAY");
        QCOMPARE(tlg::ViewerSocketPath(), m_runtime->path() + QStringLiteral("/tlgview-_999.socket"));
    }

    void aSecondStartHandsItsLogsOverAndEnds()
    {
        ViewerListener listener;
        QVERIFY(listener.isListening());
        QSignalSpy received(&listener, &ViewerListener::pathsReceived);
        const QTemporaryDir work;
        const QString here = QDir(work.path()).canonicalPath();
        const std::pair<QStringList, QStringList> starts[] = {
            {{"relative.log", "sub/b.log", "/var/log/syslog"},
             {here + "/relative.log", here + "/sub/b.log", "/var/log/syslog"}},
            {{}, {}}, // no log: the running viewer only comes to the front
        };
        for (const auto& [arguments, paths] : starts) {
            received.clear();
            QProcess program;
            program.setProcessEnvironment(withoutAWorkingDisplay());
            program.setWorkingDirectory(here);
            program.start(QStringLiteral(TLG_PROGRAM), arguments);
            QVERIFY(program.waitForStarted(kWaitMs));
            QTRY_VERIFY_WITH_TIMEOUT(program.state() == QProcess::NotRunning, kWaitMs);
            QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
                     program.readAllStandardError().constData());
            QCOMPARE(received.count(), 1);
            QCOMPARE(received.at(0).at(0).toStringList(), paths);
        }
    }

    void aNewWindowIsAViewerOfItsOwn()
    {
        ViewerListener listener;
        QSignalSpy received(&listener, &ViewerListener::pathsReceived);
        QProcess program;
        program.setProcessEnvironment(withoutAWorkingDisplay());
        program.start(QStringLiteral(TLG_PROGRAM), {QStringLiteral("--new-window"), QStringLiteral("/a.log")});
        QVERIFY(program.waitForStarted(kWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(program.state() == QProcess::NotRunning, kWaitMs);
        // It went for a window of its own (and found no display).
        QVERIFY(program.exitStatus() == QProcess::CrashExit || program.exitCode() != 0);
        QVERIFY(program.readAllStandardError().contains("platform plugin"));
        QCOMPARE(received.count(), 0);
    }

    void aStaleSocketIsReplacedAndALiveOneKept()
    {
        const QString path = tlg::ViewerSocketPath();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!HandOverToRunningViewer({QStringLiteral("/a.log")}, kWaitMs));
        // The socket file a viewer that crashed leaves behind: nobody listens on it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(path));
        QVERIFY(!HandOverToRunningViewer({QStringLiteral("/a.log")}, kWaitMs));
        QVERIFY2(clock.elapsed() < kWaitMs / 2, "no viewer should be told at once, not after the wait");

        ViewerListener first;
        QVERIFY(first.isListening());
        QSignalSpy received(&first, &ViewerListener::pathsReceived);
        {
            ViewerListener second;
            QVERIFY(!second.isListening());
        }
        auto handedOver = std::async(std::launch::async,
                                     [] { return HandOverToRunningViewer({QStringLiteral("/b.log")}, kWaitMs); });
        QTRY_VERIFY_WITH_TIMEOUT(handedOver.wait_for(std::chrono::seconds(0)) == std::future_status::ready, kWaitMs);
        QVERIFY(handedOver.get());
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toStringList(), QStringList{"/b.log"});
    }

    void whatIsNotAHandOverIsDropped()
    {
        ViewerListener listener;
        QSignalSpy received(&listener, &ViewerListener::pathsReceived);
        const quint32 request = 0x544c4756;
        const QByteArray paths = message(request, 1, 1, {"/a.log"});
        // The first is well formed, which shows that the others are read as hand-overs.
        const std::pair<const char*, QByteArray> sent[] = {
            {"well formed", frame(paths)},
            {"too large", QByteArray("\xff\xff\xff\xff", 4)},
            {"text", "hello there\n"},
            {"another magic", frame(message(0x12345678, 1, 1, {"/a.log"}))},
            {"another version", frame(message(request, 2, 1, {"/a.log"}))},
            {"more paths than bytes", frame(message(request, 1, 0x0fffffff, {}))},
            {"a path cut short", frame(paths.chopped(1))},
            {"bytes after the paths", frame(paths + "x")},
        };
        for (const auto& [what, bytes] : sent) {
            QLocalSocket client;
            QByteArray answer;
            connect(&client, &QLocalSocket::readyRead, this, [&] { answer += client.readAll(); });
            client.connectToServer(tlg::ViewerSocketPath());
            QVERIFY2(client.waitForConnected(kWaitMs), what);
            client.write(bytes);
            QTRY_VERIFY2_WITH_TIMEOUT(client.state() == QLocalSocket::UnconnectedState, what, kWaitMs);
            QCOMPARE(answer, bytes == sent[0].second ? QByteArray("TLGA") : QByteArray());
            QVERIFY2(received.count() == 1, what);
        }
        QCOMPARE(received.at(0).at(0).toStringList(), QStringList{"/a.log"});
    }
};

QTEST_GUILESS_MAIN(SingleViewerTest)
#include "tst_singleviewer.moc"
