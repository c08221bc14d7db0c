// Reading comfort in the running window: go to line, the line-number gutter, the font's size,
// the view's context menu, the recent logs, the overview strip and the window's geometry.

#include "core/fileops.h"
#include "view/logview.h"
#include "search/overview.h"
#include "view/overviewstrip.h"
#include "source/recentlogs.h"
#include "navigate/finddialog.h"
#include "navigate/finder.h"
#include "navigate/gotolinedialog.h"
#include "support/numberedlines.h"
#include "support/qtfiles.h"
#include "navigate/filterpane.h"
#include "support/viewerfixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QToolButton>
#include <QWheelEvent>

#include <set>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTimer>

using tlg::GotoLineDialog;
using tlg::LineNumber;
using tlg::LogView;
using tlg::MainWindow;
using tlg::OverviewStrip;
using tlg::RecentLogs;
using tlg::testing::ViewerFixture;
using tlg::testing::appendFile;
using tlg::testing::writeFile;

namespace {

QAction* actionNamed(QWidget* window, const char* name)
{
    auto* action = window->findChild<QAction*>(QLatin1String(name));
    if (!action)
        qFatal("no action named %s", name);
    return action;
}

// Answers the go-to-line dialog with `text` once it is up.
void answerGotoLine(ViewerFixture& viewer, const QString& text, bool accept = true)
{
    QTimer::singleShot(0, viewer.window.get(), [&viewer, text, accept] {
        auto* dialog = viewer.window->findChild<GotoLineDialog*>(QStringLiteral("GotoLineDialog"));
        QVERIFY(dialog && dialog->isVisible());
        dialog->numberEdit()->setText(text);
        accept ? dialog->accept() : dialog->reject();
    });
}

bool waitIdle(OverviewStrip* strip)
{
    QCoreApplication::processEvents(); // the views' news reach the strip queued
    return QTest::qWaitFor([strip] { return strip->idle(); }, 20000);
}

} // namespace

