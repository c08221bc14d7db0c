// Compressed logs in the viewer: shown as the text they hold, line by line in the log view; a
// damaged one says after which line, a spooled one says so, and one whose spool cannot be
// written says why in the error box while the log in sight stays.

#include "app/logtab.h"
#include "source/follower.h"
#include "core/fileops.h"
#include "source/filelog.h"
#include "source/watchstate.h"
#include "view/logview.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

#include <future>

using tlg::LogView;
using tlg::MainWindow;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

// The text of many lines, CR LF and LF breaks mixed.
QByteArray sampleText(int lines)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += "12:00:" + QByteArray::number(i % 60) + " event " + QByteArray::number(i) + (i % 3 ? "\n" : "\r\n");
    return text;
}

// Writes `text` compressed by `command` (gzip, bzip2, ...) to path.
QString compressed(const QString& path, const QByteArray& text, const QString& command)
{
    QProcess process;
    process.setStandardOutputFile(path);
    process.start(command, {QStringLiteral("-c")});
    process.write(text);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qFatal("%s failed", qPrintable(command));
    return path;
}

// The lines of the view, without their breaks.
QStringList viewLines(ViewerFixture& viewer)
{
    auto* view = viewer.find<LogView>("RichEdit1");
    QStringList lines;
    for (std::int64_t i = 0; i < view->lineCount(); ++i)
        lines << view->lineText(i);
    return lines;
}

