// The viewer started whole: its windows and controls, start-up with MasterSrv.TLG, and the
// ways a log is opened and reloaded.

#include "core/errors.h"
#include "core/fileops.h"
#include "navigate/filterstackbar.h"
#include "source/logtimes.h"
#include "navigate/filterstackrunner.h"
#include "view/caretplacement.h"
#include "view/logview.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QScreen>
#include <QSet>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>
#include <QSplitterHandle>
#include <QTimer>
#include <QTreeWidget>
#include <QToolButton>


using tlg::LogView;
using tlg::MainWindow;
using tlg::testing::appendFile;
using tlg::testing::HeldLock;
using tlg::testing::readFile;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

// Answers the open dialog with a path, or cancels it, once it is up.
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
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        // Typed into the name field, as a person would; the dialog's file model fills in
        // the background and may not list a file created a moment ago.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->accept(); // public on QDialog
    });
    poll->start();
}

// Drags data over the window and drops it, as the desktop does.
void dragAndDrop(QWidget* window, QMimeData* data)
{
    QDragEnterEvent enter(QPoint(100, 200), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(100, 200), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
    QCoreApplication::processEvents(); // the file opens just after the drop
}

} // namespace

class ViewerTest : public QObject {
    Q_OBJECT

private slots:
    void startsWithTheWindowLaidOut()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->objectName(), QStringLiteral("TForm1"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Log Viewer - blank "));
        // 860 by 590, as far as the screen holds it with a window frame around it.
        const QRect area = window->screen()->availableGeometry();
        QCOMPARE(window->size(), QSize(860, 590).boundedTo(QSize(area.width() - 8, area.height() - 36)));
        QCOMPARE(window->minimumWidth(), 332);
        QVERIFY(viewer.find<QWidget>("TForm2")->isHidden());
        QVERIFY(viewer.find<QWidget>("TForm3")->isHidden());
        QCOMPARE(viewer.find<QWidget>("TForm2")->windowTitle(), QStringLiteral("Options - Format Text "));
        QCOMPARE(viewer.find<QWidget>("TForm3")->windowTitle(), QStringLiteral("Add to filelist"));

        const struct {
            const char* name;
            const char* caption;
            bool down;
        } buttons[] = {{"ToolButton15", "Search", false},     {"ToolButton13", "File list", true},
                       {"ToolButton24", "Format Text", false}, {"ToolButton20", "Options", false},
                       {"ToolButton16", "View Unicode", false}, {"ToolButton1", "", true},
                       {"ToolButton2", "", true},              {"ToolButton12", "Reload", false},
                       {"ToolButton17", "Auto refresh", true}, {"ToolButton14", "Goto Bottom", false}};
        for (const auto& b : buttons) {
            auto* button = viewer.find<QToolButton>(b.name);
            QCOMPARE(button->text(), QString::fromLatin1(b.caption));
            QCOMPARE(button->isChecked(), b.down);
            QVERIFY2(!button->icon().isNull(), b.name);
        }
        QCOMPARE(viewer.find<QToolButton>("ToolButton1")->toolTip(), QStringLiteral("Show Errors (Ctrl+Shift+E)"));
        QCOMPARE(viewer.find<QToolButton>("ToolButton2")->toolTip(), QStringLiteral("Show warnings (Ctrl+Shift+W)"));
        auto* slider = viewer.find<QSlider>("TrackBar1");
        QCOMPARE(slider->minimum(), 1);
        QCOMPARE(slider->maximum(), 10);
        QCOMPARE(slider->value(), 2);
        QCOMPARE(viewer.find<QCheckBox>("CheckBox5")->isChecked(), true);
        QCOMPARE(viewer.find<QCheckBox>("CheckBox1")->isChecked(), false);
        QCOMPARE(viewer.find<QCheckBox>("CheckBox3")->isChecked(), false);
        QCOMPARE(viewer.find<QCheckBox>("CheckBox6")->isChecked(), true);
        QCOMPARE(viewer.find<QCheckBox>("CheckBox7")->text(), QStringLiteral("Only show Accessable files from this PC"));
        QVERIFY(viewer.find<QWidget>("Panel1")->isHidden());
        QVERIFY(viewer.find<QWidget>("Panel4")->isVisible());
        QVERIFY(viewer.find<QWidget>("Splitter1")->isVisible());
        QVERIFY(viewer.find<LogView>("RichEdit1")->isVisible());
        // One view of the log (colouring is done as it paints), and the filter pane's list.
        QStringList views;
        for (const LogView* view : window->findChildren<LogView*>())
            views << view->objectName();
        views.sort();
        QCOMPARE(views, QStringList({QStringLiteral("FilterView"), QStringLiteral("RichEdit1")}));
        QCOMPARE(viewer.find<QTimer>("Timer1")->interval(), 2000);
        QVERIFY(viewer.find<QTimer>("Timer1")->isActive());
        QCOMPARE(viewer.find<QTimer>("Timer2")->interval(), 1000);
        QVERIFY(viewer.find<QTimer>("Timer2")->isActive());
        for (const char* name : {"OpenFile1", "ShowOptions1", "ShowTextFormat1", "AssociatewithLogfiles1",
                                 "Removeassociationlog1", "AddcurrentFiletofilelist1", "TLGViewer1",
                                 "MarvikWare1", "Refresh1", "Delete1", "AddCurrentFile1"})
            viewer.find<QAction>(name);
        QCOMPARE(viewer.find<QAction>("Refresh1")->text(), QStringLiteral("Reload/Refresh"));
        for (int panel = 0; panel < 3; ++panel)
            QCOMPARE(viewer.status(panel), QString());
        QVERIFY(viewer.messages.isEmpty());

        // A narrow window stops at its minimum width.
        window->resize(100, 400);
        QCOMPARE(window->width(), 332);
    }