class ComfortTest : public QObject {
    Q_OBJECT

private slots:
    void typedLineNumbersAreClamped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qlonglong>("lines");
        QTest::addColumn<qlonglong>("line"); // from 0; -1: nothing
        QTest::newRow("first") << "1" << 100LL << 0LL;
        QTest::newRow("last") << "100" << 100LL << 99LL;
        QTest::newRow("blanks around") << "  42 " << 100LL << 41LL;
        QTest::newRow("zero") << "0" << 100LL << 0LL;
        QTest::newRow("past the end") << "101" << 100LL << 99LL;
        QTest::newRow("too many digits") << "99999999999999999999999" << 7LL << 6LL;
        QTest::newRow("no lines") << "5" << 0LL << 0LL;
        QTest::newRow("beyond 32 bits") << "3000000000" << 5000000000LL << 2999999999LL;
        QTest::newRow("blank") << "" << 100LL << -1LL;
        QTest::newRow("garbage") << "12a" << 100LL << -1LL;
        QTest::newRow("negative") << "-3" << 100LL << 0LL;
    }
    void typedLineNumbersAreClamped()
    {
        QFETCH(QString, text);
        QFETCH(qlonglong, lines);
        QFETCH(qlonglong, line);
        const std::optional<LineNumber> got = GotoLineDialog::lineFor(text, lines);
        QCOMPARE(got.value_or(-1), line);
    }

    void ctrlGPutsTheCaretOnTheLineInSight()
    {
        ViewerFixture viewer;
        QByteArray text;
        for (int i = 1; i <= 500; ++i)
            text += "line " + QByteArray::number(i) + "\n";
        const QString log = writeFile(viewer.home() + "long.log", text);
        MainWindow* window = viewer.start({log});
        window->show();
        viewer.tick(2);
        QAction* gotoLine = actionNamed(window, "GotoLine1");
        QCOMPARE(gotoLine->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));

        answerGotoLine(viewer, QStringLiteral("250"));
        gotoLine->trigger();
        LogView* view = window->tab()->view();
        QCOMPARE(view->caretLine(), 249);
        QCOMPARE(view->caretOffset(), view->lineIndex(249));
        // About a third of the view above it, the rest below.
        QVERIFY(view->visibleRows() >= 6);
        QCOMPARE(view->firstVisibleLine(), 249 - view->visibleRows() / 3);

        // Goto Bottom, pressed, goes to the end at once.
        viewer.find<QToolButton>("ToolButton14")->click();
        QCOMPARE(view->caretLine(), 500);
        QVERIFY(view->firstVisibleLine() + view->visibleRows() > 499);
        viewer.find<QToolButton>("ToolButton14")->click();

        // Past the end: the last line.
        answerGotoLine(viewer, QStringLiteral("100000"));
        gotoLine->trigger();
        QCOMPARE(window->tab()->view()->caretLine(), 499);
        // Cancelled: the caret stays.
        answerGotoLine(viewer, QStringLiteral("3"), false);
        gotoLine->trigger();
        QCOMPARE(window->tab()->view()->caretLine(), 499);
    }

    void theGutterNumbersLinesAndTheFontZooms()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "a.log", "one\ntwo\nthree\n");
        MainWindow* window = viewer.start({log});
        window->show();
        viewer.tick(2);
        auto* box = viewer.find<QCheckBox>("CheckBoxLineNumbers");
        QCOMPARE(box->text(), QStringLiteral("Line numbers"));
        QVERIFY(box->isChecked());
        LogView* view = window->tab()->view();
        auto* gutter = view->findChild<QWidget*>(QStringLiteral("LineNumberGutter"));
        QVERIFY(gutter && gutter->isVisible());
        // The text starts right of the gutter.
        QVERIFY(gutter->width() > 0);
        QCOMPARE(view->viewport()->x(), gutter->width());
        box->setChecked(false);
        QVERIFY(!gutter->isVisible());
        QCOMPARE(view->viewport()->x(), 0);
        QVERIFY(!window->tab()->view()->lineNumbersShown());
        box->setChecked(true);
        QCOMPARE(view->viewport()->x(), gutter->width());

        // The gutter shows the numbers: its first row differs from an empty gutter's.
        const QImage numbered = gutter->grab().toImage();
        view->setDocument(nullptr);
        const QImage empty = gutter->grab().toImage();
        QVERIFY(numbered != empty);

        // Zoom: both views, within bounds, back with Ctrl+0; Ctrl+wheel in a view too.
        const int size = LogView::kDefaultPointSize;
        actionNamed(window, "ZoomIn1")->trigger();
        actionNamed(window, "ZoomIn1")->trigger();
        QCOMPARE(window->tab()->view()->fontPointSize(), size + 2);
        QCOMPARE(window->tab()->view()->fontPointSize(), size + 2);
        for (int i = 0; i < 100; ++i)
            actionNamed(window, "ZoomOut1")->trigger();
        QCOMPARE(view->fontPointSize(), LogView::kMinPointSize);
        actionNamed(window, "ZoomReset1")->trigger();
        QCOMPARE(view->fontPointSize(), size);
        QWheelEvent wheel(QPointF(5, 5), view->viewport()->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 240),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
        QCOMPARE(window->tab()->view()->fontPointSize(), size + 2);
        QCOMPARE(actionNamed(window, "ZoomReset1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_0));
        QCOMPARE(actionNamed(window, "ZoomIn1")->shortcut(), QKeySequence(QKeySequence::ZoomIn));
    }

    void menusShowTheirKeysAndTheContextMenuCopies()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "a.log", "alpha beta\n");
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        QCOMPARE(actionNamed(window, "OpenFile1")->shortcut(), QKeySequence(QKeySequence::Open));
        QCOMPARE(actionNamed(window, "Refresh1")->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(actionNamed(window, "Quit1")->shortcut(), QKeySequence(QKeySequence::Quit));
        auto* menu = viewer.find<QMenu>("PopupMenu1");
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << action->text();
        QCOMPARE(texts, (QStringList{"Reload/Refresh", "", "Copy", "Select All", "Find Previous", "",
                             "Hide lines like this", "Show only lines like this"}));

        LogView* view = window->tab()->view();
        actionNamed(window, "SelectAll1")->trigger();
        QCOMPARE(view->selectionLength(), view->document()->size());
        view->setSelection(6, 4);
        actionNamed(window, "Copy1")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("beta"));
    }

    void recentLogsAreListedAndAMissingOneIsTakenOut()
    {
        ViewerFixture viewer;
        const QString first = writeFile(viewer.home() + "first.log", "1\n");
        const QString second = writeFile(viewer.home() + "second.log", "2\n");
        const QString gone = writeFile(viewer.home() + "gone.log", "3\n");
        MainWindow* window = viewer.start({gone});
        viewer.tick(2);
        window->tabs()->openListed(QFile::encodeName(first).toStdString());
        viewer.settle();
        window->tabs()->openListed(QFile::encodeName(second).toStdString());
        viewer.settle();
        QFile::remove(gone);

        auto* menu = viewer.find<QMenu>("RecentLogs1");
        QMetaObject::invokeMethod(menu, "aboutToShow");
        const QList<QAction*> items = menu->actions();
        QCOMPARE(items.size(), 3);
        QVERIFY(items[0]->text().endsWith(second));
        QVERIFY(items[1]->text().endsWith(first));
        QVERIFY(items[2]->text().endsWith(gone));
        QVERIFY(items[0]->isEnabled() && items[1]->isEnabled());
        QVERIFY(!items[2]->isEnabled()); // greyed

        // The list is kept where the next start reads it.
        RecentLogs kept(RecentLogs::defaultFilePath());
        kept.load();
        QCOMPARE(kept.paths().size(), std::size_t(3));
        QCOMPARE(QString::fromStdString(kept.paths().front()), second);

        // Picking an existing one opens it; picking the missing one says so and drops it.
        items[1]->trigger();
        viewer.settle();
        QCOMPARE(window->tab()->path(), first);
        menu->popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QMetaObject::invokeMethod(menu, "aboutToShow");
        QAction* missing = menu->actions().at(2);
        QVERIFY(!missing->isEnabled());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(missing).center());
        QCOMPARE(viewer.status(0), QStringLiteral("File Could not be located"));
        QCOMPARE(window->tab()->path(), first);
        kept.load();
        QCOMPARE(kept.paths().size(), std::size_t(2));
        QCOMPARE(QString::fromStdString(kept.paths().front()), first);
    }

    void theStripMarksWhatTheViewColoursAndFollowsGrowth()
    {
        ViewerFixture viewer;
        QByteArray text;
        for (int i = 0; i < 3000; ++i)
            text += i % 97 == 0 ? "a Fatal thing\n" : i % 13 == 0 ? "Started it\n" : "quiet line\n";
        const QString log = writeFile(viewer.home() + "marks.log", text);
        MainWindow* window = viewer.start({log});
        window->show();
        viewer.tick(2);
        OverviewStrip* strip = window->overviewStrip();
        QCOMPARE(strip->objectName(), QStringLiteral("OverviewStrip"));
        QVERIFY(waitIdle(strip));
        auto expected = [&] {
            LogView* view = window->tab()->view();
            return tlg::MarkLines(*view->document(), 0, view->matchRules().get(), "quiet");
        };
        // No find text yet.
        std::vector<std::uint8_t> colours = expected();
        for (auto& mark : colours)
            mark &= ~tlg::kMarkFound;
        QCOMPARE(strip->lineMarks(), colours);
        QCOMPARE(strip->lineMarks()[0], std::uint8_t(tlg::kMarkError));
        QCOMPARE(strip->lineMarks()[13], std::uint8_t(tlg::kMarkInfo));

        // The find text searched for is marked too.
        auto* dialog = window->finder()->findDialog();
        dialog->setFindText(QStringLiteral("QUIET"));
        emit dialog->findNext();
        QVERIFY(waitIdle(strip));
        QCOMPARE(strip->lineMarks(), expected());

        // The log grows: the strip follows.
        appendFile(log, "then an error\nStart again\n");
        viewer.tick(3);
        QVERIFY(waitIdle(strip));
        QCOMPARE(strip->lineMarks().size(), std::size_t(3002));
        QCOMPARE(strip->lineMarks(), expected());

        // "Show Errors" up: no red marks.
        viewer.find<QToolButton>("ToolButton1")->click();
        QVERIFY(waitIdle(strip));
        QVERIFY(QTest::qWaitFor([&] { return strip->lineMarks()[0] == 0; }, 20000));
        QCOMPARE(strip->lineMarks(), expected());

        // A click in the strip brings its line into sight.
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(5, strip->height() - 1));
        LogView* view = window->tab()->view();
        QVERIFY(view->caretLine() > 2900);
    }

    void theWindowsGeometryIsKept()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        window->show();
        window->resize(700, 500);
        auto* splitter = window->findChild<QSplitter*>(QStringLiteral("ClientArea"));
        splitter->setSizes({400, 287});
        const QList<int> sizes = splitter->sizes();
        window->close();
        QVERIFY(QFile::exists(QString::fromStdString(tlg::UserConfigSettingsFolder() + "window")));

        MainWindow* again = viewer.start();
        again->show();
        QCOMPARE(again->size(), QSize(700, 500));
        QCOMPARE(again->findChild<QSplitter*>(QStringLiteral("ClientArea"))->sizes(), sizes);
    }

    // F8 and F7 go to the lines that hold an error or an info label; the reader's marks on
    // lines are kept per log.
    void labelJumpsAndKeptMarks()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "jumps.log", "ok\nan error\nok\nthe txt\nok\nerror again\nok\n");
        MainWindow* window = viewer.start({log});
        window->show();
        LogView* view = window->tab()->view();
        QTRY_VERIFY_WITH_TIMEOUT(window->overviewStrip()->idle() && window->overviewStrip()->lineMarks().size() == 7, 30000);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_F8);
        QCOMPARE(view->caretLine(), 1);
        QTest::keyClick(view, Qt::Key_F8);
        QCOMPARE(view->caretLine(), 5);
        QTest::keyClick(view, Qt::Key_F8);
        QCOMPARE(viewer.status(0), QStringLiteral("No more error lines"));
        QTest::keyClick(view, Qt::Key_F7, Qt::ShiftModifier);
        QCOMPARE(view->caretLine(), 3);
        QTest::keyClick(view, Qt::Key_F8, Qt::ShiftModifier);
        QCOMPARE(view->caretLine(), 1);

        QTest::keyClick(view, Qt::Key_M);
        window->close();
        QVERIFY(QFile::exists(viewer.home() + "Marks.TLG"));
        MainWindow* again = viewer.start({log});
        QCOMPARE(again->tab()->view()->lineMarks(), (std::set<std::int64_t>{1}));
        // Another log has marks of its own.
        const QString other = writeFile(viewer.home() + "other.log", "x\n");
        again->tabs()->openDropped({QUrl::fromLocalFile(other)});
        viewer.settle();
        QVERIFY(again->tab()->view()->lineMarks().empty());
    }

    void preferencesAreKeptInTheSettingsFolder()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        window->show();
        actionNamed(window, "ZoomIn1")->trigger();
        viewer.find<QCheckBox>("CheckBox1")->click();   // word wrap
        viewer.find<QToolButton>("ToolButton14")->click(); // Goto Bottom
        actionNamed(window, "ShowOptions1")->trigger();
        viewer.find<QToolButton>("ToolButton13")->click(); // the file list, hidden
        window->filterPane()->setPattern(QStringLiteral("err(or)?\n\u00E9"), true, true);
        window->close();
        QVERIFY(QFile::exists(viewer.home() + "Preferences.TLG"));

        MainWindow* again = viewer.start();
        again->show();
        QCOMPARE(again->tab()->view()->fontPointSize(), tlg::LogView::kDefaultPointSize + 1);
        QVERIFY(viewer.find<QCheckBox>("CheckBox1")->isChecked());
        QVERIFY(again->tab()->view()->wordWrap());
        QVERIFY(viewer.find<QToolButton>("ToolButton14")->isChecked());
        QVERIFY(viewer.find<QCheckBox>("CheckBox3")->isChecked());
        QVERIFY(viewer.find<QWidget>("Panel1")->isVisible());
        QVERIFY(!viewer.find<QWidget>("Panel4")->isVisible());
        QCOMPARE(again->filterPane()->pattern(), QStringLiteral("err(or)?\n\u00E9"));
        QVERIFY(again->filterPane()->matchCase() && again->filterPane()->regex());
    }

    // The first size, or one kept from a larger screen or another place, fits the screen.
    void theWindowFitsTheScreenItOpensOn()
    {
        ViewerFixture viewer;
        MainWindow* window = viewer.start();
        window->show();
        const QRect area = window->screen()->availableGeometry();
        QVERIFY2(area.contains(window->frameGeometry()), qPrintable(QStringLiteral("%1x%2 in %3x%4")
                     .arg(window->frameGeometry().width()).arg(window->frameGeometry().height())
                     .arg(area.width()).arg(area.height())));
        window->move(area.right() + 500, area.bottom() + 500);
        window->close();

        MainWindow* again = viewer.start();
        again->show();
        QVERIFY(area.contains(again->frameGeometry()));
    }
};

QTEST_MAIN(ComfortTest)
#include "tst_comfort.moc"
