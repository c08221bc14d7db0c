// Several logs open at once, one tab each.

#include "app/logtab.h"
#include "app/logtabs.h"
#include "navigate/findall.h"
#include "navigate/finddialog.h"
#include "source/filelog.h"
#include "source/sharedfilewatcher.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"
#include "view/caretplacement.h"
#include "view/overviewstrip.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

using tlg::LogTab;
using tlg::MainWindow;
using tlg::testing::ViewerFixture;
using tlg::testing::appendFile;
using tlg::testing::writeFile;

namespace {

QTabWidget* tabWidget(MainWindow* window)
{
    return window->tabs()->side(0);
}

// Looks at a tab's log until its view shows `text`.
bool followUntil(ViewerFixture& viewer, LogTab* tab, const std::string& text)
{
    for (int tick = 0; tick < 50 && tab->view()->text() != text; ++tick) {
        tab->follower()->tick();
        viewer.settle();
    }
    return tab->view()->text() == text;
}

} // namespace

class TabsTest : public QObject {
    Q_OBJECT

private slots:
    void eachLogNamedOpensInATabThatFollowsItOutOfSight()
    {
        ViewerFixture viewer;
        // An error in what a log holds at its open is no news when the log grows.
        const QString a = writeFile(viewer.home() + "a.log", "alpha error\n");
        const QString b = writeFile(viewer.home() + "b.log", "beta\n");
        const QString c = writeFile(viewer.home() + "c.log", "gamma\n");
        MainWindow* window = viewer.start({a, b, c});
        const QList<LogTab*> tabs = window->tabs()->tabs();
        QCOMPARE(tabs.size(), 3);
        QCOMPARE(tabs[0]->view()->text(), std::string("alpha error\n"));
        QCOMPARE(tabs[1]->view()->text(), std::string("beta\n"));
        QCOMPARE(tabs[2]->view()->text(), std::string("gamma\n"));
        QCOMPARE(tabWidget(window)->tabText(0), QStringLiteral("a.log"));
        QCOMPARE(tabWidget(window)->tabToolTip(0), a);
        // The last opened is in sight, and a look for the log view finds its view.
        QCOMPARE(window->tabs()->current(), tabs[2]);
        QCOMPARE(viewer.find<tlg::LogView>("RichEdit1"), tabs[2]->view());
        QCOMPARE(window->windowTitle(), "Log Viewer - " + c);

        // A log out of sight goes on being followed; its tab says it grew, in red for an error.
        appendFile(a, "more\n");
        QVERIFY(followUntil(viewer, tabs[0], "alpha error\nmore\n"));
        QVERIFY(tabWidget(window)->tabText(0).startsWith(QStringLiteral("\u25CF ")));
        QTRY_VERIFY_WITH_TIMEOUT(tabs[0]->overview()->idle() && tabs[0]->overview()->lineMarks().size() == 2, 60000);
        QVERIFY(tabWidget(window)->tabBar()->tabTextColor(0) != QColor(230, 0, 0));
        appendFile(b, "an error here\n");
        QVERIFY(followUntil(viewer, tabs[1], "beta\nan error here\n"));
        QTRY_COMPARE_WITH_TIMEOUT(tabWidget(window)->tabBar()->tabTextColor(1), QColor(230, 0, 0), 60000);
        // In sight, the mark goes, and the window speaks for that tab; the others keep theirs.
        window->tabs()->setCurrent(tabs[0]);
        QCOMPARE(tabWidget(window)->tabText(0), QStringLiteral("a.log"));
        QVERIFY(tabWidget(window)->tabText(1).startsWith(QStringLiteral("\u25CF ")));
        QCOMPARE(window->windowTitle(), "Log Viewer - " + a);
        QCOMPARE(viewer.find<tlg::LogView>("RichEdit1"), tabs[0]->view());

        // Each tab keeps its own switches.
        viewer.find<QCheckBox>("CheckBox1")->click(); // word wrap, in a.log's tab
        QVERIFY(tabs[0]->view()->wordWrap());
        window->tabs()->setCurrent(tabs[2]);
        QVERIFY(!tabs[2]->view()->wordWrap());
        QVERIFY(!viewer.find<QCheckBox>("CheckBox1")->isChecked());

        // Ctrl+W closes the tab in sight, which stops watching its log.
        QVERIFY(tlg::SharedFileWatcher::instance().watchedPaths().contains(c));
        QTest::keyClick(tabs[2]->view(), Qt::Key_W, Qt::ControlModifier);
        QTRY_COMPARE(window->tabs()->tabs().size(), 2);
        QVERIFY(!tlg::SharedFileWatcher::instance().watchedPaths().contains(c));
        QVERIFY(window->tabs()->tabs().contains(window->tabs()->current()));
        // Ctrl+Tab goes round the others.
        LogTab* shown = window->tabs()->current();
        QTest::keyClick(shown->view(), Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(window->tabs()->current() != shown);
        // Opening a log already open brings its tab to the front.
        window->tabs()->openDropped({QUrl::fromLocalFile(a)});
        QCOMPARE(window->tabs()->current()->path(), a);
        QCOMPARE(window->tabs()->tabs().size(), 2);
        QVERIFY(viewer.messages.isEmpty());
    }

    void theLastSessionComesBack()
    {
        ViewerFixture viewer;
        const QString a = writeFile(viewer.home() + "a.log", "one\ntwo\nthree\nfour\n");
        const QString b = writeFile(viewer.home() + "b.log", QByteArray("caf\xE9\n"));
        const QString c = writeFile(viewer.home() + "c.log", "c\n");
        MainWindow* window = viewer.start({a, b, c});
        // b.log read as ISO-8859-1 and not followed; the caret of a.log on its third line.
        window->tabs()->setCurrent(window->tabs()->tabOf(b));
        window->tab()->chooseEncoding({false, tlg::Encoding::Iso8859_1});
        viewer.find<QCheckBox>("CheckBox5")->click();
        viewer.settle();
        window->tabs()->setCurrent(window->tabs()->tabOf(a));
        tlg::ScrollToLine(window->tab()->view(), 2);
        window->close();
        viewer.window.reset();
        QVERIFY(QFile::remove(c));

        window = viewer.start();
        const QList<LogTab*> tabs = window->tabs()->tabs();
        QCOMPARE(tabs.size(), 2);
        QCOMPARE(tabs[0]->path(), a);
        QCOMPARE(tabs[0]->view()->caretLine(), 2);
        QCOMPARE(tabs[1]->path(), b);
        QCOMPARE(tabs[1]->log()->encoding(), tlg::Encoding::Iso8859_1);
        QVERIFY(!tabs[1]->log()->following());
        QVERIFY(tabs[0]->log()->following());
        // The log that has gone is named once.
        QVERIFY(viewer.status(0).contains(c));
        window->close();
        viewer.window.reset();

        // Named logs open instead of the session; with the option off, nothing comes back.
        window = viewer.start({b});
        QCOMPARE(window->tabs()->tabs().size(), 1);
        viewer.find<QAction>("ReopenSession1")->trigger();
        window->close();
        viewer.window.reset();
        window = viewer.start();
        QCOMPARE(window->tabs()->tabs().size(), 1);
        QVERIFY(window->tabs()->current()->path().isEmpty());
    }

    void findInAllOpenLogsListsEachLogsMatches()
    {
        ViewerFixture viewer;
        const QString a = writeFile(viewer.home() + "a.log", "start\nneedle in a\n");
        const QString b = writeFile(viewer.home() + "b.log", "NEEDLE in b\r\nend\r\n");
        MainWindow* window = viewer.start({a, b});
        tlg::FindDialog* dialog = window->finder()->findDialog();
        dialog->setFindText(QStringLiteral("needle"));
        viewer.find<QCheckBox>("FindAllLogs")->setChecked(true);
        emit dialog->findNext();
        tlg::FindAllResults* results = window->findAllResults();
        QVERIFY(results->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!results->searching(), 60000);
        QCOMPARE(results->resultCount(), 2);
        // A click on the first match goes to its tab and line.
        auto* list = results->findChild<QAbstractItemView*>(QStringLiteral("FindAllList"));
        const QModelIndex first = list->model()->index(0, 0);
        QVERIFY(list->model()->data(first).toString().contains(QStringLiteral("a.log")));
        emit list->clicked(first);
        QCOMPARE(window->tab()->path(), a);
        QCOMPARE(window->tab()->view()->caretLine(), 1);
    }

    void splitShowsTwoTabsSideBySide()
    {
        ViewerFixture viewer;
        const QString a = writeFile(viewer.home() + "a.log", "a\n");
        const QString b = writeFile(viewer.home() + "b.log", "b\n");
        MainWindow* window = viewer.start({a, b});
        window->tabs()->setCurrent(window->tabs()->tabOf(a));
        viewer.find<QAction>("Split1")->trigger();
        QTabWidget* right = window->tabs()->side(1);
        QVERIFY(right->isVisible());
        QCOMPARE(right->count(), 1);
        QCOMPARE(static_cast<LogTab*>(right->currentWidget())->path(), b);
        QVERIFY(window->tabs()->tabOf(a)->view()->isVisible());
        QVERIFY(window->tabs()->tabOf(b)->view()->isVisible());
        // Back to one side: both tabs stay open.
        viewer.find<QAction>("Split1")->trigger();
        QVERIFY(!right->isVisible());
        QCOMPARE(tabWidget(window)->count(), 2);
    }
};

QTEST_MAIN(TabsTest)
#include "tst_tabs.moc"
