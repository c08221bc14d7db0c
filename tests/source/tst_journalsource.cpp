// An open journal on its own: the tail first, then the whole, then the entries written later,
// all read on the source's thread.

#include "source/journalsource.h"

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

// Waits for the source to show its whole journal (not a tail).
bool WaitForWhole(tlg::JournalSource& source)
{
    return QTest::qWaitFor([&] { return source.lines() && !source.lines()->partial() && !source.busy(); }, 60000);
}

} // namespace

class JournalSourceTest : public QObject {
    Q_OBJECT

private slots:
    void showsTailThenWholeThenFollows()
    {
        qputenv("TZ", "UTC");
        ::tzset();
        TempDir dir;
        QVERIFY(MakeJournal(dir.path("first.journal"), ExportText(Entries(0, 500, "11111111111111111111111111111111"))));
        tlg::JournalSource source;
        QSignalSpy changes(&source, &tlg::JournalSource::documentChanged);
        tlg::JournalQuery query;
        query.where = tlg::JournalQuery::Where::Folder;
        query.paths = {dir.folder()};
        source.open(query);
        QVERIFY(source.busy());
        QVERIFY(WaitForWhole(source));
        QCOMPARE(source.lines()->copyText(), Journalctl("-D " + dir.folder()));
        // The tail came first, with the last entries only.
        QVERIFY(changes.count() >= 2);
        QCOMPARE(changes.first().first().toBool(), false);

        // New entries in the followed folder come as a grown source.
        const tlg::JournalLinesPtr before = source.lines();
        changes.clear();
        QVERIFY(MakeJournal(dir.path("second.journal"), ExportText(Entries(500, 40, "22222222222222222222222222222222"))));
        QVERIFY(QTest::qWaitFor([&] { return source.lines()->lineCount() == 540; }, 60000));
        QCOMPARE(changes.last().first().toBool(), true);
        QVERIFY(source.lines()->grewFrom(*before));
        QCOMPARE(source.lines()->copyText(), Journalctl("-D " + dir.folder()));

        // Not following: entries wait in the journal until following is on again.
        source.setFollowing(false);
        QTest::qWait(50); // lets the switch reach the source's thread before the write
        QVERIFY(MakeJournal(dir.path("third.journal"), ExportText(Entries(540, 10, "33333333333333333333333333333333"))));
        QVERIFY(!QTest::qWaitFor([&] { return source.lines()->lineCount() != 540; }, 1500));
        source.setFollowing(true);
        QVERIFY(QTest::qWaitFor([&] { return source.lines()->lineCount() == 550; }, 60000));
    }

    void saysWhyItCannotOpen()
    {
        TempDir dir;
        const std::string garbage = dir.write("garbage.journal", std::string(8192, 'g'));
        tlg::JournalSource source;
        QSignalSpy failures(&source, &tlg::JournalSource::failed);
        tlg::JournalQuery query;
        query.where = tlg::JournalQuery::Where::Files;
        query.paths = {garbage};
        source.open(query);
        QVERIFY(failures.wait(60000) || failures.count() == 1);
        QVERIFY(failures.first().first().toString().contains(QString::fromStdString(garbage)));
        QVERIFY(!source.busy());
    }

    void reopeningStopsTheReadUnderWay()
    {
        qputenv("TZ", "UTC");
        ::tzset();
        TempDir dir;
        QVERIFY(MakeJournal(dir.path("a.journal"), ExportText(Entries(0, 3000, "11111111111111111111111111111111"))));
        tlg::JournalSource source;
        tlg::JournalQuery all;
        all.where = tlg::JournalQuery::Where::Files;
        all.paths = {dir.path("a.journal")};
        source.open(all);
        tlg::JournalQuery some = all;
        some.fields = {"MESSAGE=entry 7"};
        source.open(some);
        QVERIFY(WaitForWhole(source));
        QCOMPARE(source.query(), some);
        QCOMPARE(source.lines()->lineCount(), 1);
    }
};

QTEST_MAIN(JournalSourceTest)
#include "tst_journalsource.moc"
