// The change watcher driven tick by tick, and 16-bit text through every opening path.

#include "core/fileops.h"
#include "view/logview.h"
#include "support/numberedlines.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using tlg::LogView;
using tlg::MainWindow;
using tlg::UnicodeKind;
using tlg::testing::appendFile;
using tlg::testing::HeldLock;
using tlg::testing::readFile;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

bool reloadAlert(const ViewerFixture& viewer)
{
    return viewer.find<QToolButton>("ToolButton12")->property("alert").toBool();
}

// Sets the file's last-write time to `seconds` after the epoch.
void setModified(const QString& path, time_t seconds)
{
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) != 0)
        qFatal("cannot set the time of %s", qPrintable(path));
}

QByteArray utf16(const QByteArray& latin1, bool mark)
{
    QByteArray bytes = mark ? QByteArray("\xFF\xFE", 2) : QByteArray();
    for (char c : latin1) {
        bytes.append(c);
        bytes.append('\0');
    }
    return bytes;
}

} // namespace

class WatcherTest : public QObject {
    Q_OBJECT

private slots:
    void followsAGrowingLogAndColoursItAtOnce()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "grow.log", "one\n");
        MainWindow* window = viewer.start({log});
        auto& watch = tlg::testing::WatchOf(window);

        // Loaded once the window is up and coloured at once, in the one view.
        QCOMPARE(window->tab()->view()->objectName(), QStringLiteral("RichEdit1"));
        QVERIFY(window->tab()->view()->isVisible());
        QCOMPARE(window->findChildren<LogView*>(QStringLiteral("RichEdit3")).size(), 0);
        QCOMPARE(viewer.shownText(), std::string("one\n"));
        QVERIFY(viewer.status(1).startsWith(QStringLiteral("Format ")));
        QCOMPARE(watch.StoredSize, 4);
        viewer.tick(); // nothing changed since

        appendFile(log, "two\n");
        viewer.tick(); // loaded, and shown coloured in the same tick
        QVERIFY(viewer.status(0).startsWith(QStringLiteral("Last Update :")));
        QVERIFY(viewer.status(0).size() > 14);
        QCOMPARE(window->log()->lines()->copyText(), "one\ntwo\n");
        QCOMPARE(viewer.shownText(), std::string("one\ntwo\n"));
        QVERIFY(viewer.status(1).startsWith(QStringLiteral("Format ")));
        QVERIFY(!reloadAlert(viewer));

        // A quiet tick changes nothing.
        const QString before = viewer.status(0);
        viewer.tick();
        QCOMPARE(viewer.status(0), before);
        QVERIFY(viewer.messages.isEmpty());
    }

    void aSameSizeRewriteInTheSameTwoSecondStepIsSeen()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "same.log", "aaaa");
        setModified(log, 1700000000);
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("aaaa"));

        writeFile(log, "bbbb");
        setModified(log, 1700000001); // within the same two-second step of the age stamp
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("bbbb"));
        writeFile(log, "cccc");
        setModified(log, 1700000002);
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("cccc"));
        QCOMPARE(tlg::testing::WatchOf(window).StoredAge, tlg::AgeStamp(log.toStdString()));
    }

    void aHeldFileIsRetriedAtEveryTick()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "held.log", "first\n");
        viewer.start({log});
        viewer.tick(2);
        appendFile(log, "second\n");
        {
            HeldLock lock(log);
            for (int i = 0; i < 3; ++i) {
                viewer.tick();
                QVERIFY(viewer.status(0).startsWith(QStringLiteral("File is Locked :")));
                QVERIFY(reloadAlert(viewer));
                QCOMPARE(viewer.shownText(), std::string("first\n"));
            }
        }
        viewer.tick();
        QVERIFY(viewer.status(0).startsWith(QStringLiteral("Last Update :")));
        QVERIFY(!reloadAlert(viewer));
        viewer.tick();
        QCOMPARE(viewer.shownText(), std::string("first\nsecond\n"));

        // An fcntl write lock holds it the same way; a shared lock does not.
        appendFile(log, "third\n");
        {
            const int fd = ::open(QFile::encodeName(log).constData(), O_RDWR);
            struct flock record {};
            record.l_type = F_WRLCK;
            record.l_whence = SEEK_SET;
            QCOMPARE(::fcntl(fd, F_SETLK, &record), 0);
            viewer.tick();
            QVERIFY(viewer.status(0).startsWith(QStringLiteral("File is Locked :")));
            ::close(fd);
        }
        {
            HeldLock shared(log, LOCK_SH);
            viewer.tick(2);
        }
        QCOMPARE(viewer.shownText(), std::string("first\nsecond\nthird\n"));
        QVERIFY(viewer.messages.isEmpty());
    }

    void deletedRotatedAndTruncatedLogs()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "app.log", "original\n");
        MainWindow* window = viewer.start({log});
        viewer.tick(2);

        // Deleted: said at every tick, nothing else changes.
        QVERIFY(QFile::remove(log));
        for (int i = 0; i < 2; ++i) {
            viewer.tick();
            QCOMPARE(viewer.status(0), QStringLiteral("File Could not be located"));
            QCOMPARE(viewer.shownText(), std::string("original\n"));
            QCOMPARE(window->tab()->path(), log);
        }
        // A folder in its place says so, and the text stays.
        QVERIFY(QDir().mkdir(log));
        viewer.tick();
        QCOMPARE(viewer.status(0), "Cannot open file " + log + ": it is a folder");
        QCOMPARE(viewer.shownText(), std::string("original\n"));
        QVERIFY(QDir().rmdir(log));
        // Created again: loaded at the next tick.
        writeFile(log, "recreated\n");
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("recreated\n"));

        // Rotated: a new file under the same name.
        QVERIFY(QFile::rename(log, log + ".1"));
        writeFile(log, "after rotation\n");
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("after rotation\n"));

        // Truncated and rewritten shorter.
        writeFile(log, "short\n");
        setModified(log, 1800000000);
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("short\n"));
        QVERIFY(viewer.messages.isEmpty());
    }

    void aFailingLoadKeepsTheOldTextAndSaysSoQuietly()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "odd.log", "text\n");
        viewer.start({log});
        viewer.tick(2);
        // Replaced by something that passes the lock test but cannot be loaded.
        QVERIFY(QFile::remove(log));
        QCOMPARE(::mkfifo(QFile::encodeName(log).constData(), 0600), 0);
        viewer.tick();
        QCOMPARE(viewer.status(0), QStringLiteral("File Locked, will retry"));
        QVERIFY(reloadAlert(viewer));
        QCOMPARE(viewer.shownText(), std::string("text\n"));
        viewer.tick();
        QCOMPARE(viewer.status(0), QStringLiteral("File Locked, will retry"));
        QVERIFY(viewer.messages.isEmpty());
        QVERIFY(viewer.find<QTimer>("Timer1")->isActive());
    }

    void withoutAutoRefreshOnlyTheReloadButtonChanges()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "manual.log", "v1\n");
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        auto* box = viewer.find<QCheckBox>("CheckBox5");
        auto* button = viewer.find<QToolButton>("ToolButton17");
        box->click();
        QVERIFY(!tlg::testing::WatchOf(window).AutoRefresh);
        QVERIFY(button->isChecked()); // the tool button is not moved

        appendFile(log, "v2\n");
        viewer.tick(3);
        QVERIFY(reloadAlert(viewer));
        QCOMPARE(viewer.shownText(), std::string("v1\n"));
        viewer.find<QToolButton>("ToolButton12")->click();
        viewer.settle();
        QCOMPARE(viewer.shownText(), std::string("v1\nv2\n"));
        QVERIFY(!reloadAlert(viewer));

        // "Auto refresh" up and down again turns it back on and restarts a stopped timer.
        button->click();
        QVERIFY(!box->isChecked());
        QVERIFY(!tlg::testing::WatchOf(window).AutoRefresh);
        auto* timer = viewer.find<QTimer>("Timer1");
        timer->stop();
        button->click();
        QVERIFY(box->isChecked());
        QVERIFY(tlg::testing::WatchOf(window).AutoRefresh);
        QVERIFY(timer->isActive());

        // The slider sets the interval at once; the bottom controls mirror each other.
        auto* slider = viewer.find<QSlider>("TrackBar1");
        slider->setValue(1);
        QCOMPARE(timer->interval(), 1000);
        slider->setValue(10);
        QCOMPARE(timer->interval(), 10000);
        viewer.find<QToolButton>("ToolButton14")->click();
        QVERIFY(viewer.find<QCheckBox>("CheckBox3")->isChecked());
        viewer.find<QCheckBox>("CheckBox3")->click();
        QVERIFY(!viewer.find<QToolButton>("ToolButton14")->isChecked());
    }

    void theCaretFollowsTheBottomOrStaysOnItsLine()
    {
        ViewerFixture viewer;
        const QByteArray lines = QByteArray::fromStdString(tlg::testing::numberedLines(100));
        const QString log = writeFile(viewer.home() + "caret.log", lines);
        MainWindow* window = viewer.start({log});
        viewer.find<QCheckBox>("CheckBox6")->setChecked(false); // colouring off
        viewer.tick();
        LogView* view = window->tab()->view();
        // The watcher's ticks until the view shows `size` bytes: a slow machine may need more
        // than one to see the file grow.
        const auto tickUntilShown = [&](std::size_t size) {
            for (int i = 0; i < 100 && view->text().size() != size; ++i)
                viewer.tick();
            return view->text().size() == size;
        };

        // Off the bottom: the caret returns to the line it was on.
        view->setSelection(view->lineIndex(40), 0);
        appendFile(log, "more\n");
        QVERIFY(tickUntilShown(lines.size() + 5));
        QCOMPARE(view->caretLine(), 40);

        // On the bottom: after every reload the caret is at the end of the text.
        viewer.find<QCheckBox>("CheckBox3")->click();
        appendFile(log, "and more\n");
        QVERIFY(tickUntilShown(lines.size() + 14));
        QCOMPARE(view->caretOffset(), std::int64_t(lines.size() + 14));

        // With colouring on, before and after the colouring run too.
        viewer.find<QCheckBox>("CheckBox6")->setChecked(true);
        appendFile(log, "coloured\n");
        QVERIFY(tickUntilShown(lines.size() + 23));
        viewer.tick();
        view = window->tab()->view();
        QCOMPARE(view->caretOffset(), std::int64_t(view->text().size()));
        QVERIFY(view->caretPixelPos().y() < view->viewport()->height());
    }

    void keepsTheLogOpenOnlyForReading()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "open.log", "a\n");
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        appendFile(log, "b\n");
        viewer.find<QAction>("Refresh1")->trigger();
        viewer.settle();
        viewer.tick(2);
        // The text is read from the file when shown: the file stays open, for reading only,
        // and unlocked.
        const QString target = QFileInfo(log).canonicalFilePath();
        const QDir fds(QStringLiteral("/proc/self/fd"));
        int open = 0;
        for (const QFileInfo& fd : fds.entryInfoList(QDir::NoDotAndDotDot | QDir::Files | QDir::System)) {
            if (fd.symLinkTarget() != target)
                continue;
            ++open;
            QFile info(QStringLiteral("/proc/self/fdinfo/") + fd.fileName());
            QVERIFY(info.open(QIODevice::ReadOnly));
            QByteArray flags;
            for (const QByteArray& line : info.readAll().split('\n')) {
                if (line.startsWith("flags:"))
                    flags = line.mid(6).trimmed();
            }
            QVERIFY2((flags.toInt(nullptr, 8) & O_ACCMODE) == O_RDONLY, flags.constData());
        }
        QVERIFY(open >= 1);
        const int probe = ::open(QFile::encodeName(log).constData(), O_RDONLY);
        QVERIFY(probe >= 0);
        QVERIFY(!tlg::LockHeldOnFile(probe, false));
        ::close(probe);
        // Another program may rename and delete it at will; what was loaded stays readable.
        QVERIFY(QFile::rename(log, log + ".old"));
        QVERIFY(QFile::remove(log + ".old"));
        QCOMPARE(window->tab()->view()->text(), "a\nb\n");
    }

    void aRewriteFoundWhileReadingIsLoadedAgain()
    {
        ViewerFixture viewer;
        // Longer than a tick compares, so that the quiet ticks are done comparing it after a
        // few; the stretch rewritten below is never shown before.
        const std::string tail(90, '.');
        const QString log = writeFile(viewer.home() + "rewritten.log",
                                      QByteArray::fromStdString(tlg::testing::numberedLines(200000, "\n", tail.c_str())));
        MainWindow* window = viewer.start({log});
        viewer.tick(4);
        LogView* view = window->tab()->view();
        const std::int64_t middle = 100000;
        QCOMPARE(view->lineCount(), 200000);

        // Rewritten in place: the same size, and its modification time put back.
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(log).constData(), &st) == 0);
        const int fd = ::open(QFile::encodeName(log).constData(), O_WRONLY);
        QVERIFY(fd >= 0);
        const std::string changed = "LINE\n100000"; // one line more, in as many bytes
        QVERIFY(::pwrite(fd, changed.data(), changed.size(), static_cast<off_t>(view->document()->lineIndex(middle))) ==
                static_cast<ssize_t>(changed.size()));
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        QVERIFY(::futimens(fd, times) == 0);
        ::close(fd);

        // Reading that stretch finds the change; the next tick loads the file again.
        (void)view->lineText(middle + 1);
        viewer.tick(1);
        view = window->tab()->view();
        QCOMPARE(view->lineCount(), 200001);
        QCOMPARE(view->lineText(middle), QStringLiteral("LINE"));
        QVERIFY(view->lineText(middle + 1).startsWith(QStringLiteral("100000.")));
        QVERIFY(!tlg::testing::FileLogIn(window)->document()->stale());
    }

    void aFastWriterEndsByteForByte()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "fast.log", "");
        MainWindow* window = viewer.start({log});
        std::atomic<bool> done{false};
        std::thread writer([&] {
            const int fd = ::open(QFile::encodeName(log).constData(), O_WRONLY | O_APPEND);
            for (int i = 0; i < 20000; ++i) {
                const std::string line = "2026-12-07 line " + std::to_string(i) +
                                         (i % 3 ? " info\r\n" : " error and more words\n");
                if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                    break;
            }
            ::close(fd);
            done = true;
        });
        int ticks = 0;
        while (!done || ticks < 5) {
            viewer.tick();
            ++ticks;
        }
        writer.join();
        viewer.tick(2);
        QCOMPARE(QByteArray::fromStdString(viewer.shownText()), readFile(log));
        QCOMPARE(window->tab()->view()->lineCount(), 20000);
    }

    void sixteenBitTextIsDetectedWhenOpenedOrReloaded()
    {
        ViewerFixture viewer;
        const QByteArray text("Start\r\nerror here\r\n");
        const QString wide = writeFile(viewer.home() + "wide.log", utf16(text, true));
        MainWindow* window = viewer.start({wide});
        auto* unicode = viewer.find<QToolButton>("ToolButton16");
        // Decoded, without its mark.
        QCOMPARE(window->log()->unicodeKind(), UnicodeKind::Utf16);
        QVERIFY(unicode->isChecked());
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("UTF-16LE")));
        QCOMPARE(QByteArray::fromStdString(viewer.shownText()), text);
        // The watcher converts by the kind last detected.
        viewer.tick(2);
        QCOMPARE(QByteArray::fromStdString(viewer.shownText()), text);

        // A single-byte log opened while the button is down: converted, which is a plain load.
        const QString narrow = writeFile(viewer.home() + "narrow.log", "plain\n");
        window->tabs()->openDropped({QUrl::fromLocalFile(narrow)});
        viewer.settle();
        QCOMPARE(window->log()->unicodeKind(), UnicodeKind::SingleByte);
        QVERIFY(unicode->isChecked()); // only the user raises it
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("plain\n"));

        // Without a mark it is decoded just the same.
        unicode->setChecked(false);
        const QString bare = writeFile(viewer.home() + "bare.log", utf16("abc\n", false));
        window->tabs()->openDropped({QUrl::fromLocalFile(bare)});
        viewer.settle();
        QVERIFY(unicode->isChecked());
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("abc\n"));
    }

    void aLogThatTurnsSixteenBitIsSeenAtTheNextManualReload()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "turns.log", "narrow\n");
        MainWindow* window = viewer.start({log});
        auto* unicode = viewer.find<QToolButton>("ToolButton16");
        QVERIFY(!unicode->isChecked());
        viewer.tick(2);
        writeFile(log, utf16("wide text\n", false));
        viewer.tick(2);
        // The watcher does not detect: the plain load shows the NUL bytes.
        QCOMPARE(QByteArray::fromStdString(viewer.shownText()), utf16("wide text\n", false));
        QVERIFY(!unicode->isChecked());
        viewer.find<QToolButton>("ToolButton12")->click();
        viewer.settle();
        QVERIFY(unicode->isChecked());
        QCOMPARE(window->log()->unicodeKind(), UnicodeKind::Utf16);
        QCOMPARE(viewer.shownText(), std::string("wide text\n"));
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("UTF-16LE")));
    }
};

QTEST_MAIN(WatcherTest)
#include "tst_watcher.moc"
