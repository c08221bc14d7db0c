// Many open logs on the program's one change watcher.

#include "source/filelog.h"
#include "source/sharedfilewatcher.h"
#include "support/qtfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include <unistd.h>

using tlg::FileLog;
using tlg::SharedFileWatcher;
using tlg::testing::appendFile;
using tlg::testing::writeFile;

namespace {

int inotifyInstances()
{
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const ssize_t size = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
        count += size > 0 && QByteArray(target, size) == "anon_inode:inotify";
    }
    return count;
}

// Sources opened on `paths` and watching them; heard[i] counts the notices of the i-th.
struct Watching {
    std::vector<std::unique_ptr<FileLog>> sources;
    std::vector<int> heard;
};

} // namespace

class SharedWatchTest : public QObject {
    Q_OBJECT

    void watch(Watching& watching, const QStringList& paths)
    {
        int opened = 0;
        for (const QString& path : paths) {
            const std::size_t i = watching.sources.size();
            watching.sources.push_back(std::make_unique<FileLog>(writeFile(path, "line\n"), tlg::OpenWay::Chosen));
            watching.heard.push_back(0);
            connect(watching.sources[i].get(), &FileLog::changeNotified, this, [&watching, i] { ++watching.heard[i]; });
            // An open log watches its file and folder.
            connect(watching.sources[i].get(), &FileLog::opened, this, [&opened](bool ok) { opened += ok; });
            watching.sources[i]->start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(opened, paths.size(), 60000);
    }

private slots:
    void sixtyLogsInOneFolderShareOneInstanceAndHearTheirOwnPaths()
    {
        QTemporaryDir a, b;
        const int before = inotifyInstances();
        QStringList paths;
        for (int i = 0; i < 60; ++i)
            paths << a.filePath(QStringLiteral("log%1.log").arg(i));
        paths << b.filePath(QStringLiteral("other.log"));
        Watching watching;
        watch(watching, paths);
        QVERIFY(inotifyInstances() - before <= 1);
        QCOMPARE(SharedFileWatcher::instance().watchedPaths().count(a.path()), 1);
        auto& heard = watching.heard;
        const int inB = 60;

        // A write is heard by its own log, and not by the log in the other folder.
        appendFile(paths[7], "more\n");
        QTRY_VERIFY_WITH_TIMEOUT(heard[7] > 0, 20000);
        QCOMPARE(heard[inB], 0);
        for (int i = 0; i < 60; ++i)
            QVERIFY2(i == 7 || heard[i] == 0, qPrintable(QString::number(i)));
        // Nor does a write in the other folder reach the first folder's logs.
        const std::vector<int> earlier = heard;
        appendFile(paths[inB], "more\n");
        QTRY_VERIFY_WITH_TIMEOUT(heard[inB] > 0, 20000);
        QCOMPARE(std::vector<int>(heard.begin(), heard.begin() + 60), std::vector<int>(earlier.begin(), earlier.begin() + 60));

        // A new file in the folder (a log rotated) is heard by every log in it.
        writeFile(a.filePath(QStringLiteral("log7.log.1")), "");
        const auto allHeardAgain = [&] {
            for (int i = 0; i < 60; ++i) {
                if (heard[i] <= earlier[i])
                    return false;
            }
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(allHeardAgain(), 20000);
    }

    void aLogKeepsItsWatchWhenAnotherLetsGoOrItsFileIsRotated()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.log")), second = dir.filePath(QStringLiteral("second.log"));
        Watching watching;
        watch(watching, {first, second});
        const auto& shared = SharedFileWatcher::instance();
        auto& heard = watching.heard;

        // The first closed while watching: the folder stays watched for the second.
        watching.sources[0].reset();
        QVERIFY(!shared.watchedPaths().contains(first));
        QCOMPARE(shared.watchedPaths().count(dir.path()), 1);
        writeFile(dir.filePath(QStringLiteral("third.log")), "");
        QTRY_VERIFY_WITH_TIMEOUT(heard[1] > 0, 20000);

        // Rotated: the system stops watching the old file; the next call watches the new one.
        QVERIFY(QFile::rename(second, second + ".1"));
        QTRY_VERIFY_WITH_TIMEOUT(!shared.watchedPaths().contains(second), 20000);
        writeFile(second, "new\n");
        watching.sources[1]->look(true); // a look watches a rotated log again
        QVERIFY(shared.watchedPaths().contains(second));
        heard[1] = 0;
        appendFile(second, "more\n");
        QTRY_VERIFY_WITH_TIMEOUT(heard[1] > 0, 20000);

        // Off: nothing of the folder is watched any more.
        watching.sources[1]->setNotified(false);
        QVERIFY(!shared.watchedPaths().contains(dir.path()));
        QVERIFY(!shared.watchedPaths().contains(second));
    }
};

QTEST_GUILESS_MAIN(SharedWatchTest)
#include "tst_sharedwatch.moc"
