// The banner frame driven tick by tick: which pages its first tick fetches, the rotation and
// where the page view stands at each step, and its failures; the link and build labels; the
// home page.

#include "core/fileops.h"
#include "core/messages.h"
#include "banner/bannerframe.h"
#include "banner/buildlabel.h"
#include "banner/homepage.h"
#include "banner/httpclient.h"
#include "banner/urllabel.h"
#include "loopbackserver.h"
#include "support/qtfiles.h"

#include <QDesktopServices>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include <utime.h>

#include <ctime>

using tlg::BannerFrame;
using tlg::testing::LoopbackServer;
using tlg::testing::readFile;
using tlg::testing::writeFile;

namespace {

const QPoint kHidden(400, 300);
const QRect kShown(-7, -11, 350, 120);

void setAge(const QString& path, std::time_t secondsOld)
{
    const std::time_t when = std::time(nullptr) - secondsOld;
    const utimbuf times{when, when};
    if (::utime(QFile::encodeName(path).constData(), &times) != 0)
        qFatal("cannot date %s", qPrintable(path));
}

// Opens addresses in place of the desktop's browser, and keeps them.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    UrlRecorder()
    {
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }
    ~UrlRecorder() override
    {
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

class BannerTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_home.emplace();
        m_work.emplace();
        qputenv("TLGVIEW_HOME", m_home->path().toLocal8Bit());
        qunsetenv("TLGVIEW_BANNER_URL");
        qunsetenv("TLGVIEW_HOME_PAGE");
        m_previousFolder = QDir::currentPath();
        QDir::setCurrent(m_work->path());
        tlg::setMessageHook([this](const tlg::MessageRequest& request) {
            m_messages.append(request.text);
            return QMessageBox::Ok;
        });
        m_frame = std::make_unique<BannerFrame>();
    }

    void cleanup()
    {
        m_frame.reset();
        m_messages.clear();
        tlg::setMessageHook({});
        QDir::setCurrent(m_previousFolder);
        qunsetenv("TLGVIEW_HOME");
        qunsetenv("TLGVIEW_BANNER_URL");
        qunsetenv("TLGVIEW_HOME_PAGE");
        m_work.reset();
        m_home.reset();
    }