QStringList plainLines(const QByteArray& text)
{
    QStringList lines = QString::fromLatin1(text).split(QRegularExpression(QStringLiteral("\r\n|\n")));
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

// Answers the open dialog with a path once it is up.
void answerOpenDialog(ViewerFixture& viewer, const QString& path)
{
    auto* poll = new QTimer(viewer.window.get());
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [&viewer, path, poll] {
        auto* dialog = viewer.find<QFileDialog>("Open1");
        if (!dialog->isVisible())
            return;
        poll->deleteLater();
        poll->stop();
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    poll->start();
}

} // namespace

class CompressedTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheTextOfEachFormat_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("note");
        QTest::newRow("gzip") << "gzip" << QString();
        QTest::newRow("zstd") << "zstd" << "(decompressed into a spool file)";
        QTest::newRow("xz") << "xz" << "(decompressed into a spool file)";
        QTest::newRow("bzip2") << "bzip2" << "(decompressed into a spool file)";
    }
    void showsTheTextOfEachFormat()
    {
        QFETCH(QString, command);
        QFETCH(QString, note);
        ViewerFixture viewer;
        const QByteArray text = sampleText(5000);
        // Named as any log: the bytes tell what it is.
        const QString log = compressed(viewer.home() + "app.log", text, command);
        MainWindow* window = viewer.start({log});
        QCOMPARE(window->tab()->path(), log);
        QCOMPARE(viewLines(viewer), plainLines(text));
        if (note.isEmpty())
            QVERIFY(!viewer.status(0).contains(QStringLiteral("spool")));
        else
            QVERIFY2(viewer.status(0).endsWith(note), qPrintable(viewer.status(0)));
        QVERIFY(viewer.messages.isEmpty());
    }

    void damagedDataSaysAfterWhichLine()
    {
        ViewerFixture viewer;
        const QByteArray text = sampleText(20000);
        const QString log = compressed(viewer.home() + "cut.log.gz", text, QStringLiteral("gzip"));
        QFile file(log);
        QVERIFY(file.resize(file.size() / 2));
        viewer.start({log});
        const QStringList lines = viewLines(viewer);
        QVERIFY(!lines.isEmpty());
        QVERIFY(lines.size() < plainLines(text).size());
        // Every whole line before the damage is the text's own.
        QCOMPARE(lines.mid(0, lines.size() - 1), plainLines(text).mid(0, lines.size() - 1));
        QCOMPARE(viewer.status(0), QStringLiteral("Compressed data damaged after line %1").arg(lines.size()));
        QVERIFY(viewer.messages.isEmpty());
    }

    void aSpoolThatCannotBeWrittenSaysWhyAndTheLogStays()
    {
        ViewerFixture viewer;
        const QString first = writeFile(viewer.home() + "first.log", "first\n");
        MainWindow* window = viewer.start({first});
        const QString log = compressed(viewer.home() + "b.log.bz2", sampleText(100), QStringLiteral("bzip2"));
        // The cache folder lies under a file: no spool can be made there.
        const QByteArray cache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", writeFile(viewer.home() + "not-a-folder", "x").toLocal8Bit());
        // Opened as File > Open File opens it (the load runs on the source's thread).
        bool answered = false;
        window->tabs()->open(log, tlg::OpenWay::Chosen, [&answered](tlg::LogTab*) { answered = true; });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 60000);
        viewer.settle();
        qputenv("XDG_CACHE_HOME", cache);
        QCOMPARE(viewer.messages.size(), 1);
        QVERIFY2(viewer.messages[0].text.startsWith("Cannot write the spool file for " + log),
                 qPrintable(viewer.messages[0].text));
        QCOMPARE(window->tab()->path(), first);
        QCOMPARE(viewer.shownText(), std::string("first\n"));
    }

    void theLinesInSightStayWhenTheWholeTextComes()
    {
        ViewerFixture viewer;
        const QByteArray text = sampleText(200000);
        const QString log = compressed(viewer.home() + "big.log.gz", text, QStringLiteral("gzip"));
        MainWindow* window = viewer.start({writeFile(viewer.home() + "first.log", "first\n")});
        // The reader scrolls as soon as the first lines show.
        int partials = 0;
        LogView* view = nullptr;
        const auto scrollAtFirstSight = [&](tlg::LogTab* tab) {
            view = tab->view();
            QObject::connect(view, &LogView::documentChanged, view, [&, tab] {
                if (view->lineCount() == 0 || partials++ > 0)
                    return;
                QVERIFY(view->lineCount() > 200);
                QVERIFY(view->lineCount() < 200000 || !tab->log()->busy());
                view->setFirstVisibleLine(100);
            });
        };
        bool opened = false;
        window->tabs()->open(log, tlg::OpenWay::Chosen, [&opened](tlg::LogTab* tab) { opened = tab != nullptr; },
                             scrollAtFirstSight);
        QTRY_VERIFY_WITH_TIMEOUT(opened, 120000);
        viewer.settle();
        QVERIFY(partials >= 1);
        QCOMPARE(view->lineCount(), std::int64_t(200000));
        QCOMPARE(view->firstVisibleLine(), std::int64_t(100));
        QCOMPARE(window->tab()->path(), log);
    }

    void sixteenBitTextShowsAsThePlainFileDoes()
    {
        // UTF-16LE with its mark, a letter beyond ASCII on every fifth line.
        QByteArray text("\xFF\xFE", 2);
        for (int i = 0; i < 3000; ++i) {
            const QString line = QStringLiteral("12:00 event %1%2\r\n").arg(i).arg(i % 5 ? QString() : QStringLiteral(" caf\u00e9"));
            text += QByteArray(reinterpret_cast<const char*>(line.utf16()), line.size() * 2);
        }
        QStringList plain;
        {
            ViewerFixture viewer;
            viewer.start({writeFile(viewer.home() + "plain.log", text)});
            plain = viewLines(viewer);
        }
        QCOMPARE(plain.size(), 3000);
        QCOMPARE(plain[5], QStringLiteral("12:00 event 5 caf\u00e9"));
        ViewerFixture viewer;
        viewer.start({compressed(viewer.home() + "app.log.gz", text, QStringLiteral("gzip"))});
        QCOMPARE(viewLines(viewer), plain);
        QCOMPARE(viewer.status(1).right(8), QStringLiteral("UTF-16LE"));
        QVERIFY2(viewer.status(0).endsWith(QStringLiteral("(decompressed into a spool file)")), qPrintable(viewer.status(0)));
    }

    void aFollowedCompressedLogReportsItsProgress()
    {
        ViewerFixture viewer;
        const QString log = compressed(viewer.home() + "app.log.gz", sampleText(2000), QStringLiteral("gzip"));
        tlg::FileLog source(log, tlg::OpenWay::Chosen);
        bool opened = false;
        QObject::connect(&source, &tlg::Log::opened, &source, [&](bool ok) { opened = ok; });
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(opened, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!source.busy(), 60000);

        // A member appended; its read held until a progress report came.
        compressed(viewer.home() + "more.gz", sampleText(10), QStringLiteral("gzip"));
        QFile more(viewer.home() + "more.gz");
        QFile file(log);
        QVERIFY(more.open(QIODevice::ReadOnly) && file.open(QIODevice::Append));
        file.write(more.readAll());
        file.close();
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        source.setReadHook([released] { released.wait(); });
        QSignalSpy reports(&source, &tlg::Log::progress);
        bool followed = false;
        QObject::connect(&source, &tlg::Log::changed, &source, [&](const tlg::LogChange& change) {
            followed = followed || change.why == tlg::LogChange::Why::Grew;
        });
        source.look(false);
        const bool reported = reports.wait(60000);
        release.set_value();
        QVERIFY(reported);
        QVERIFY(reports.first().first().toInt() >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(followed, 60000);
    }

    void anArchiveListsItsFilesAndOpensThePickedOne()
    {
        ViewerFixture viewer;
        const QString folder = viewer.home() + "logs/";
        QVERIFY(QDir().mkpath(folder));
        writeFile(folder + "a.log", "first file\n");
        const QByteArray text = sampleText(300);
        writeFile(folder + "b.log", text);
        const QString archive = viewer.home() + "logs.tar.gz";
        QProcess tar;
        tar.setWorkingDirectory(viewer.home());
        tar.start(QStringLiteral("tar"), {QStringLiteral("-czf"), archive, QStringLiteral("logs/a.log"), QStringLiteral("logs/b.log")});
        QVERIFY(tar.waitForFinished(60000) && tar.exitCode() == 0);

        // Named on the command line: its first file.
        MainWindow* window = viewer.start({archive});
        QCOMPARE(viewLines(viewer), QStringList({QStringLiteral("first file")}));

        // Given to Open: listed, and the file picked opens in place of the first.
        answerOpenDialog(viewer, archive);
        viewer.find<QAction>("OpenFile1")->trigger();
        QDialog* members = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((members = window->findChild<QDialog*>(QStringLiteral("ArchiveMembers"))) &&
                                     members->isVisible(),
                                 60000);
        auto* list = members->findChild<QListWidget*>(QStringLiteral("MemberList"));
        QCOMPARE(list->count(), 2);
        QVERIFY(list->item(0)->text().startsWith(QStringLiteral("logs/a.log")));
        list->setCurrentRow(1);
        const QPointer<QDialog> answered = members; // closed, it goes
        members->accept();
        viewer.settle();
        QTRY_COMPARE_WITH_TIMEOUT(viewLines(viewer), plainLines(text), 60000);
        QCOMPARE(window->tab()->path(), archive);

        // Dropped, it asks as Open does, and its tab reads the file picked.
        QTRY_VERIFY_WITH_TIMEOUT(answered.isNull(), 60000);
        window->tabs()->openDropped({QUrl::fromLocalFile(archive)});
        QTRY_VERIFY_WITH_TIMEOUT((members = window->findChild<QDialog*>(QStringLiteral("ArchiveMembers"))) &&
                                     members->isVisible(),
                                 60000);
        members->findChild<QListWidget*>(QStringLiteral("MemberList"))->setCurrentRow(0);
        members->accept();
        QTRY_COMPARE_WITH_TIMEOUT(viewLines(viewer), QStringList({QStringLiteral("first file")}), 60000);
        QCOMPARE(window->tabs()->tabs().size(), 1);
        QVERIFY(viewer.messages.isEmpty());
    }
};

QTEST_MAIN(CompressedTest)
#include "tst_compressed.moc"
