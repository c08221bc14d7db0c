// The open log on its own, without a main window: opening, following, colouring and the
// reports it sends.

#include "format/formateditor.h"
#include "support/followerfixture.h"
#include "support/qtfiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <future>

using tlg::testing::appendFile;
using tlg::testing::FollowerFixture;
using tlg::testing::writeFile;

class FollowerTest : public QObject {
    Q_OBJECT

private slots:
    void opensFollowsAndColoursWithBareViews()
    {
        QTemporaryDir dir;
        const QString log = writeFile(dir.filePath("bare.log"), "start\nan error here\n");
        FollowerFixture fixture;
        // The labels of the default profile, from a format editor of its own.
        qputenv("TLGVIEW_HOME", dir.path().toLocal8Bit());
        writeFile(dir.filePath("TlgFormat.ini"), QByteArray::fromStdString(tlg::FormatEditor::defaultText()));
        tlg::FormatEditor editor(&fixture.window);
        editor.LoadFormatProfiles();
        qunsetenv("TLGVIEW_HOME");
        fixture.colouring->setFormatEditor(&editor);
        QSignalSpy titles(fixture.tab, &tlg::LogTab::titleChanged);
        QSignalSpy alerts(fixture.tab, &tlg::LogTab::reloadAlertChanged);
        QSignalSpy samples(fixture.tab->follower(), &tlg::Follower::ticked);

        fixture.open(log);
        QCOMPARE(fixture.view()->lineCount(), 0); // read beside the GUI thread
        fixture.settle();
        QCOMPARE(fixture.tab->log()->path(), log);
        QCOMPARE(titles.count(), 1);
        QCOMPARE(titles.first().first().toString(), "Log Viewer - " + log);
        // Coloured at once.
        QVERIFY(fixture.status->text(1).startsWith(QStringLiteral("Format ")));
        const std::int64_t error = fixture.view()->lineIndex(1) + 3;
        QCOMPARE(fixture.view()->colourAt(error), QColor(0xFF, 0, 0));

        appendFile(log, "more\n");
        fixture.tick();
        QCOMPARE(samples.count(), 1);
        QVERIFY(fixture.status->text(0).startsWith(QStringLiteral("Last Update :")));
        QCOMPARE(alerts.count(), 2); // raised when the change is seen, lowered once it is loaded
        QCOMPARE(alerts.at(0).first().toBool(), true);
        QCOMPARE(alerts.at(1).first().toBool(), false);
        QCOMPARE(fixture.shownText(), std::string("start\nan error here\nmore\n"));

        // Colouring off: the watcher shows the text plain.
        fixture.colourBox->click();
        QVERIFY(!fixture.showErrors->isEnabled());
        appendFile(log, "last\n");
        fixture.tick();
        QCOMPARE(fixture.shownText(), std::string("start\nan error here\nmore\nlast\n"));
    }

    // A read used to run inside a handler that spun an event loop of its own until it ended:
    // now the handler returns at once and the window goes on while the source reads.
    void aReloadReturnsBeforeItsReadEnds()
    {
        QTemporaryDir dir;
        const QString log = writeFile(dir.filePath("held.log"), "one\n");
        FollowerFixture fixture;
        fixture.open(log);
        fixture.settle();

        appendFile(log, "two\n");
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        fixture.fileLog()->setReadHook([released] { released.wait(); });
        fixture.tab->log()->reload(); // returns with the read held
        QVERIFY(fixture.tab->log()->busy());
        bool ticked = false;
        QTimer::singleShot(0, &fixture.window, [&] { ticked = true; });
        QTRY_VERIFY(ticked); // the GUI thread is free meanwhile
        QCOMPARE(fixture.shownText(), std::string("one\n"));
        release.set_value();
        fixture.settle();
        QCOMPARE(fixture.shownText(), std::string("one\ntwo\n"));
        QVERIFY(fixture.status->text(0).startsWith(QStringLiteral("File Loaded ")));
    }

    void switchesDriveTheWatcher()
    {
        FollowerFixture fixture;
        QTemporaryDir dir;
        fixture.open(writeFile(dir.filePath("switched.log"), "one\n"));
        fixture.settle();
        fixture.slider->setValue(5);
        QCOMPARE(fixture.tab->watchTimer()->interval(), 5000);
        fixture.autoRefreshButton->click();
        QVERIFY(!fixture.fileLog()->watchState().AutoRefresh);
        QVERIFY(!fixture.autoRefreshBox->isChecked());
        fixture.autoRefreshBox->click();
        QVERIFY(fixture.fileLog()->watchState().AutoRefresh);
        fixture.gotoBottomButton->click();
        QVERIFY(fixture.scrollToBottomBox->isChecked());
    }
};

QTEST_MAIN(FollowerTest)
#include "tst_follower.moc"