    void recordsOrReadsTheMasterComputer()
    {
        {
            ViewerFixture viewer;
            MainWindow* window = viewer.start();
            const std::string here = tlg::LocalComputerName();
            QCOMPARE(window->fileListPanel()->masterComputerName(), here);
            QCOMPARE(readFile(viewer.home() + "MasterSrv.TLG"), QByteArray::fromStdString(here + "\r\n"));
        }
        {
            ViewerFixture viewer;
            writeFile(viewer.home() + "MasterSrv.TLG", "OTHER-PC\r\n");
            QCOMPARE(viewer.start()->fileListPanel()->masterComputerName(), std::string("OTHER-PC"));
            QCOMPARE(readFile(viewer.home() + "MasterSrv.TLG"), QByteArray("OTHER-PC\r\n"));
        }
        {
            ViewerFixture viewer;
            writeFile(viewer.home() + "MasterSrv.TLG", "");
            QCOMPARE(viewer.start()->fileListPanel()->masterComputerName(), std::string());
            QVERIFY(viewer.messages.isEmpty());
        }
    }

    void aFailureAtStartIsSaidOnceAndStartUpGoesOn()
    {
        ViewerFixture viewer;
        QVERIFY(QDir(viewer.home()).mkdir("MasterSrv.TLG"));
        writeFile(viewer.home() + "Filelist.TLG", "Known;/var/log/known.log");
        const QString log = writeFile(viewer.home() + "given.log", "given\n");
        MainWindow* window = viewer.start({log});
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, "Cannot create file " + viewer.home() + "MasterSrv.TLG");
        QCOMPARE(viewer.messages[0].icon, QMessageBox::Critical);
        // The file list, the profiles and the log named on the command line are all there.
        QCOMPARE(viewer.find<QTreeWidget>("ListView1")->topLevelItemCount(), 1);
        QVERIFY(viewer.find<QTreeWidget>("TreeView1")->topLevelItemCount() > 0);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + log);
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        QCOMPARE(viewer.shownText(), std::string("given\n"));
    }

    void commandLineOpensOnlyAnExistingFile_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::newRow("missing") << QStringLiteral("/no/such/file.log");
        QTest::newRow("blank") << QStringLiteral("   ");
        QTest::newRow("empty") << QString();
    }
    void commandLineOpensOnlyAnExistingFile()
    {
        QFETCH(QString, argument);
        ViewerFixture viewer;
        MainWindow* window = viewer.start({argument});
        QCOMPARE(window->windowTitle(), QStringLiteral("Log Viewer - blank "));
        QCOMPARE(window->tab()->path(), QString());
        QVERIFY(!window->log() || !tlg::testing::WatchOf(window).FileOpen);
        QVERIFY(viewer.messages.isEmpty());
    }

    void commandLineShowsTheLogAtOnce()
    {
        ViewerFixture viewer;
        const QByteArray bytes("alpha\r\nbeta\nlone\rCR\x81\xFF\n");
        const QString log = writeFile(viewer.home() + "app.log", bytes);
        MainWindow* window = viewer.start({log, QStringLiteral("ignored")});
        QCOMPARE(window->windowTitle(), "Log Viewer - " + log);
        QCOMPARE(window->tab()->path(), log);
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        // Loaded once the window is on screen, coloured at once.
        QCOMPARE(tlg::testing::WatchOf(window).StoredAge, tlg::AgeStamp(log.toStdString()));
        QCOMPARE(viewer.shownText(), bytes.toStdString());
    }

    // The options on the command line reach the logs it names: the filter stack in its order,
    // the merge, "--" before a name that starts with a dash.
    void theCommandLinesOptionsReachTheLogs()
    {
        ViewerFixture viewer;
        const QString app = writeFile(viewer.home() + "app.log",
                                      "2026-12-07 10:00:01 DEBUG req=1\n2026-12-07 10:00:03 req=2\n"
                                      "2026-12-07 10:00:05 REQ=3 health\nend\n");
        MainWindow* window = viewer.start({"--hide", "DEBUG", "--show-i", "req=", "--hide-i=HEALTH", app});
        LogView* view = window->tab()->view();
        QTRY_VERIFY_WITH_TIMEOUT(!window->tabs()->current()->filterStack()->running() && view->lineCount() == 1, 60000);
        QCOMPARE(view->lineText(0), QStringLiteral("2026-12-07 10:00:03 req=2"));
        QCOMPARE(window->tabs()->current()->filterStackBar()->rows().size(), std::size_t(3));

        const QString first = writeFile(viewer.home() + "first.log", "2026-12-07 10:00:01 one\n2026-12-07 10:00:03 three\n");
        const QString second = writeFile(viewer.home() + "second.log", "2026-12-07 10:00:02 two\n");
        window = viewer.start({first, "--merge", second});
        QCOMPARE(window->tabs()->tabs().size(), 1);
        QCOMPARE(window->log()->files().size(), 2);
        view = window->tab()->view();
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 3, 60000);
        QCOMPARE(view->lineText(1), QStringLiteral("2026-12-07 10:00:02 two"));

        // The fixture's working folder is its home.
        writeFile(viewer.home() + "-dash.log", "dashed\n");
        window = viewer.start({"--", "-dash.log"});
        QCOMPARE(viewer.shownText(), std::string("dashed\n"));
        QVERIFY(viewer.messages.isEmpty());

        // Without "--" the name is an unknown option, which main() refuses before any window.
        viewer.window.reset();
        QString refused;
        try {
            delete tlg::startViewer({"-dash.log"});
        } catch (const tlg::Failure& failure) {
            refused = QString::fromLocal8Bit(failure.what());
        }
        QVERIFY2(refused.startsWith(QStringLiteral("tlgview: unknown option '-dash.log'")), qPrintable(refused));
    }

    // The view's menu hides the caret's line as a row of the tab's filter stack; the time
    // format menu sets the form of the tab in sight.
    void menuItemsActOnTheTabInSight()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "like.log", "keep\nnoise 1\nkeep\n");
        MainWindow* window = viewer.start({log});
        LogView* view = window->tab()->view();
        tlg::ScrollToLine(view, 1);
        viewer.find<QAction>("HideLinesLike1")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(view->lineCount(), 2, 60000);
        QCOMPARE(view->lineText(1), QStringLiteral("keep"));
        for (QAction* form : viewer.find<QMenu>("TimeFormat1")->actions()) {
            if (form->text() == QLatin1String("Off"))
                form->trigger();
        }
        QCOMPARE(window->log()->timeFormChoice(), std::optional<tlg::TimeForm>(tlg::TimeForm::None));
    }

    void reloadReportsEachOutcome()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "r.log", "one\n");
        MainWindow* window = viewer.start({log});
        auto* timer = viewer.find<QTimer>("Timer1");
        // Only the reloads read here: the watcher's own look would report the lock first.
        timer->setInterval(3600 * 1000);
        viewer.find<QCheckBox>("CheckBoxFollowInstantly")->setChecked(false);
        auto* reload = viewer.find<QToolButton>("ToolButton12");

        writeFile(log, "one\ntwo\n");
        reload->click();
        viewer.settle();
        QVERIFY(viewer.status(0).startsWith(QStringLiteral("File Loaded ")));
        QVERIFY(viewer.status(0).size() > 12);
        QCOMPARE(viewer.shownText(), std::string("one\ntwo\n"));
        QCOMPARE(window->log()->lines()->copyText(), "one\ntwo\n");
        const std::string path = log.toStdString();
        QCOMPARE(tlg::testing::WatchOf(window).StoredAge, tlg::AgeStamp(path));
        QCOMPARE(tlg::testing::WatchOf(window).StoredSize, 8);
        QVERIFY(viewer.status(1).startsWith(QStringLiteral("Format "))); // coloured at once
        QVERIFY(timer->isActive());
        QCOMPARE(reload->property("alert").toBool(), false);

        // Held by another program: the old text stays, the stored values too.
        {
            HeldLock lock(log);
            writeFile(log, "one\ntwo\nthree\n");
            viewer.find<QAction>("Refresh1")->trigger();
            viewer.settle();
            QCOMPARE(viewer.status(0), QStringLiteral("File is Locked, try Again"));
            QCOMPARE(viewer.shownText(), std::string("one\ntwo\n"));
            QCOMPARE(tlg::testing::WatchOf(window).StoredSize, 8);
            QVERIFY(timer->isActive());
        }

        // Gone: said so, and the path and title stay.
        QVERIFY(QFile::remove(log));
        reload->click();
        QCOMPARE(viewer.status(0), QStringLiteral("File Could not be located"));
        QCOMPARE(window->tab()->path(), log);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + log);
        QCOMPARE(viewer.shownText(), std::string("one\ntwo\n"));
        QVERIFY(viewer.messages.isEmpty());
    }

    void openFileThroughTheDialog()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        auto* open = viewer.find<QAction>("OpenFile1");

        // Cancel with nothing open: nothing is opened, nothing watched.
        answerOpenDialog(viewer, QString());
        open->trigger();
        viewer.settle();
        QVERIFY(!window->log());

        const QString log = writeFile(viewer.home() + "picked.log", "picked\r\n");
        answerOpenDialog(viewer, log);
        open->trigger();
        viewer.settle();
        QCOMPARE(window->tab()->path(), log);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + log);
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        QCOMPARE(tlg::testing::WatchOf(window).StoredAge, tlg::AgeStamp(log.toStdString()));
        QVERIFY(viewer.status(1).startsWith(QStringLiteral("Format ")));
        QCOMPARE(window->log()->lines()->copyText(), "picked\r\n");
        QCOMPARE(viewer.shownText(), std::string("picked\r\n")); // shown, coloured, at once
        QCOMPARE(viewer.shownText(), std::string("picked\r\n"));

        // Cancel with a log open: it is watched again.
        answerOpenDialog(viewer, QString());
        open->trigger();
        viewer.settle();
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        QCOMPARE(window->tab()->path(), log);

        // A file that cannot be read: the error box, and the log that was open stays open
        // and watched.
        const QString held = writeFile(viewer.home() + "held.log", "held\n");
        HeldLock lock(held);
        answerOpenDialog(viewer, held);
        open->trigger();
        viewer.settle();
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, "File is locked by another program: " + held);
        QCOMPARE(window->tab()->path(), log);
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + log);
        QCOMPARE(viewer.shownText(), std::string("picked\r\n"));
        appendFile(log, "still followed\r\n");
        viewer.tick(2);
        QCOMPARE(viewer.shownText(), std::string("picked\r\nstill followed\r\n"));
    }

    void dropOpensEachFileInATabOfItsOwn()
    {
        ViewerFixture viewer;
        const QString first = writeFile(viewer.home() + "first.log", "first\n");
        const QString second = writeFile(viewer.home() + "second.log", "second\n");
        MainWindow* window = viewer.start({first});

        // Two files, dropped for real: the open one stays as it is, the other gets a tab of its
        // own, which comes to the front.
        QMimeData two;
        two.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
        dragAndDrop(window, &two);
        viewer.settle();
        QVERIFY(viewer.messages.isEmpty());
        QCOMPARE(window->tabs()->tabs().size(), 2);
        QCOMPARE(window->tab()->path(), second);
        QCOMPARE(viewer.shownText(), std::string("second\n"));
        QCOMPARE(window->tabs()->tabs().first()->view()->text(), std::string("first\n"));

        // A web address is refused before it lands.
        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("http://example.com/app.log"))});
        QDragEnterEvent enter(QPoint(100, 200), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        QVERIFY(!enter.isAccepted());

        // A log already open comes to the front with its path, title and text.
        QMimeData one;
        one.setUrls({QUrl::fromLocalFile(first)});
        dragAndDrop(window, &one);
        viewer.settle();
        QCOMPARE(window->tabs()->tabs().size(), 2);
        QCOMPARE(window->tab()->path(), first);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + first);
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        QCOMPARE(viewer.shownText(), std::string("first\n"));

        // A dropped folder cannot be read: the error box names it, it gets no tab, and the log
        // in sight stays.
        QMimeData folder;
        folder.setUrls({QUrl::fromLocalFile(QDir::tempPath())});
        dragAndDrop(window, &folder);
        viewer.settle();
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, "Cannot open file " + QDir::tempPath() + ": it is a folder");
        QCOMPARE(viewer.status(0), viewer.messages[0].text);
        QTRY_COMPARE(window->tabs()->tabs().size(), 2);
        QCOMPARE(window->tab()->path(), first);
        QCOMPARE(window->windowTitle(), "Log Viewer - " + first);
        QVERIFY(tlg::testing::WatchOf(window).FileOpen);
        QCOMPARE(viewer.shownText(), std::string("first\n"));
    }

    // Alt and a letter opens each menu, and a letter each of its items: one letter apiece.
    void menusAndTheirItemsHaveOneMnemonicApiece()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        const auto mnemonic = [](const QString& text) {
            const qsizetype at = text.indexOf(QLatin1Char('&'));
            return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
        };
        QSet<QChar> menuKeys;
        const QList<QAction*> menus = window->menuBar()->actions();
        QVERIFY(menus.size() >= 6);
        for (const QAction* menu : menus) {
            const QChar key = mnemonic(menu->text());
            QVERIFY2(key.isLetter() && !menuKeys.contains(key), qPrintable(menu->text()));
            menuKeys.insert(key);
            if (menu->menu()->objectName() == QLatin1String("Encoding1"))
                continue; // the encodings' names
            QSet<QChar> itemKeys;
            for (const QAction* item : menu->menu()->actions()) {
                if (item->isSeparator())
                    continue;
                const QChar itemKey = mnemonic(item->text());
                QVERIFY2(itemKey.isLetter() && !itemKeys.contains(itemKey), qPrintable(item->text()));
                itemKeys.insert(itemKey);
            }
        }
    }

    // Each tool button names a key of its own in its tooltip, and the key presses it.
    void toolButtonsHaveKeys()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QSet<QString> keys;
        for (const QToolButton* button : window->findChildren<QToolButton*>()) {
            if (button->objectName().isEmpty() || !button->isVisibleTo(window) || button->parentWidget()->inherits("QTabBar"))
                continue;
            const QString tip = button->toolTip();
            const qsizetype open = tip.lastIndexOf(QLatin1Char('('));
            if (button->objectName() == QLatin1String("SpeedButton1") || open < 0)
                continue; // the panels' close buttons
            const QString key = tip.mid(open + 1).chopped(1);
            QVERIFY2(!QKeySequence(key).isEmpty() && !keys.contains(key), qPrintable(tip));
            keys.insert(key);
        }
        QVERIFY(keys.size() >= 11);
        auto* options = viewer.find<QToolButton>("ToolButton20");
        window->tab()->view()->setFocus();
        QTest::keyClick(window->tab()->view(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(options->isChecked()); // a key presses the button as a click does, briefly drawn down
        QTRY_VERIFY(viewer.find<QWidget>("Panel1")->isVisible());
    }

    void aFolderOnTheCommandLineSaysSo()
    {
        ViewerFixture viewer;
        const QString folder = viewer.home() + "logs";
        QVERIFY(QDir().mkpath(folder));
        MainWindow* window = viewer.start({folder});
        viewer.settle();
        QCOMPARE(window->windowTitle(), QStringLiteral("Log Viewer - blank "));
        QVERIFY(!window->log() || !tlg::testing::WatchOf(window).FileOpen);
        const QString said = "Cannot open file " + folder + ": it is a folder";
        QCOMPARE(viewer.status(0), said);
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, said);
    }

    void smallHandlersKeepControlsInStep()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        auto* options = viewer.find<QToolButton>("ToolButton20");
        auto* panel = viewer.find<QWidget>("Panel1");
        options->click();
        QVERIFY(panel->isVisible());
        viewer.find<QToolButton>("SpeedButton1")->click();
        QVERIFY(panel->isHidden());
        QVERIFY(!options->isChecked());
        viewer.find<QAction>("ShowOptions1")->trigger();
        QVERIFY(panel->isVisible());
        QVERIFY(options->isChecked());
        options->click();
        QVERIFY(panel->isHidden());

        // "File list" and the panel's "X".
        auto* fileList = viewer.find<QToolButton>("ToolButton13");
        viewer.find<QToolButton>("SpeedButton2")->click();
        QVERIFY(viewer.find<QWidget>("Panel4")->isHidden());
        QVERIFY(viewer.find<QWidget>("Splitter1")->isHidden());
        QVERIFY(!fileList->isChecked());
        fileList->click();
        QVERIFY(viewer.find<QWidget>("Panel4")->isVisible());
        QVERIFY(viewer.find<QWidget>("Splitter1")->isVisible());

        // The format editor: the menu shows it without pressing the button.
        auto* editor = viewer.find<QWidget>("TForm2");
        auto* formatText = viewer.find<QToolButton>("ToolButton24");
        viewer.find<QAction>("ShowTextFormat1")->trigger();
        QVERIFY(editor->isVisible());
        QVERIFY(!formatText->isChecked());
        formatText->click();
        QVERIFY(editor->isVisible());
        formatText->click();
        QVERIFY(editor->isHidden());
        formatText->click();
        editor->close();
        QVERIFY(!formatText->isChecked());

        // Word wrap reaches both views.
        viewer.find<QCheckBox>("CheckBox1")->click();
        QVERIFY(window->tab()->view()->wordWrap());
        QVERIFY(window->tab()->view()->wordWrap());

        // The clock writes the fourth panel.
        window->showClock();
        QVERIFY(!viewer.status(3).isEmpty());
        QVERIFY(viewer.status(3).contains(QLatin1Char(':')));
    }
};

QTEST_MAIN(ViewerTest)
#include "tst_viewer.moc"
