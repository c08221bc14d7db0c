// Opening while things go wrong: a log edited in place, deleted, held by another program, or
// asked for while another load runs, or closed while a long one runs; and the open dialog over
// special files.

#include "banner/bannerframe.h"
#include "banner/loopbackserver.h"
#include "app/openlogdialog.h"
#include "core/fileops.h"
#include "source/filelog.h"
#include "source/sharedfilewatcher.h"
#include "view/logview.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QDateTime>
#include <QLocale>
#include <QHeaderView>
#include <QTreeView>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <thread>

using tlg::MainWindow;
using tlg::testing::appendFile;
using tlg::testing::HeldLock;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

QByteArray numberedText(int lines)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += "line " + QByteArray::number(i) + " status OK, and some more words to fill it\n";
    return text;
}

// Replaces one stretch of the file's bytes in place, keeping its size.
void overwriteAt(const QString& path, qint64 at, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(at));
    QCOMPARE(file.write(bytes), bytes.size());
}

std::string fileBytes(const QString& path)
{
    return tlg::testing::readFile(path).toStdString();
}

} // namespace

class OpeningTest : public QObject {
    Q_OBJECT

private slots:
    void anEditInPlaceIsShownAtTheNextTick()
    {
        ViewerFixture viewer;
        const QByteArray text = numberedText(3000); // well within what a tick compares whole
        const QString log = writeFile(viewer.home() + "edited.log", text);
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), text.toStdString());

        // A line in the middle rewritten in place, then the log grows: head and the bytes
        // before the old end are as they were.
        const qint64 middle = text.indexOf("line 1500 status OK") + 17;
        overwriteAt(log, middle, "FAILED!");
        appendFile(log, "a new line\n");
        viewer.tick();
        QCOMPARE(window->log()->lines()->copyText(), fileBytes(log));
        viewer.tick();
        QCOMPARE(viewer.shownText(), fileBytes(log));
        QVERIFY(viewer.shownText().find("line 1500 status FAILED!") != std::string::npos);
    }

    void aLongLogEditedInPlaceIsShownWithinABoundedNumberOfTicks()
    {
        ViewerFixture viewer;
        // Past what one tick compares: the rest is compared on the ticks that follow.
        QByteArray text = numberedText(400000);
        QVERIFY(text.size() > (20 << 20));
        const QString log = writeFile(viewer.home() + "long.log", text);
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        QCOMPARE(viewer.shownText().size(), static_cast<std::size_t>(text.size()));

        overwriteAt(log, text.size() - (3 << 20), "FAILED!");
        // One tick sees the change, then each compares up to 16 MiB more; the colouring of a
        // load comes one tick after it.
        const int bound = static_cast<int>(text.size() / (16 << 20)) + 3;
        int ticks = 0;
        while (viewer.shownText() != fileBytes(log) && ticks < bound) {
            viewer.tick();
            ++ticks;
        }
        QCOMPARE(viewer.shownText(), fileBytes(log));
        QVERIFY(tlg::testing::WatchOf(window).StoredSize == text.size());
    }

    void aDeletedLogIsMissingAndAReloadKeepsTitlePathAndTextTogether()
    {
        ViewerFixture viewer;
        const QString first = writeFile(viewer.home() + "first.log", "first log\n");
        const QString second = writeFile(viewer.home() + "second.log", "second log\n");
        MainWindow* window = viewer.start({first});
        viewer.tick(2);
        window->tabs()->openListed(QFile::encodeName(second).toStdString());
        viewer.settle();
        QCOMPARE(tlg::testing::FileLogIn(window)->previousPath(), first);

        QVERIFY(QFile::remove(second));
        viewer.tick();
        QCOMPARE(viewer.status(0), QStringLiteral("File Could not be located"));
        // Reload goes back to the log open before the pick, under its own name.
        window->log()->reload();
        viewer.settle();
        QCOMPARE(window->tab()->path(), first);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + first);
        QCOMPARE(viewer.shownText(), std::string("first log\n"));
        viewer.tick(2);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + first);
        QCOMPARE(viewer.shownText(), std::string("first log\n"));
        QVERIFY(viewer.messages.isEmpty());
    }

    void aListedLogThatCannotBeReadLeavesTheOpenLogAsItWas()
    {
        ViewerFixture viewer;
        const QString open = writeFile(viewer.home() + "open.log", "the open log\n");
        const QString held = writeFile(viewer.home() + "held.log", "held log\n");
        MainWindow* window = viewer.start({open});
        viewer.tick(2);
        {
            HeldLock lock(held);
            window->tabs()->openListed(QFile::encodeName(held).toStdString());
            viewer.settle();
        }
        QCOMPARE(viewer.status(0), QStringLiteral("File is Locked, try Again"));
        QCOMPARE(window->tab()->path(), open);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + open);
        QCOMPARE(viewer.shownText(), std::string("the open log\n"));
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        appendFile(open, "still followed\n");
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("the open log\nstill followed\n"));
    }

    void aRequestMadeDuringALoadRunsWhenItEnds_data()
    {
        QTest::addColumn<QString>("request");
        QTest::newRow("drop") << "drop";
        QTest::newRow("file-list pick") << "pick";
        QTest::newRow("reload") << "reload";
        QTest::newRow("apply now") << "apply";
        QTest::newRow("open file") << "open";
    }

    void aRequestMadeDuringALoadRunsWhenItEnds()
    {
        QFETCH(QString, request);
        ViewerFixture viewer;
        const QString first = writeFile(viewer.home() + "first.log", "first\n");
        const QString second = writeFile(viewer.home() + "second.log", "second\n");
        MainWindow* window = viewer.start({first});
        viewer.tick(2);
        tlg::FileLog* log = tlg::testing::FileLogIn(window);
        appendFile(first, "more\n");

        // The manual reload's read (or a look's, when a notice came first) is held until the
        // request has been made.
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> reads{0};
        std::atomic<bool> held{false};
        log->setReadHook([released, &reads, &held] {
            if (reads++ == 0) {
                held = true;
                released.wait();
            }
        });
        if (request == "open") {
            // The dialog comes up once the load is over; it is answered with the second log.
            auto* poll = new QTimer(window);
            poll->setInterval(10);
            QObject::connect(poll, &QTimer::timeout, poll, [window, second, poll] {
                auto* dialog = window->findChild<QFileDialog*>(QStringLiteral("Open1"));
                if (!dialog || !dialog->isVisible())
                    return;
                poll->stop();
                poll->deleteLater();
                // Picked and typed into the name field: the dialog's file model fills in the
                // background, and puts in the file it was opened on once it has.
                dialog->selectFile(second);
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(second);
                static_cast<QDialog*>(dialog)->accept();
            });
            poll->start();
        }
        std::vector<std::string> texts; // each text the log read, in order
        QObject::connect(log, &tlg::Log::changed, window, [&](const tlg::LogChange& change) {
            if (change.why != tlg::LogChange::Why::Said)
                texts.push_back(log->lines()->copyText());
        });
        log->reload();
        QTRY_VERIFY_WITH_TIMEOUT(held, 10000);
        QVERIFY(log->busy());
        if (request == "drop")
            window->tabs()->openDropped({QUrl::fromLocalFile(second)});
        else if (request == "pick")
            window->tabs()->openListed(QFile::encodeName(second).toStdString());
        else if (request == "reload")
            log->reload();
        else if (request == "apply")
            log->readAgain();
        else
            window->tabs()->openFromDialog();
        release.set_value();
        // A request of the log that reads ran once the reload was over (a second read); another
        // log opened in a tab of its own.
        if (request == "reload" || request == "apply")
            QTRY_VERIFY_WITH_TIMEOUT(texts.size() >= 2, 10000);
        else
            QTRY_COMPARE_WITH_TIMEOUT(window->tab()->path(), second, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!log->busy(), 10000);
        QCOMPARE(texts.front(), std::string("first\nmore\n")); // the reload itself
        if (request == "reload" || request == "apply") {
            QCOMPARE(log->path(), first);
        } else {
            QCOMPARE(window->windowTitle(), "Log Viewer - " + second);
        }
        QVERIFY(viewer.messages.isEmpty());
    }

    // A source closed while it reads a long log stops the read: closing takes a small part of
    // what the whole open takes, measured here on the same file.
    void closingASourceStopsTheReadUnderWay()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // Sparse: nothing on disk, yet read, indexed and hashed as any log's bytes are (and read
        // twice, the second time without its NULs).
        const QString path = dir.filePath(QStringLiteral("long.log"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write("first line\n"), qint64(11));
            QVERIFY(file.resize(qint64(128) << 20));
        }
        QElapsedTimer clock;
        qint64 whole = -1;
        {
            tlg::FileLog source(path, tlg::OpenWay::Chosen);
            bool opened = false;
            QObject::connect(&source, &tlg::Log::opened, &source, [&](bool ok) {
                opened = ok;
                whole = clock.elapsed();
            });
            clock.start();
            source.start();
            QTRY_VERIFY_WITH_TIMEOUT(whole >= 0, 120000);
            QVERIFY(opened);
        }

        auto source = std::make_unique<tlg::FileLog>(path, tlg::OpenWay::Chosen);
        std::promise<void> started;
        source->setReadHook([&started] { started.set_value(); });
        source->start();
        QVERIFY(started.get_future().wait_for(std::chrono::minutes(1)) == std::future_status::ready);
        clock.restart();
        source.reset();
        const qint64 closing = clock.elapsed();
        QVERIFY2(closing * 4 < whole,
                 qPrintable(QStringLiteral("closing took %1 ms, the whole open %2 ms").arg(closing).arg(whole)));
    }

    void aReplacedRequestLeavesTheSourceIdle()
    {
        ViewerFixture viewer;
        const QString path = writeFile(viewer.home() + "a.log", "one\n");
        tlg::FileLog source(path, tlg::OpenWay::Chosen);
        int heard = 0;
        QObject::connect(&source, &tlg::Log::changed, &source, [&](const tlg::LogChange& change) {
            heard += change.why != tlg::LogChange::Why::Said;
        });
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(heard, 1, 60000);
        auto gate = std::make_shared<std::promise<void>>();
        std::shared_future<void> released = gate->get_future().share();
        auto entered = std::make_shared<std::atomic<int>>(0);
        source.setReadHook([released, entered] {
            ++*entered;
            released.wait();
        });
        source.readAgain();
        QTRY_COMPARE_WITH_TIMEOUT(entered->load(), 1, 60000);
        // Two more wait behind it; the second replaces the first, which never reads.
        source.readAgain();
        source.readAgain();
        gate->set_value();
        QTRY_COMPARE_WITH_TIMEOUT(heard, 3, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!source.busy(), 60000);
    }

    void aChangeIsShownAsSoonAsItIsNotified()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "live.log", "one\n");
        MainWindow* window = viewer.start({log});
        viewer.find<QSlider>("TrackBar1")->setValue(10); // the interval alone would take 10 s
        auto* instantly = viewer.find<QCheckBox>("CheckBoxFollowInstantly");
        QVERIFY(instantly->isChecked());

        appendFile(log, "two error\n");
        QTRY_COMPARE_WITH_TIMEOUT(viewer.shownText(), std::string("one\ntwo error\n"), 5000);
        QCOMPARE(window->tab()->view()->colourAt(8), QColor(0xFF, 0, 0)); // coloured too

        // Rotated: the folder is watched, so the new file is seen as soon as it is there.
        QVERIFY(QFile::rename(log, log + ".1"));
        writeFile(log, "after rotation\n");
        QTRY_COMPARE_WITH_TIMEOUT(viewer.shownText(), std::string("after rotation\n"), 5000);

        // Off: back to the interval alone; nothing of the log is watched for notices.
        instantly->click();
        const QStringList watched = tlg::SharedFileWatcher::instance().watchedPaths();
        QVERIFY(!watched.contains(log));
        QVERIFY(!watched.contains(QFileInfo(log).absolutePath()));
        appendFile(log, "three\n");
        QCOMPARE(viewer.shownText(), std::string("after rotation\n"));
        viewer.tick();
        QCOMPARE(viewer.shownText(), std::string("after rotation\nthree\n"));
    }

    void aBurstOfWritesCostsFewReloads()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "burst.log", "start\n");
        MainWindow* window = viewer.start({log});
        viewer.find<QSlider>("TrackBar1")->setValue(10);
        std::atomic<int> reads{0};
        tlg::testing::FileLogIn(window)->setReadHook([&reads] { ++reads; });

        // Forty writes within about 0.4 s, each one notified.
        QElapsedTimer clock;
        clock.start();
        QByteArray expected = "start\n";
        for (int i = 0; i < 40; ++i) {
            const QByteArray line = "burst line " + QByteArray::number(i) + "\n";
            appendFile(log, line);
            expected += line;
            QTest::qWait(10);
        }
        QTRY_COMPARE_WITH_TIMEOUT(viewer.shownText(), expected.toStdString(), 5000);
        const qint64 span = clock.elapsed();
        // At most one reload per gap between notified ticks over the span, and one more.
        const int bound = static_cast<int>(span / tlg::Follower::kNotifiedTickGapMs) + 2;
        QVERIFY2(reads <= bound, qPrintable(QStringLiteral("%1 reloads in %2 ms").arg(reads.load()).arg(span)));
    }

    void followingGoesOnWhileABannerFetchWaits()
    {
        // A banner server that accepts and never answers.
        tlg::testing::LoopbackServer server;
        QPointer<QTcpSocket> held;
        server.handler = [&](QTcpSocket* connection, const QByteArray&) { held = connection; };
        qputenv("TLGVIEW_BANNER_URL", QByteArray::fromStdString(server.url("/rklm/")));
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "during.log", "before\n");
        MainWindow* window = viewer.start({log});
        auto* banner = viewer.find<tlg::BannerFrame>("Frame11");

        std::string shownDuringFetch;
        bool fetchWasWaiting = false;
        bool fetchEnded = false;
        QTimer::singleShot(0, window, [&] {
            try {
                banner->fetchOrRotate(); // the fetch, in its own loop until the server goes
            } catch (const std::exception&) {
                // the connection dropped below it: said in the error box, as the window would
            }
            fetchEnded = true;
        });
        QTimer::singleShot(300, window, [&] { appendFile(log, "written during the fetch\n"); });
        QTimer::singleShot(2500, window, [&] {
            shownDuringFetch = viewer.shownText();
            fetchWasWaiting = held && !fetchEnded;
            if (held)
                held->abort();
        });
        QTRY_VERIFY_WITH_TIMEOUT(fetchEnded, 20000);
        qunsetenv("TLGVIEW_BANNER_URL");
        QVERIFY(fetchWasWaiting);
        QCOMPARE(shownDuringFetch, std::string("before\nwritten during the fetch\n"));
    }

    void theOpenDialogNeverReadsSpecialFiles()
    {
        // The dialog's list asks for every row's picture and type: they come from the file's
        // name alone, so /proc's files (whose read may never end) and a file whose bytes say PDF
        // are never opened. Asked beside the GUI thread, as the list's listing does, and waited
        // for with a bound that only a blocked read reaches.
        ViewerFixture viewer;
        const QString folder = viewer.home() + "listed";
        QVERIFY(QDir().mkpath(folder));
        writeFile(folder + "/report", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n");
        MainWindow* window = viewer.start();
        QVERIFY(!window->findChild<QFileDialog*>(QStringLiteral("Open1"))); // made when first needed

        // Held by the asking thread too, which a blocked read would leave behind.
        const auto provider = std::make_shared<tlg::NameOnlyIconProvider>();
        QFileDialog* dialog = tlg::MakeOpenLogDialog(window, provider.get());
        QCOMPARE(dialog->objectName(), QStringLiteral("Open1"));
        QCOMPARE(dialog->iconProvider(), provider.get());
        QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("All files (*)"));
        // The size, type and time columns hold what they usually show.
        auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
        QVERIFY(list);
        const QFontMetrics metrics(list->font());
        const QString time = QLocale().toString(QDateTime(QDate(2026, 12, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
        QVERIFY(list->header()->sectionSize(1) > metrics.horizontalAdvance(QStringLiteral("1023.9 KiB")));
        QVERIFY(list->header()->sectionSize(3) > metrics.horizontalAdvance(time));
        QCOMPARE(dialog->nameFilters().value(1), QStringLiteral("Log files (*.log *.txt *.out *.gz *.xz *.bz2 *.zst *.journal)"));
        const QStringList names{QStringLiteral("/proc/kmsg"), QStringLiteral("/proc/self/pagemap"),
                                QStringLiteral("/proc/self/status"), folder + "/report"};
        auto answer = std::make_shared<std::promise<QStringList>>();
        std::future<QStringList> asked = answer->get_future();
        std::thread([provider, names, answer] {
            QStringList types;
            for (const QString& name : names) {
                (void)provider->icon(QFileInfo(name));
                types << provider->type(QFileInfo(name));
            }
            answer->set_value(types);
        }).detach();
        QVERIFY(asked.wait_for(std::chrono::seconds(60)) == std::future_status::ready);
        const QStringList types = asked.get();
        QCOMPARE(types.size(), names.size());
        QVERIFY2(!types.last().contains(QStringLiteral("PDF")), qPrintable(types.last()));

        // The dialog's model shows those types in its type column.
        auto* model = dialog->findChild<QFileSystemModel*>();
        QVERIFY(model);
        const QModelIndex listed = model->index(folder + "/report");
        QTRY_VERIFY_WITH_TIMEOUT(model->data(listed.siblingAtColumn(2)).isValid(), 60000);
        QCOMPARE(model->data(listed.siblingAtColumn(2)).toString(), types.last());
        delete dialog;
    }
};

QTEST_MAIN(OpeningTest)
#include "tst_opening.moc"
