// The file-list panel and the add dialog in the running viewer.

#include "filelist/addtofilelistdialog.h"
#include "filelist/filelist.h"
#include "filelist/filelistpanel.h"
#include "view/logview.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

using tlg::AddToFileListDialog;
using tlg::MainWindow;
using tlg::testing::readFile;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

QTreeWidget* panel(const ViewerFixture& viewer)
{
    return viewer.find<QTreeWidget>("ListView1");
}

QStringList rows(const ViewerFixture& viewer)
{
    QStringList out;
    QTreeWidget* list = panel(viewer);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0) + " | " + list->topLevelItem(i)->text(1);
    return out;
}

// Clicks an entry of the panel as a person does.
void clickEntry(const ViewerFixture& viewer, int row, Qt::MouseButton button = Qt::LeftButton)
{
    QTreeWidget* list = panel(viewer);
    const QRect rect = list->visualItemRect(list->topLevelItem(row));
    QTest::mouseClick(list->viewport(), button, {}, QPoint(20, rect.center().y()));
    viewer.settle(); // a pick is read on the log's own thread
}

} // namespace

class FileListTest : public QObject {
    Q_OBJECT

private slots:
    void thePanelAloneAsksForThePickedLog()
    {
        QTemporaryDir home;
        qputenv("TLGVIEW_HOME", home.path().toLocal8Bit());
        writeFile(home.filePath("Filelist.TLG"), "web;/srv/%computername%/web.log\r\nmine;%Path%mine.log\r\n");
        tlg::FileListPanel panel(nullptr);
        panel.setMasterComputerName("Box");
        panel.resize(400, 300);
        panel.show();
        panel.ReloadFileList();
        auto* list = panel.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
        QCOMPARE(list->topLevelItemCount(), 2);

        QSignalSpy picks(&panel, &tlg::FileListPanel::openRequested);
        const QRect second = list->visualItemRect(list->topLevelItem(1));
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, QPoint(20, second.center().y()));
        QCOMPARE(picks.count(), 0); // a right click only selects
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(20, second.center().y()));
        QCOMPARE(picks.count(), 1);
        QCOMPARE(picks.first().first().value<std::string>(), home.path().toStdString() + "/mine.log");
        qunsetenv("TLGVIEW_HOME");
    }

    void thePanelShowsTheListWithItsPlaceholdersReplaced()
    {
        ViewerFixture viewer;
        writeFile(viewer.home() + "MasterSrv.TLG", "BigServer\r\n");
        writeFile(viewer.home() + "filelist.tlg",
                  "Web logs;/srv/%ComputerName%/Web.log\r\n"
                  "mine;%PATH%Mine.log and %path%\n"
                  "\r\n"
                  "just/a/Path\r\n");
        viewer.start();
        QCOMPARE(rows(viewer), QStringList({"WEB LOGS | /srv/BigServer/Web.log",
                                            "MINE | " + viewer.home() + "Mine.log and " + viewer.home(),
                                            " | ", "JUST/A/PATH | just/a/Path"}));

        // The filter keeps only files reachable from here: not missing ones, not folders.
        writeFile(viewer.home() + "Mine.log", "x");
        writeFile(viewer.home() + "filelist.tlg",
                  "here;%Path%Mine.log\r\nfolder;" + viewer.home().toUtf8() + "\r\nmissing;/no/such.log\r\n\r\n");
        auto* filter = viewer.find<QCheckBox>("CheckBox7");
        filter->click();
        QCOMPARE(rows(viewer), QStringList({"HERE | " + viewer.home() + "Mine.log"}));
        filter->click();
        QCOMPARE(panel(viewer)->topLevelItemCount(), 4);
    }

    void aClickOpensAnEntry()
    {
        ViewerFixture viewer;
        const QString first = writeFile(viewer.home() + "First.log", "first log\n");
        const QString second = writeFile(viewer.home() + "Second.log", "second log\n");
        QVERIFY(QDir(viewer.home()).mkdir(QStringLiteral("Logs")));
        writeFile(viewer.home() + "Filelist.TLG",
                  "one;%Path%First.log\r\ntwo;%Path%Second.log\r\ngone;%Path%Gone.log\r\nfolder;%Path%Logs\r\n");
        MainWindow* window = viewer.start({first});

        clickEntry(viewer, 0);
        QCOMPARE(viewer.status(0), QStringLiteral("File already loaded"));

        clickEntry(viewer, 1);
        QCOMPARE(window->tab()->path(), second);
        QCOMPARE(tlg::testing::FileLogIn(window)->previousPath(), first);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + second);
        QVERIFY(viewer.status(0).startsWith(QStringLiteral("File Loaded ")));
        QCOMPARE(window->tab()->view()->text(), std::string("second log\n"));
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        QVERIFY(viewer.find<QTimer>("Timer1")->isActive());

        clickEntry(viewer, 2);
        QCOMPARE(viewer.status(0), QStringLiteral("FILE DOES NOT EXIST"));
        QCOMPARE(window->tab()->path(), second);
        QCOMPARE(tlg::testing::FileLogIn(window)->previousPath(), second);
        // A folder says so.
        clickEntry(viewer, 3);
        QCOMPARE(viewer.status(0), "Cannot open file " + viewer.home() + "Logs: it is a folder");
        QCOMPARE(window->tab()->path(), second);

        // Back to the first with one click.
        clickEntry(viewer, 0);
        QCOMPARE(window->tab()->path(), first);
        QCOMPARE(window->tab()->view()->text(), std::string("first log\n"));
    }

    void removingAnEntryRemovesItsLineOnly()
    {
        ViewerFixture viewer;
        const QByteArray stored = "twin;/a.log\r\nTWIN;%Path%b.log\nother;%computername%/c.log\r\n";
        writeFile(viewer.home() + "Filelist.TLG", stored);
        viewer.start();
        // The second of two entries with the same description, picked with a right click.
        clickEntry(viewer, 1, Qt::RightButton);
        QCOMPARE(panel(viewer)->currentItem()->text(1), viewer.home() + "b.log");
        viewer.find<QAction>("Delete1")->trigger();
        QCOMPARE(readFile(viewer.home() + "Filelist.TLG"),
                 QByteArray("twin;/a.log\r\nother;%computername%/c.log\r\n"));
        QCOMPARE(panel(viewer)->topLevelItemCount(), 2);

        // Nothing selected: nothing removed.
        panel(viewer)->clearSelection();
        viewer.find<QAction>("Delete1")->trigger();
        QCOMPARE(panel(viewer)->topLevelItemCount(), 2);
    }

    void theAddDialogChecksAndAppends()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "App.log", "x\n");
        writeFile(viewer.home() + "Filelist.TLG", "Known;/var/log/known.log");
        MainWindow* window = viewer.start({log});
        auto* dialog = viewer.find<AddToFileListDialog>("TForm3");
        auto* description = dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"));
        QCOMPARE(description->maxLength(), 30);

        dialog->prepare(window->tab()->path());
        description->setText(QStringLiteral("   "));
        dialog->addEntry();
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, QStringLiteral("Fill in File List Text"));
        QCOMPARE(viewer.messages[0].caption, QStringLiteral("Fill in File List Text"));

        description->setText(QStringLiteral("KNOWN"));
        QTest::keyClick(description, Qt::Key_Return); // Enter adds just as the button does
        QCOMPARE(viewer.messages.size(), 2);
        QCOMPARE(viewer.messages[1].text,
                 QStringLiteral("File Description alerady in File List\r\n(Known, /var/log/known.log)"));
        QCOMPARE(viewer.messages[1].caption, QStringLiteral("Duplicate file"));
        QCOMPARE(description->text(), QStringLiteral("KNOWN"));

        // What the list cannot keep is named and left as typed; the file is not touched.
        const QByteArray before = readFile(viewer.home() + "Filelist.TLG");
        for (const auto& [typed, named] : {std::pair{QStringLiteral("a;b"), QStringLiteral("\";\"")},
                                           std::pair{QStringLiteral("\u0416\u0443\u043A"), QStringLiteral("\"\u0416\"")},
                                           std::pair{QStringLiteral("log \U0001F600"), QStringLiteral("\"\U0001F600\"")}}) {
            description->setText(typed);
            dialog->addEntry();
            QVERIFY2(viewer.messages.last().text.startsWith(QStringLiteral("The character ") + named), qPrintable(viewer.messages.last().text));
            QCOMPARE(description->text(), typed);
        }
        QCOMPARE(readFile(viewer.home() + "Filelist.TLG"), before);

        // Accepted: the line exactly as typed, after a CR LF, and still no break at the end.
        description->setText(QStringLiteral(" My app \u00E9t\u00E9"));
        dialog->addEntry();
        QCOMPARE(readFile(viewer.home() + "Filelist.TLG"),
                 "Known;/var/log/known.log\r\n My app \xE9t\xE9;" + log.toUtf8());
        QVERIFY(dialog->isHidden());
        QCOMPARE(panel(viewer)->topLevelItemCount(), 2);
        QCOMPARE(panel(viewer)->topLevelItem(1)->text(0), QStringLiteral("MY APP \u00E9T\u00E9")); // ASCII letters only

        // The same file again is refused, whatever the case of its path.
        dialog->prepare(window->tab()->path().toUpper());
        description->setText(QStringLiteral("other"));
        dialog->addEntry();
        QVERIFY(viewer.messages.last().text.startsWith(QStringLiteral("File alerady in File List\r\n")));
    }

    void aPathTheListCannotHoldIsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("semicolon") << QStringLiteral("a;b.log");
        QTest::newRow("line feed") << QStringLiteral("a\nb.log");
        QTest::newRow("carriage return") << QStringLiteral("a\rb.log");
    }

    void aPathTheListCannotHoldIsRefused()
    {
        QFETCH(QString, name);
        ViewerFixture viewer;
        const QByteArray list = "Known;/var/log/known.log\r\n";
        writeFile(viewer.home() + "Filelist.TLG", list);
        const QString log = writeFile(viewer.home() + name, "x\n");
        MainWindow* window = viewer.start({log});
        QCOMPARE(window->tab()->path(), log);
        auto* dialog = viewer.find<AddToFileListDialog>("TForm3");
        dialog->prepare(window->tab()->path());
        dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("odd"));
        dialog->addEntry();
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, QString::fromLatin1(tlg::kUnstorablePathMessage));
        QCOMPARE(readFile(viewer.home() + "Filelist.TLG"), list);
        QCOMPARE(panel(viewer)->topLevelItemCount(), 1);
    }

    void aListThatIsNoRegularFileIsToldOfAndStartUpGoesOn()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "App.log", "the log\n");
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), viewer.home() + "Filelist.TLG"));
        MainWindow* window = viewer.start({log});
        QCOMPARE(viewer.messages.size(), 1);
        QVERIFY2(viewer.messages[0].text.contains(viewer.home() + "Filelist.TLG"), qPrintable(viewer.messages[0].text));
        QVERIFY(viewer.messages[0].text.contains(QStringLiteral("not a regular file")));
        QCOMPARE(panel(viewer)->topLevelItemCount(), 0);
        QCOMPARE(window->tab()->path(), log); // the rest of start-up ran
        QCOMPARE(QFileInfo(viewer.home() + "Filelist.TLG").symLinkTarget(), QStringLiteral("/dev/zero"));
    }

    void theMenuOpensTheDialogAndAFirstAddBeginsTheList()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "first.log", "x\n");
        MainWindow* window = viewer.start({log});
        QVERIFY(!QFile::exists(viewer.home() + "Filelist.TLG"));
        auto* dialog = viewer.find<AddToFileListDialog>("TForm3");
        auto* poll = new QTimer(window);
        connect(poll, &QTimer::timeout, poll, [dialog, poll] {
            if (!dialog->isVisible())
                return;
            poll->stop();
            QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("Label2"))->text().isEmpty(), false);
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"));
            QCOMPARE(edit->text(), QString());
            edit->setText(QStringLiteral("first"));
            dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        });
        poll->start(10);
        viewer.find<QAction>("AddcurrentFiletofilelist1")->trigger();
        QCOMPARE(readFile(viewer.home() + "Filelist.TLG"), "first;" + log.toUtf8() + "\r\n");
        QCOMPARE(panel(viewer)->topLevelItemCount(), 1);
    }
};

QTEST_MAIN(FileListTest)
#include "tst_filelist.moc"
