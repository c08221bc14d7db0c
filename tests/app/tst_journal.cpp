// The systemd journal in the viewer: opened by its bytes from a file or a folder, or a folder
// picked in the open dialog, shown as journalctl shows it, followed, coloured by priority, its
// boots named, the command line's --journal, and the local journal kept in the session.

#include "app/commandline.h"
#include "navigate/fieldspanel.h"
#include "source/journallog.h"
#include "support/journalfiles.h"
#include "support/qtfiles.h"
#include "support/tempdir.h"
#include "support/viewerfixture.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <ctime>
#include <filesystem>

using namespace tlg;
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
        std::string message = "entry " + std::to_string(i);
        if (i % 5 == 2)
            message += "\nsecond line of " + std::to_string(i);
        entry.fields = {{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "app"}, {"_PID", "7"},
                        {"PRIORITY", std::to_string(i % 8)}, {"MESSAGE", message},
                        {"_SYSTEMD_UNIT", "unit" + std::to_string(i % 3) + ".service"}};
        entries.push_back(std::move(entry));
    }
    return entries;
}

// The lines of journalctl's output.
QStringList LinesOf(const std::string& text)
{
    QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The journal a tab shows (null: another kind of log, or none).
JournalLog* JournalIn(const LogTab* tab)
{
    return qobject_cast<JournalLog*>(tab->log());
}

// The view of the tab in sight, once its journal is read whole.
LogView* WholeJournalView(ViewerFixture& viewer)
{
    LogTab* tab = viewer.window->tabs()->current();
    if (!QTest::qWaitFor([&] {
            const JournalLog* journal = JournalIn(tab);
            return journal && journal->journalLines() && !journal->journalLines()->partial() && !journal->busy();
        }, 60000))
        return nullptr;
    return tab->view();
}

// Starts the viewer with the journal file opened in a tab, and gives its view once read whole.
LogView* OpenWholeJournal(ViewerFixture& viewer, const std::string& journal)
{
    viewer.start();
    viewer.window->tabs()->open(QString::fromStdString(journal), OpenWay::Chosen);
    return WholeJournalView(viewer);
}

} // namespace

class JournalViewerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        ::tzset();
    }

    // A journal file, whatever its name, opens as a journal: its lines are journalctl's.
    void aJournalFileOpensByItsBytes()
    {
        TempDir dir;
        const std::string journal = dir.path("capture.journal");
        QVERIFY(MakeJournal(journal, ExportText(Entries(0, 300, "11111111111111111111111111111111"))));
        const std::string renamed = dir.path("capture.bin");
        QVERIFY(std::rename(journal.c_str(), renamed.c_str()) == 0);
        ViewerFixture viewer;
        viewer.start();
        viewer.window->tabs()->open(QString::fromStdString(renamed), OpenWay::Chosen);
        LogView* view = WholeJournalView(viewer);
        QVERIFY(view);
        QCOMPARE(view->objectName(), QStringLiteral("RichEdit1"));
        const QStringList expected = LinesOf(Journalctl("--file " + renamed));
        QCOMPARE(view->lineCount(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(view->lineText(i), expected[i]);
        // A message of two lines is two lines of the view.
        QVERIFY(view->lineText(3).trimmed().startsWith(QStringLiteral("second line of 2")));
        QCOMPARE(viewer.window->tabs()->current()->path(), QString::fromStdString(renamed));
        // The window's title names the journal, as it names a file.
        QCOMPARE(viewer.window->windowTitle(), "Log Viewer - " + QString::fromStdString(renamed));
        QVERIFY(viewer.status(0).contains(QStringLiteral("300 entries")));
        // Opened again, it comes to the front instead of a second tab.
        viewer.window->tabs()->open(QString::fromStdString(renamed), OpenWay::Chosen);
        QCOMPARE(viewer.window->tabs()->tabs().size(), 1);

        // Go to time, through the journal's index: entry i is at kStart + i seconds.
        viewer.window->navigation()->goToTime(static_cast<std::int64_t>(kStart + 150 * 1000000ULL - 500000) * 1000);
        QVERIFY(view->lineText(view->caretLine()).endsWith(QStringLiteral(": entry 150")));
        viewer.window->navigation()->goToTime(static_cast<std::int64_t>(kStart + 7 * 1000000ULL) * 1000);
        QVERIFY(view->lineText(view->caretLine()).endsWith(QStringLiteral(": entry 7")));
    }

    // A folder of journal files is one journal, its files merged in time; entries written
    // into it later come into the view, which keeps to its last line.
    void aFolderIsMergedAndFollowed()
    {
        TempDir dir;
        QVERIFY(MakeJournal(dir.path("a.journal"), ExportText(Entries(0, 100, "11111111111111111111111111111111"))));
        QVERIFY(MakeJournal(dir.path("b.journal"), ExportText(Entries(100, 50, "22222222222222222222222222222222"))));
        ViewerFixture viewer;
        viewer.start();
        viewer.window->tabs()->open(QString::fromStdString(dir.folder()), OpenWay::Chosen);
        LogView* view = WholeJournalView(viewer);
        QVERIFY(view);
        QCOMPARE(view->text(), Journalctl("-D " + dir.folder()));
        QVERIFY(view->caretLine() >= view->lineCount() - 1);

        QVERIFY(MakeJournal(dir.path("c.journal"), ExportText(Entries(150, 20, "33333333333333333333333333333333"))));
        QTRY_COMPARE_WITH_TIMEOUT(view->text(), Journalctl("-D " + dir.folder()), 60000);
        QVERIFY(view->caretLine() >= view->lineCount() - 1);
    }

    // Entries are coloured by their priority: emerg to err as errors, warning and notice as
    // infos, the rest in the text's colour; every line of an entry alike.
    void prioritiesColourTheirLines()
    {
        TempDir dir;
        const std::string journal = dir.path("levels.journal");
        QVERIFY(MakeJournal(journal, ExportText(Entries(0, 40, "11111111111111111111111111111111"))));
        ViewerFixture viewer;
        LogView* view = OpenWholeJournal(viewer, journal);
        QVERIFY(view);
        const QColor plain = view->baseTextColour();
        int entry = -1;
        for (int line = 0; line < view->lineCount(); ++line) {
            if (!view->lineText(line).startsWith(QLatin1Char(' ')))
                ++entry;
            const int priority = entry % 8;
            const QColor expected = priority <= 3 ? QColor(0xFF, 0, 0) : priority <= 5 ? QColor(0, 0, 0xFF) : plain;
            // The time stamp and the message's last byte.
            QCOMPARE(view->colourAt(view->lineIndex(line) + 2), expected);
            QCOMPARE(view->colourAt(view->lineIndex(line + 1) - 2), expected);
        }
        QCOMPARE(entry, 39);
    }

    // The fields panel lists the values with their counts; ticking values shows their
    // entries only, as journalctl's matches do; the caret's entry shows all its fields.
    void theFieldsPanelNarrowsByMatches()
    {
        TempDir dir;
        const std::string journal = dir.path("fields.journal");
        std::vector<ExportEntry> entries = Entries(0, 60, "11111111111111111111111111111111");
        for (std::size_t i = 30; i < entries.size(); ++i)
            entries[i].boot = "22222222222222222222222222222222";
        // The first entry's priority 6, not 0: the priorities are met out of their order.
        for (auto& [name, value] : entries[0].fields)
            if (name == "PRIORITY")
                value = "6";
        QVERIFY(MakeJournal(journal, ExportText(entries)));
        ViewerFixture viewer;
        LogView* view = OpenWholeJournal(viewer, journal);
        QVERIFY(view);
        auto* panel = viewer.find<FieldsPanel>("JournalFields");
        QCOMPARE(panel->valueText(0, "unit1.service"), QStringLiteral("unit1.service\t20"));
        QCOMPARE(panel->valueText(2, "3"), QStringLiteral("3 err\t8"));
        // Priorities are listed from the most urgent, whatever order the entries met them in.
        QTreeWidgetItem* priorities = panel->findChild<QTreeWidget*>(QStringLiteral("JournalFieldValues"))->topLevelItem(2);
        QCOMPARE(priorities->childCount(), 8);
        for (int i = 0; i < 8; ++i)
            QVERIFY(priorities->child(i)->text(0).startsWith(QString::number(i) + QLatin1Char(' ')));
        QCOMPARE(panel->valueText(3, "22222222222222222222222222222222"), QStringLiteral("this boot (2023-11-14 22:13)\t30"));
        QCOMPARE(panel->valueText(3, "11111111111111111111111111111111"), QStringLiteral("the one before (2023-11-14 22:13)\t30"));

        JournalLog* source = JournalIn(viewer.window->tabs()->current());
        const auto whole = [&] { return source->journalLines() && !source->journalLines()->partial() && !source->busy(); };
        panel->tick(0, "unit1.service", true);
        QTRY_VERIFY_WITH_TIMEOUT(whole() && source->query().fields.size() == 1, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(view->text(), Journalctl("--file " + journal, "_SYSTEMD_UNIT=unit1.service"), 60000);
        panel->tick(0, "unit2.service", true);
        panel->tick(2, "4", true);
        QTRY_VERIFY_WITH_TIMEOUT(whole() && source->query().fields.size() == 3, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(
            view->text(), Journalctl("--file " + journal, "_SYSTEMD_UNIT=unit1.service _SYSTEMD_UNIT=unit2.service PRIORITY=4"),
            60000);
        // The lists stay those of the whole journal.
        QCOMPARE(panel->valueText(0, "unit0.service"), QStringLiteral("unit0.service\t20"));
        for (const char* unit : {"unit1.service", "unit2.service"})
            panel->tick(0, unit, false);
        panel->tick(2, "4", false);
        QTRY_VERIFY_WITH_TIMEOUT(whole() && source->query().fields.empty(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(view->text(), Journalctl("--file " + journal), 60000);

        // The caret's entry: every line of a message of two lines gives the same fields.
        // The caret placed, then a key that moves nothing.
        view->setFocus();
        const auto caretTo = [&](int line) {
            view->setSelection(view->lineIndex(line) + 1, 0);
            QTest::keyClick(view, Qt::Key_Shift);
        };
        caretTo(2);
        QTRY_VERIFY_WITH_TIMEOUT(panel->entryFields().contains(QStringLiteral("MESSAGE=[")), 60000);
        QVERIFY(panel->entryFields().contains(QStringLiteral("PRIORITY=2\n")));
        caretTo(3);
        QCoreApplication::processEvents(); // the panel follows the caret once the key is done
        QVERIFY(panel->entryFields().contains(QStringLiteral("PRIORITY=2\n")));
        caretTo(4);
        QTRY_VERIFY_WITH_TIMEOUT(panel->entryFields().contains(QStringLiteral("MESSAGE=entry 3\n")), 60000);
    }

    // Boots are named from the newest by their first entries' times, whatever their ids, with
    // the date and time of that entry; a tab narrowed to one boot names it as the whole
    // journal does. Ticking a boot shows its entries only.
    void bootsAreNamedAsPeopleSayThem()
    {
        TempDir dir;
        const std::string journal = dir.path("boots.journal");
        constexpr std::uint64_t kDay = 86400ULL * 1000000;
        // Ids in the reverse of their boots' order, each boot a day after the one before.
        const std::vector<std::string> ids = {"dddddddddddddddddddddddddddddddd", "cccccccccccccccccccccccccccccccc",
                                              "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"};
        std::vector<ExportEntry> entries;
        for (std::size_t boot = 0; boot < ids.size(); ++boot) {
            for (ExportEntry& entry : Entries(0, 5 + static_cast<int>(boot), ids[boot])) {
                entry.realtime += boot * kDay;
                entries.push_back(std::move(entry));
            }
        }
        QVERIFY(MakeJournal(journal, ExportText(entries)));
        ViewerFixture viewer;
        LogView* view = OpenWholeJournal(viewer, journal);
        QVERIFY(view);
        auto* panel = viewer.find<FieldsPanel>("JournalFields");
        QCOMPARE(panel->valueText(3, ids[3]), QStringLiteral("this boot (2023-11-17 22:13)\t8"));
        QCOMPARE(panel->valueText(3, ids[2]), QStringLiteral("the one before (2023-11-16 22:13)\t7"));
        QCOMPARE(panel->valueText(3, ids[1]), QStringLiteral("2 boots before (2023-11-15 22:13)\t6"));
        QCOMPARE(panel->valueText(3, ids[0]), QStringLiteral("3 boots before (2023-11-14 22:13)\t5"));
        // Listed newest first, each id in its tooltip.
        QTreeWidgetItem* boots = panel->findChild<QTreeWidget*>(QStringLiteral("JournalFieldValues"))->topLevelItem(3);
        QCOMPARE(boots->childCount(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(boots->child(i)->toolTip(0), QString::fromStdString(ids[static_cast<std::size_t>(3 - i)]));

        JournalLog* source = JournalIn(viewer.window->tabs()->current());
        panel->tick(3, ids[1], true);
        QTRY_VERIFY_WITH_TIMEOUT(source->query().fields.size() == 1 && source->journalLines() && !source->busy(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(view->text(), Journalctl("--file " + journal, "_BOOT_ID=" + ids[1]), 60000);
        QCOMPARE(view->lineCount(), 6 + 1); // entry 2's message has two lines

        // -b -1: the boot before the last, named so.
        JournalQuery before = *JournalAt(journal);
        before.boot = "-1";
        viewer.window->tabs()->openJournal(before);
        QVERIFY(WholeJournalView(viewer));
        auto* narrowed = viewer.window->tabs()->current()->findChild<FieldsPanel*>(QStringLiteral("JournalFields"));
        QVERIFY(narrowed && narrowed != panel);
        QCOMPARE(narrowed->valueText(3, ids[2]), QStringLiteral("the one before (2023-11-16 22:13)\t7"));
        QCOMPARE(narrowed->valueText(3, ids[3]), QString());
    }

    // In the open dialog, a folder of journal files opens as one journal: Open with nothing
    // named inside it, or the folder named. A folder without any is not opened.
    void theOpenDialogOpensAJournalFolder()
    {
        TempDir dir;
        QVERIFY(std::filesystem::create_directories(dir.path("machine")));
        QVERIFY(std::filesystem::create_directories(dir.path("other")));
        QVERIFY(std::filesystem::create_directories(dir.path("plain")));
        QVERIFY(MakeJournal(dir.path("machine/system.journal"), ExportText(Entries(0, 20, "11111111111111111111111111111111"))));
        QVERIFY(MakeJournal(dir.path("other/system.journal"), ExportText(Entries(20, 10, "22222222222222222222222222222222"))));
        dir.write("plain/x.log", "a line\n");
        ViewerFixture viewer;
        viewer.start();
        LogTabs* tabs = viewer.window->tabs();
        tabs->openFromDialog();
        auto* dialog = viewer.find<QFileDialog>("Open1");
        QVERIFY(dialog->isVisible());
        QPushButton* open = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(open && name);

        // Nothing named in a folder of logs: Open stays disabled, and an accept does nothing.
        dialog->setDirectory(QString::fromStdString(dir.path("plain")));
        name->clear();
        QCoreApplication::processEvents();
        QVERIFY(!open->isEnabled());
        static_cast<QDialog*>(dialog)->accept();
        QVERIFY(dialog->isVisible());

        // Inside a journal folder, Open with nothing named opens the folder.
        dialog->setDirectory(QString::fromStdString(dir.path("machine")));
        QTRY_VERIFY_WITH_TIMEOUT(open->isEnabled(), 60000);
        QVERIFY(!name->placeholderText().isEmpty());
        open->click();
        QVERIFY(!dialog->isVisible());
        LogView* view = WholeJournalView(viewer);
        QVERIFY(view);
        QCOMPARE(tabs->current()->path(), QString::fromStdString(dir.path("machine")));
        QCOMPARE(view->text(), Journalctl("-D " + dir.path("machine")));

        // A folder picked from the one above opens too, in a tab of its own.
        tabs->openFromDialog();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->directory().absolutePath(), QDir(QString::fromStdString(dir.folder())).absolutePath());
        dialog->selectFile(QStringLiteral("other"));
        static_cast<QDialog*>(dialog)->accept();
        QVERIFY(!dialog->isVisible());
        QVERIFY(WholeJournalView(viewer));
        QCOMPARE(tabs->current()->path(), QString::fromStdString(dir.path("other")));
        QCOMPARE(tabs->tabs().size(), 2);
        QVERIFY(viewer.messages.isEmpty());
    }

    // This machine's journal comes back at the next start with its matches, in its tab's place,
    // and a journal folder comes back by its path. A folder made here stands for the machine's
    // journal: what is checked is that the tab is the local journal again, read through the
    // same matches, never what the machine itself has logged.
    void theLocalJournalIsKeptInTheSession()
    {
        TempDir dir;
        QVERIFY(std::filesystem::create_directories(dir.path("local")));
        QVERIFY(std::filesystem::create_directories(dir.path("folder")));
        QVERIFY(MakeJournal(dir.path("local/system.journal"), ExportText(Entries(0, 60, "11111111111111111111111111111111"))));
        QVERIFY(MakeJournal(dir.path("folder/system.journal"), ExportText(Entries(0, 10, "22222222222222222222222222222222"))));
        SetLocalJournalStandIn(dir.path("local"));
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "a.log", "a\n");
        const QString folder = QString::fromStdString(dir.path("folder"));
        MainWindow* window = viewer.start({log});
        JournalQuery local;
        local.units = {"unit1"};
        local.highestPriority = 3;
        window->tabs()->openJournal(local);
        QVERIFY(WholeJournalView(viewer));
        viewer.find<QCheckBox>("CheckBox5")->click(); // not followed
        window->tabs()->open(folder, OpenWay::Chosen);
        QVERIFY(WholeJournalView(viewer));
        window->close();
        viewer.window.reset();

        window = viewer.start();
        const QList<LogTab*> tabs = window->tabs()->tabs();
        QCOMPARE(tabs.size(), 3);
        QCOMPARE(tabs[0]->path(), log);
        QVERIFY(JournalIn(tabs[1]) && tabs[1]->path().isEmpty());
        QVERIFY(JournalIn(tabs[1])->query() == local);
        QVERIFY(!tabs[1]->log()->following());
        QVERIFY(JournalIn(tabs[2]));
        QCOMPARE(tabs[2]->path(), folder);
        QVERIFY(tabs[2]->log()->following());
        const std::string expected = Journalctl("-D " + dir.path("local"), "-u unit1 -p 3");
        QVERIFY(!expected.empty());
        QTRY_COMPARE_WITH_TIMEOUT(tabs[1]->view()->text(), expected, 60000);
        QVERIFY(viewer.messages.isEmpty());
        window->close();
        viewer.window.reset();
        SetLocalJournalStandIn({});
    }

    // A journal that cannot be read says why in the error box, and gets no tab.
    void aBrokenJournalSaysWhy()
    {
        TempDir dir;
        const std::string broken = dir.write("broken.journal", "LPKSHHRH" + std::string(300, '\x01'));
        ViewerFixture viewer;
        viewer.start();
        viewer.window->tabs()->open(QString::fromStdString(broken), OpenWay::Chosen);
        QTRY_COMPARE_WITH_TIMEOUT(viewer.messages.size(), 1, 60000);
        QVERIFY(viewer.messages.first().text.contains(QString::fromStdString(broken)));
        QTRY_COMPARE_WITH_TIMEOUT(viewer.window->tabs()->tabs().size(), 1, 60000);
        QVERIFY(!JournalIn(viewer.window->tabs()->current()));
    }

    void theCommandLineAsksForTheJournal_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("units");
        QTest::addColumn<int>("lowest");
        QTest::addColumn<int>("highest");
        QTest::addColumn<QString>("boot");
        QTest::newRow("bare") << QStringList{"--journal"} << QStringList{} << 0 << -1 << "";
        QTest::newRow("unit and priority name")
            << QStringList{"--journal", "-u", "ssh", "-p", "err"} << QStringList{"ssh"} << 0 << 3 << "";
        QTest::newRow("two units, a digit")
            << QStringList{"--journal", "-u", "a", "--unit", "b.socket", "-p", "5"} << QStringList{"a", "b.socket"} << 0 << 5 << "";
        QTest::newRow("a range") << QStringList{"--journal", "-p", "err..notice"} << QStringList{} << 3 << 5 << "";
        QTest::newRow("bare boot") << QStringList{"--journal", "-b"} << QStringList{} << 0 << -1 << "0";
        QTest::newRow("boot before") << QStringList{"--journal", "-b", "-1"} << QStringList{} << 0 << -1 << "-1";
        QTest::newRow("boot before a log")
            << QStringList{"--journal", "-b", "x.log"} << QStringList{} << 0 << -1 << "0";
        QTest::newRow("boot id") << QStringList{"--journal", "-b", "0123456789abcdef0123456789abcdef"} << QStringList{}
                                 << 0 << -1 << "0123456789abcdef0123456789abcdef";
    }

    void theCommandLineAsksForTheJournal()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, units);
        QCoreApplication::setApplicationName(QStringLiteral("TlgView"));
        const CommandLine line = ReadCommandLine(QStringList{"tlgview"} + arguments);
        QCOMPARE(int(line.action), int(CommandLine::Open));
        QVERIFY(line.journal);
        QStringList unitsRead;
        for (const std::string& unit : line.journal->units)
            unitsRead << QString::fromStdString(unit);
        QCOMPARE(unitsRead, units);
        QTEST(line.journal->lowestPriority, "lowest");
        QTEST(line.journal->highestPriority, "highest");
        QTEST(QString::fromStdString(line.journal->boot), "boot");
        QCOMPARE(line.logs, arguments.contains("x.log") ? QStringList{"x.log"} : QStringList{});
    }

    void anUnknownPriorityIsRefused()
    {
        QCoreApplication::setApplicationName(QStringLiteral("TlgView"));
        const CommandLine line = ReadCommandLine({"tlgview", "--journal", "-p", "loud"});
        QCOMPARE(int(line.action), int(CommandLine::Refused));
        QVERIFY(line.text.contains(QStringLiteral("loud")));
        QVERIFY(!ReadCommandLine({"tlgview", "x.log"}).journal);
    }
};

QTEST_MAIN(JournalViewerTest)
#include "tst_journal.moc"
