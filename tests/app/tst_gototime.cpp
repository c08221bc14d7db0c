// Going to a time in a log.

#include "app/logtab.h"
#include "app/logtabs.h"
#include "navigate/gototimedialog.h"
#include "source/logtimes.h"
#include "navigate/positionindicator.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QLineEdit>
#include <QMenu>

using tlg::LogTab;
using tlg::MainWindow;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

// Answers the dialog with `text` once it is up.
void answer(MainWindow* window, const QString& text)
{
    QTimer::singleShot(0, window, [window, text] {
        auto* dialog = window->findChild<tlg::GotoTimeDialog*>(QStringLiteral("GotoTimeDialog"));
        QVERIFY(dialog && dialog->isVisible());
        dialog->timeEdit()->setText(text);
        dialog->accept();
    });
}

} // namespace

class GotoTimeTest : public QObject {
    Q_OBJECT

private slots:
    void theCaretGoesToTheFirstLineAtOrAfterTheTime()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "app.log",
                                      "2026-12-07 10:00:01.100 INFO start\n"
                                      "2026-12-07 10:14:59.900 ERROR failed\n"
                                      "    at Foo.bar(Foo.java:1)\n"
                                      "2026-12-07 10:15:00.250 INFO next\n"
                                      "2026-12-07 10:15:30.000 INFO later\n"
                                      "2026-12-07 11:00:00.000 INFO last\n");
        MainWindow* window = viewer.start({log});
        LogTab* tab = window->tabs()->current();
        QTRY_VERIFY_WITH_TIMEOUT(tab->log()->timeline().index, 60000);
        QCOMPARE(tab->log()->timeline().form, tlg::TimeForm::Iso);
        auto* gotoTime = window->findChild<QAction*>(QStringLiteral("GotoTime1"));
        QCOMPARE(gotoTime->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));

        // A partial time is on the day of the last line; fractions count.
        answer(window, QStringLiteral("10:15"));
        gotoTime->trigger();
        QTRY_COMPARE(tab->view()->caretLine(), 3);
        // The caret panel says the caret line's time beside its number.
        tab->position()->UpdatePositionIndicator();
        QCOMPARE(viewer.status(2), QStringLiteral("Line : 3/6  2026-12-07 10:15:00.250"));
        answer(window, QStringLiteral("10:15:00.3"));
        gotoTime->trigger();
        QTRY_COMPARE(tab->view()->caretLine(), 4);
        answer(window, QStringLiteral("2026-12-07 10:14:59"));
        gotoTime->trigger();
        QTRY_COMPARE(tab->view()->caretLine(), 1);

        // A text that is no time leaves the dialog up and says so.
        gotoTime->trigger();
        auto* dialog = window->findChild<tlg::GotoTimeDialog*>(QStringLiteral("GotoTimeDialog"));
        dialog->timeEdit()->setText(QStringLiteral("soon"));
        dialog->accept();
        QVERIFY(dialog->isVisible());
        dialog->reject();

        // With times off there is nothing to go by.
        tab->log()->chooseTimeForm(tlg::TimeForm::None);
        gotoTime->trigger();
        QCOMPARE(viewer.status(0), QStringLiteral("No time stamps found in this log"));
    }
};

QTEST_MAIN(GotoTimeTest)
#include "tst_gototime.moc"
