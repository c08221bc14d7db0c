// An open journal on its own: the tail first, then the whole, then the entries written later,
// all read on a thread of its own.

#include "source/journallog.h"

#include "support/journalfiles.h"
#include "support/tempdir.h"

#include <QSignalSpy>
#include <QtTest>

#include <ctime>

using namespace tlg::testing;

namespace {

constexpr std::uint64_t kStart = 1700000000000000ULL;

std::vector<ExportEntry> Entries(int from, int count, const std::string& boot)
{
    std::vector<ExportEntry> entries;
    for (int i = from; i < from + count; ++i) {
        ExportEntry entry;
        entry.realtime = kStart + static_cast<std::uint64_t>(i) * 1000000;
        entry.boot = boot;
        entry.fields = {{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "app"}, {"MESSAGE", "entry " + std::to_string(i)}};
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Waits for the log to show its whole journal (not a tail).
bool WaitForWhole(tlg::JournalLog& log)
{
    return QTest::qWaitFor([&] { return log.journalLines() && !log.journalLines()->partial() && !log.busy(); }, 60000);
}

tlg::JournalQuery FolderQuery(const std::string& folder)
{
    tlg::JournalQuery query;
    query.where = tlg::JournalQuery::Where::Folder;
    query.paths = {folder};
    return query;
}

} // namespace

class JournalLogTest : public QObject {
    Q_OBJECT

private slots:
    void showsTailThenWholeThenFollows()
    {
        qputenv("TZ", "UTC");
        ::tzset();
        TempDir dir;
        QVERIFY(MakeJournal(dir.path("first.journal"), ExportText(Entries(0, 500, "11111111111111111111111111111111"))));
        tlg::JournalLog log(FolderQuery(dir.folder()));
        std::vector<tlg::LogChange::Why> changes;
        connect(&log, &tlg::Log::changed, this, [&](const tlg::LogChange& change) {
            if (change.why != tlg::LogChange::Why::Said)
                changes.push_back(change.why);
        });
        log.start();
        QVERIFY(log.busy());
        QVERIFY(WaitForWhole(log));
        QCOMPARE(log.lines()->copyText(), Journalctl("-D " + dir.folder()));
        // The tail came first, with the last entries only, then the whole with the reader on
        // the same entry.
        QCOMPARE(changes, (std::vector{tlg::LogChange::Why::Opened, tlg::LogChange::Why::ReadAgain}));

        // New entries in the followed folder come as a grown source.
        const tlg::LinesPtr before = log.lines();
        changes.clear();
        QVERIFY(MakeJournal(dir.path("second.journal"), ExportText(Entries(500, 40, "22222222222222222222222222222222"))));
        QVERIFY(QTest::qWaitFor([&] { return log.lines()->lineCount() == 540; }, 60000));
        QCOMPARE(changes.back(), tlg::LogChange::Why::Grew);
        QVERIFY(log.lines()->grewFrom(*before));
        QCOMPARE(log.lines()->copyText(), Journalctl("-D " + dir.folder()));

        // Not following: entries wait in the journal until following is on again, however
        // often its reading looks.
        log.setFollowing(false);
        QVERIFY(MakeJournal(dir.path("third.journal"), ExportText(Entries(540, 10, "33333333333333333333333333333333"))));
        const std::int64_t looked = log.looks();
        QVERIFY(QTest::qWaitFor([&] { return log.looks() >= looked + 2; }, 60000));
        QCOMPARE(log.lines()->lineCount(), 540);
        log.setFollowing(true);
        QVERIFY(QTest::qWaitFor([&] { return log.lines()->lineCount() == 550; }, 60000));
    }

    void saysWhyItCannotOpen()
    {
        TempDir dir;
        const std::string garbage = dir.write("garbage.journal", std::string(8192, 'g'));
        tlg::JournalQuery query;
        query.where = tlg::JournalQuery::Where::Files;
        query.paths = {garbage};
        tlg::JournalLog log(query);
        QString said;
        connect(&log, &tlg::Log::changed, this, [&](const tlg::LogChange& change) { said = change.alert; });
        QSignalSpy opened(&log, &tlg::Log::opened);
        log.start();
        QVERIFY(opened.wait(60000) || opened.count() == 1);
        QCOMPARE(opened.first().first().toBool(), false);
        QVERIFY(said.contains(QString::fromStdString(garbage)));
        QVERIFY(!log.busy());
    }

    void reopeningStopsTheReadUnderWay()
    {
        qputenv("TZ", "UTC");
        ::tzset();
        TempDir dir;
        QVERIFY(MakeJournal(dir.path("a.journal"), ExportText(Entries(0, 3000, "11111111111111111111111111111111"))));
        tlg::JournalQuery all;
        all.where = tlg::JournalQuery::Where::Files;
        all.paths = {dir.path("a.journal")};
        tlg::JournalLog log(all);
        log.start();
        log.narrowTo({"MESSAGE=entry 7"});
        QVERIFY(WaitForWhole(log));
        QCOMPARE(log.query().fields, std::vector<std::string>{"MESSAGE=entry 7"});
        QCOMPARE(log.lines()->lineCount(), 1);
    }
};

QTEST_MAIN(JournalLogTest)
#include "tst_journallog.moc"
