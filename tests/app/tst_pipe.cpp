// A log read from a pipe: "tlgview -" shows standard input as it comes, says when its writer
// closed it, stops on a full disk keeping what came, and File > Save As writes what it gave.

#include "app/logtab.h"
#include "source/follower.h"
#include "app/logsaving.h"
#include "app/logtab.h"
#include "app/logtabs.h"
#include "core/fileops.h"
#include "source/filelog.h"
#include "source/session.h"
#include "view/logview.h"
#include "support/pipefeed.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QTabWidget>

#include <unistd.h>

using tlg::FileHandle;
using tlg::LogView;
using tlg::PipeSpool;
using tlg::testing::NumberedBurst;
using tlg::testing::PipeFeed;
using tlg::testing::ViewerFixture;

namespace {

// Every line the view shows, each with its line break, for a text that ends in one.
std::string shownLines(const LogView* view)
{
    std::string out;
    for (std::int64_t line = 0; line < view->lineCount(); ++line)
        out += view->lineText(line).toStdString() + '\n';
    return out;
}

// Answers the Save As dialog with a path once it is up, as a person types it.
void answerSaveAs(ViewerFixture& viewer, const QString& path)
{
    auto* poll = new QTimer(viewer.window.get());
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [&viewer, path, poll] {
        auto* dialog = viewer.window->findChild<QFileDialog*>(QStringLiteral("SaveAsDialog"));
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    poll->start();
}

} // namespace

class PipeTest : public QObject {
    Q_OBJECT

private slots:
    void standardInputIsShownBurstByBurstAndItsCloseIsSaid()
    {
        ViewerFixture viewer;
        PipeFeed feed;
        {
            // The test's own standard input becomes the pipe, as a shell's `|` makes it.
            const FileHandle readEnd = feed.takeReadEnd();
            QVERIFY(::dup2(readEnd.fd(), STDIN_FILENO) == STDIN_FILENO);
        }
        viewer.start({QStringLiteral("-")});
        auto* view = viewer.find<LogView>("RichEdit1");
        QCOMPARE(view, viewer.window->tab()->view());
        QCOMPARE(viewer.window->windowTitle(), QStringLiteral("Log Viewer - standard input"));
        auto* tabs = viewer.find<QTabWidget>("LogTabs");
        QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("standard input"));
        QCOMPARE(view->lineCount(), 0);