    // Whether a browser is set is asked of xdg-mime (here a stand-in that answers what the test
    // says), for a page on this computer and for a web address.
    void theDesktopIsAskedWhetherABrowserIsSet()
    {
        QTemporaryDir tools;
        writeFile(tools.filePath("xdg-mime"), "#!/bin/sh\necho \"$STAND_IN_ANSWER\"\n");
        QVERIFY(QFile::setPermissions(tools.filePath("xdg-mime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray path = qgetenv("PATH");
        const QByteArray browser = qgetenv("BROWSER");
        qputenv("PATH", tools.path().toLocal8Bit() + ":" + path);
        qunsetenv("BROWSER");
        const QUrl page = QUrl::fromLocalFile(QStringLiteral("/tmp/TlgView.htm"));
        const QUrl web(QStringLiteral("http://127.0.0.1/"));
        qputenv("STAND_IN_ANSWER", "");
        const bool noneSet = !tlg::DesktopOpens(page) && !tlg::DesktopOpens(web);
        qputenv("STAND_IN_ANSWER", "firefox-esr.desktop");
        const bool browserSet = tlg::DesktopOpens(page) && tlg::DesktopOpens(web);
        qputenv("STAND_IN_ANSWER", "");
        qputenv("BROWSER", "lynx");
        const bool variableSet = tlg::DesktopOpens(web) && !tlg::DesktopOpens(page);
        qputenv("PATH", path);
        browser.isNull() ? qunsetenv("BROWSER") : qputenv("BROWSER", browser);
        qunsetenv("STAND_IN_ANSWER");
        QVERIFY(noneSet);
        QVERIFY(browserSet);
        QVERIFY(variableSet);
    }

    void startKeepsItsSettingsUntilTheFirstTick()
    {
        QCOMPARE(m_frame->size(), QSize(305, 82));
        QVERIFY(!m_frame->timer()->isActive());
        m_frame->startRotation("tlg", "Log Viewer", 10000);
        QCOMPARE(label("Label1")->text(), QStringLiteral("Log Viewer"));
        QCOMPARE(m_frame->timer()->interval(), 10000);
        QVERIFY(m_frame->timer()->isActive());

        m_frame->fetchOrRotate();
        m_frame->stopRotation();
        QVERIFY(!m_frame->timer()->isActive());
        m_frame->startRotation("xyz", "Other", 500);
        QCOMPARE(m_frame->bannerName(), QStringLiteral("tlg"));
        QCOMPARE(label("Label1")->text(), QStringLiteral("Log Viewer"));
        QCOMPARE(m_frame->timer()->interval(), 10000);
        QVERIFY(m_frame->timer()->isActive());
    }

    void firstTickFetchesMissingAndStaleCopies_data()
    {
        QTest::addColumn<QList<int>>("ages"); // seconds old per page, -1 for no copy
        QTest::addColumn<QList<QByteArray>>("fetched");
        const int day = 86400;
        QTest::newRow("no copies") << QList<int>{-1, -1, -1}
                                   << QList<QByteArray>{"/rklm/tlg-1.htm", "/rklm/tlg-2.htm", "/rklm/tlg-3.htm"};
        QTest::newRow("all fresh") << QList<int>{3600, 60, 0} << QList<QByteArray>{};
        QTest::newRow("only page 2 stale") << QList<int>{3600, day + 3600, 3600} << QList<QByteArray>{"/rklm/tlg-2.htm"};
        QTest::newRow("dated in the future") << QList<int>{-day, -60, -3 * day} << QList<QByteArray>{};
        QTest::newRow("stale and missing") << QList<int>{30 * day, 3600, -1}
                                           << QList<QByteArray>{"/rklm/tlg-1.htm", "/rklm/tlg-3.htm"};
    }

    void firstTickFetchesMissingAndStaleCopies()
    {
        QFETCH(QList<int>, ages);
        QFETCH(QList<QByteArray>, fetched);
        LoopbackServer server;
        server.handler = [&](QTcpSocket* c, const QByteArray& request) {
            server.reply(c, server.page("200 OK", "fetched " + request.split(' ').value(1)));
        };
        qputenv("TLGVIEW_BANNER_URL", QByteArray::fromStdString(server.url("/rklm/")));
        for (int page = 1; page <= 3; ++page) {
            if (ages[page - 1] == -1)
                continue;
            writeFile(stored(page), "stored");
            setAge(stored(page), ages[page - 1]);
        }
        m_frame->startRotation("tlg", "Log Viewer", 10000);
        m_frame->fetchOrRotate();

        QList<QByteArray> paths;
        for (const QByteArray& line : server.requestLines())
            paths.append(line.split(' ').value(1));
        QCOMPARE(paths, fetched);
        for (int page = 1; page <= 3; ++page) {
            const QByteArray path = "/rklm/tlg-" + QByteArray::number(page) + ".htm";
            QCOMPARE(readFile(stored(page)), fetched.contains(path) ? "fetched " + path : QByteArray("stored"));
        }
        // The reply header went to the current folder, not beside the program.
        QCOMPARE(QFile::exists(m_work->filePath("Head.txt")), !fetched.isEmpty());
        QVERIFY(!QFile::exists(m_home->filePath("Head.txt")));
        QVERIFY(m_frame->timer()->isActive());
        QVERIFY(m_messages.isEmpty());
    }

    void withoutServerTheProgramsOwnPagesStandIn()
    {
        writeFile(stored(2), "a page of the maker's");
        m_frame->startRotation("tlg", "Log Viewer", 10000);
        m_frame->fetchOrRotate();
        QCOMPARE(readFile(stored(1)), tlg::BuiltInPage("tlg-1.htm"));
        QCOMPARE(readFile(stored(2)), QByteArray("a page of the maker's"));
        QCOMPARE(readFile(stored(3)), tlg::BuiltInPage("tlg-3.htm"));
        QVERIFY(tlg::BuiltInPage("tlg-3.htm").contains("<html>"));
        QVERIFY(!QFile::exists(m_work->filePath("Head.txt")));
        QVERIFY(m_frame->timer()->isActive());
    }

    void failedFetchLeavesTheLabelsForGood()
    {
        quint16 closedPort = 0;
        {
            LoopbackServer gone;
            closedPort = gone.port();
        }
        qputenv("TLGVIEW_BANNER_URL", "http://127.0.0.1:" + QByteArray::number(closedPort) + "/rklm/");
        m_frame->startRotation("tlg", "Log Viewer", 1);
        // The timer's own tick shows the failure in the error box.
        QTRY_COMPARE(m_messages, QStringList{"Connection Failed"});
        QVERIFY(m_frame->bannerStarted());
        QVERIFY(!m_frame->timer()->isActive());
        QCOMPARE(m_frame->webBrowser()->pos(), QPoint(400, 72));
        QVERIFY(!QFile::exists(stored(1)));
    }

    void rotationShowsLabelsThenEachPage()
    {
        for (int page = 1; page <= 3; ++page)
            writeFile(stored(page), "<html><body>page " + QByteArray::number(page) + "</body></html>");
        m_frame->startRotation("tlg", "Log Viewer", 10000);
        m_frame->fetchOrRotate(); // the fetching tick: all copies are fresh
        QTextBrowser* browser = m_frame->webBrowser();

        // 0 labels, 1 labels, 2 page 1, 3 page 2, 4 page 3, then again from the labels.
        const int pages[] = {0, 0, 1, 2, 3, 0, 0, 1};
        for (int tick = 0; tick < 8; ++tick) {
            m_frame->fetchOrRotate();
            if (pages[tick] == 0) {
                QCOMPARE(browser->pos(), kHidden);
            } else {
                QCOMPARE(browser->geometry(), kShown);
                QCOMPARE(browser->source(), QUrl::fromLocalFile(stored(pages[tick])));
                QCOMPARE(browser->toPlainText(), QStringLiteral("page %1").arg(pages[tick]));
            }
        }
        // Hiding moves the view away and keeps its size.
        QCOMPARE(m_frame->bannerStep(), 3);
        m_frame->stopRotation();
        QCOMPARE(browser->geometry(), QRect(kHidden, kShown.size()));

        // A copy that has gone is still given its turn, with a note in place of the page.
        QFile::remove(stored(2));
        m_frame->startRotation("tlg", "Log Viewer", 10000);
        m_frame->fetchOrRotate();
        QCOMPARE(m_frame->bannerStep(), 4);
        QCOMPARE(browser->geometry(), kShown);
        QVERIFY(browser->toPlainText().startsWith("Cannot open file "));
        QVERIFY(m_messages.isEmpty());
    }

    void destroyedDuringAFetchIsLeftAlone()
    {
        LoopbackServer server;
        qputenv("TLGVIEW_BANNER_URL", QByteArray::fromStdString(server.url("/rklm/")));
        QPointer<BannerFrame> frame(m_frame.get());
        server.handler = [&](QTcpSocket*, const QByteArray&) { m_frame.reset(); };
        bool aborted = false;
        try {
            frame->fetchOrRotate();
        } catch (const tlg::AbortError&) {
            aborted = true;
        }
        QVERIFY(aborted);
        QVERIFY(frame.isNull());
        QCOMPARE(server.requests.size(), 1);
        QVERIFY(!QFile::exists(stored(1)));
    }

    void linkOpensTheHomePageAndLeavesTheBanner()
    {
        UrlRecorder browser;
        m_frame->startRotation("tlg", "Log Viewer", 10000);
        const QRect before = m_frame->webBrowser()->geometry();
        auto* link = m_frame->findChild<tlg::URLLabel*>("URLLabel1");
        QTest::mouseClick(link, Qt::LeftButton);
        const QString about = m_home->filePath("TlgView.htm");
        QCOMPARE(browser.opened, QList<QUrl>{QUrl::fromLocalFile(about)});
        QCOMPARE(readFile(about), tlg::BuiltInPage("TlgView.htm"));
        QCOMPARE(m_frame->webBrowser()->geometry(), before);
        QCOMPARE(m_frame->bannerStep(), 0);

        // A copy of the maker's own is not replaced; another address can be named.
        writeFile(about, "our own about page");
        tlg::OpenHomePage();
        QCOMPARE(readFile(about), QByteArray("our own about page"));
        qputenv("TLGVIEW_HOME_PAGE", "http://127.0.0.1/tlgview/");
        tlg::OpenHomePage();
        QCOMPARE(browser.opened.value(2), QUrl("http://127.0.0.1/tlgview/"));
        QVERIFY(m_messages.isEmpty());
    }

    void linkLabelFollowsTheMouse()
    {
        tlg::URLLabel link(QStringLiteral("www.marvikware.dk"));
        QFont underlined = link.font();
        underlined.setUnderline(true);
        link.setFont(underlined);
        link.setFrameStyle(QFrame::Panel | QFrame::Sunken);
        link.setUrl(QStringLiteral("http://127.0.0.1/"));
        QCOMPARE(link.toolTip(), QStringLiteral("http://127.0.0.1/"));

        hover(link, true);
        QCOMPARE(link.textColour(), QColor(Qt::red));
        QCOMPARE(link.frameStyle(), QFrame::Panel | QFrame::Sunken);
        hover(link, false);
        QCOMPARE(link.textColour(), QColor(Qt::blue));
        QVERIFY(!link.font().underline()); // gone even with LinkUnderline off

        link.setLinkUnderline(true);
        link.setLinkBorderstyle(true);
        hover(link, true);
        QVERIFY(link.font().underline());
        QCOMPARE(link.frameStyle(), QFrame::Box | QFrame::Plain);
        hover(link, false);
        QCOMPARE(link.frameStyle(), QFrame::Panel | QFrame::Sunken);
    }

    void buildLabelShowsTheVersion()
    {
        tlg::BuildLabel build;
        QCOMPARE(build.text(), QStringLiteral("Build 0.9.0.76"));
        build.setTextCaption2(QStringLiteral("Version"));
        QCOMPARE(build.text(), QStringLiteral("Build 0.9.0.76"));
        build.Loaded();
        QCOMPARE(build.text(), QStringLiteral("Version 0.9.0.76"));
    }

    void noFetchStartsWhileALoadRuns()
    {
        LoopbackServer server;
        qputenv("TLGVIEW_BANNER_URL", QByteArray::fromStdString(server.url("/rklm/")));
        bool loading = true;
        m_frame->setBusyCheck([&loading] { return loading; });
        m_frame->startRotation("tlg", "Log Viewer", 10000);
        m_frame->fetchOrRotate();
        QVERIFY(server.requests.isEmpty());
        QVERIFY(!m_frame->bannerStarted());
        QVERIFY(m_frame->timer()->isActive()); // the next tick tries again
        loading = false;
        m_frame->fetchOrRotate();
        QCOMPARE(server.requests.size(), 3);
        QVERIFY(m_frame->bannerStarted());
        QVERIFY(m_messages.isEmpty());
    }

    void aSilentServerEndsTheFetchWithItsText()
    {
        LoopbackServer server;
        QPointer<QTcpSocket> held;
        server.handler = [&](QTcpSocket* c, const QByteArray&) { held = c; };
        qputenv("TLGVIEW_BANNER_URL", QByteArray::fromStdString(server.url("/rklm/")));
        m_frame->httpClient()->setRequestTimeOuts(2000, 300, 5000);
        m_frame->startRotation("tlg", "Log Viewer", 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_messages, QStringList{"Connection timed out: the server was silent for 300 ms"}, 20000);
        QVERIFY(held);
        QVERIFY(!m_frame->timer()->isActive());
        QVERIFY(!QFile::exists(stored(1)));
    }

    void aPageTooLargeIsNotShown_data()
    {
        QTest::addColumn<bool>("fetched");
        QTest::newRow("on disk") << false;
        QTest::newRow("fetched") << true;
    }

    void aPageTooLargeIsNotShown()
    {
        QFETCH(bool, fetched);
        const QByteArray page = "<html><body>" + QByteArray(20 * 1024 * 1024, 'x') + "</body></html>";
        for (int n = 1; n <= 3; ++n)
            writeFile(stored(n), "<html><body>page " + QByteArray::number(n) + "</body></html>");
        LoopbackServer server;
        if (fetched) {
            setAge(stored(1), 2 * 86400);
            server.handler = [&](QTcpSocket* c, const QByteArray&) { server.reply(c, server.page("200 OK", page)); };
            qputenv("TLGVIEW_BANNER_URL", QByteArray::fromStdString(server.url("/rklm/")));
        } else {
            writeFile(stored(1), page);
        }
        m_frame->startRotation("tlg", "Log Viewer", 10000);
        if (fetched) {
            QCOMPARE(QString::fromUtf8([&] {
                         try {
                             m_frame->fetchOrRotate();
                         } catch (const tlg::Failure& failure) {
                             return QByteArray(failure.what());
                         }
                         return QByteArray();
                     }()),
                     QStringLiteral("Reply body larger than 1 MiB"));
            QCOMPARE(readFile(stored(1)), QByteArray("<html><body>page 1</body></html>"));
            return;
        }
        for (int tick = 0; tick < 4; ++tick)
            m_frame->fetchOrRotate();
        QVERIFY(m_frame->webBrowser()->toPlainText().startsWith(QStringLiteral("Page not shown: ")));
        QVERIFY(m_frame->webBrowser()->toPlainText().contains(QStringLiteral("1 MiB")));
        m_frame->fetchOrRotate();
        QCOMPARE(m_frame->webBrowser()->toPlainText(), QStringLiteral("page 2"));

        // Nor is a link to something that is no file.
        QFile::remove(stored(1));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), stored(1)));
        for (int tick = 0; tick < 4; ++tick)
            m_frame->fetchOrRotate();
        QVERIFY(m_frame->webBrowser()->toPlainText().startsWith(QStringLiteral("Page not shown: ")));
    }

private:
    QString stored(int page) const { return m_home->filePath(QStringLiteral("tlg-%1.htm").arg(page)); }
    QLabel* label(const char* name) const { return m_frame->findChild<QLabel*>(QLatin1String(name)); }

    static void hover(QWidget& widget, bool enter)
    {
        if (enter) {
            QEnterEvent event(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
            QApplication::sendEvent(&widget, &event);
        } else {
            QEvent event(QEvent::Leave);
            QApplication::sendEvent(&widget, &event);
        }
    }

    std::optional<QTemporaryDir> m_home;
    std::optional<QTemporaryDir> m_work;
    QString m_previousFolder;
    std::unique_ptr<BannerFrame> m_frame;
    QStringList m_messages;
};

QTEST_MAIN(BannerTest)
#include "tst_banner.moc"