        // Bursts with pauses between them: each one is shown whole once it came, and nothing
        // follows it to push it through.
        std::string all;
        int lines = 0;
        for (const int count : {1, 250, 40}) {
            const std::string burst = NumberedBurst(lines, count);
            QVERIFY(feed.write(burst));
            all += burst;
            lines += count;
            QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), lines, 60000);
            QCOMPARE(view->lineText(lines - 1), QStringLiteral("line %1 of a burst").arg(lines - 1));
        }
        // A line written in two pieces is shown as far as it came, then whole.
        QVERIFY(feed.write("half a "));
        QTRY_COMPARE_WITH_TIMEOUT(view->lineText(lines), QStringLiteral("half a "), 60000);
        QCOMPARE(view->lineCount(), lines + 1);
        QVERIFY(feed.write("line\n"));
        all += "half a line\n";
        ++lines;
        QTRY_COMPARE_WITH_TIMEOUT(view->lineText(lines - 1), QStringLiteral("half a line"), 60000);
        QCOMPARE(view->lineCount(), lines);
        QVERIFY(!viewer.status(0).contains(QStringLiteral("closed")));

        const std::string last = NumberedBurst(lines, 500);
        QVERIFY(feed.write(last));
        all += last;
        lines += 500;
        feed.close();
        QTRY_VERIFY_WITH_TIMEOUT(viewer.status(0).startsWith(QStringLiteral("Standard input closed")), 60000);
        // Every byte by then, each line as it was written.
        QCOMPARE(view->lineCount(), lines);
        QCOMPARE(shownLines(view), all);
        QVERIFY(viewer.messages.isEmpty());

        // Another encoding reads what the pipe gave again, from its first byte.
        viewer.find<QAction>("EncodingIso885911")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(viewer.status(1).contains(QStringLiteral("ISO-8859-1")), 60000);
        QVERIFY(viewer.window->log()->encoding() == tlg::Encoding::Iso8859_1);
        QCOMPARE(view->lineCount(), lines);
        QCOMPARE(shownLines(view), all);

        // Reload shows the same text again; the watcher finds nothing to read.
        viewer.find<QAction>("Refresh1")->trigger();
        viewer.tick(2);
        QCOMPARE(view->lineCount(), lines);
        QCOMPARE(shownLines(view), all);
        QVERIFY(viewer.messages.isEmpty());
        // The line indicator counts the piped lines at the tick, as it counts a file's.
        QCOMPARE(viewer.status(2), QStringLiteral("Line : 0/%1").arg(lines));

        // A pipe is no file to open again: the next log takes a tab of its own, and the
        // session keeps only the file.
        const QString file = viewer.home() + QStringLiteral("app.log");
        tlg::testing::writeFile(file, "a file\n");
        viewer.window->tabs()->open(file, tlg::OpenWay::Chosen);
        viewer.settle();
        QCOMPARE(viewer.window->tabs()->tabs().size(), 2);
        QCOMPARE(viewer.window->tabs()->tabs().first()->log()->name(), QStringLiteral("standard input"));
        viewer.window->close();
        const std::vector<tlg::SessionLog> kept =
            tlg::ReadSessionText(tlg::ReadWholeFile(tlg::SettingsFileToRead(tlg::kSessionFileName)));
        QCOMPARE(kept.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(kept[0].path), file);
    }

    void aFullDiskStopsTheIntakeKeepingWhatCame()
    {
        ViewerFixture viewer;
        viewer.start();
        const std::string fits = NumberedBurst(0, 100);
        PipeSpool::Options options;
        const auto room = static_cast<off_t>(fits.size());
        options.write = [room](int fd, const void* bytes, std::size_t length, off_t at) -> ssize_t {
            if (at >= room) {
                errno = ENOSPC;
                return -1;
            }
            return ::pwrite(fd, bytes, std::min<std::size_t>(length, static_cast<std::size_t>(room - at)), at);
        };
        PipeFeed feed;
        viewer.window->tabs()->openPipe(feed.takeReadEnd(), {}, {}, options);
        tlg::LogView* view = viewer.window->tab()->view();
        feed.write(fits + NumberedBurst(100, 400));
        QTRY_VERIFY_WITH_TIMEOUT(viewer.status(0).contains(QStringLiteral("disk is full")), 60000);
        QCOMPARE(view->lineCount(), 100);
        QCOMPARE(shownLines(view), fits);
        // Said once in the error box too.
        QCOMPARE(viewer.messages.size(), 1);
        QVERIFY(viewer.messages.first().text.contains(QStringLiteral("disk is full")));
    }

    void saveAsWritesExactlyWhatThePipeGave()
    {
        ViewerFixture viewer;
        viewer.start();
        PipeFeed feed;
        viewer.window->tabs()->openPipe(feed.takeReadEnd());
        // Breaks of every kind, a byte that is no UTF-8, a NUL past the first bytes, no final break.
        std::string bytes = NumberedBurst(0, 2000) + "crlf\r\nlone cr\rcaf\xE9\n";
        bytes += std::string("a NUL \0 in a line\n", 18) + "the last line, unended";
        QVERIFY(feed.write(bytes));
        feed.close();
        QTRY_VERIFY_WITH_TIMEOUT(viewer.status(0).startsWith(QStringLiteral("Standard input closed")), 60000);

        const QString saved = viewer.home() + QStringLiteral("saved.log");
        answerSaveAs(viewer, saved);
        viewer.find<QAction>("SaveAs1")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(viewer.status(0).startsWith(QStringLiteral("Saved ")), 60000);
        QCOMPARE(viewer.status(0), QStringLiteral("Saved ") + saved);
        QCOMPARE(tlg::ReadWholeFile(saved.toStdString()), bytes);
        QVERIFY(viewer.messages.isEmpty());

        // A folder that is not there: the standard error box says so, and the viewer runs on.
        const QString nowhere = viewer.home() + QStringLiteral("no/such/folder.log");
        answerSaveAs(viewer, nowhere);
        viewer.find<QAction>("SaveAs1")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(viewer.messages.size(), 1, 60000);
        QCOMPARE(viewer.messages.first().text, QStringLiteral("Cannot create file ") + nowhere);
        QVERIFY(!viewer.window->logSaving()->busy());
    }
};

QTEST_MAIN(PipeTest)
#include "tst_pipe.moc"
