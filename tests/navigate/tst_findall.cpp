// Find in all open logs: the list of every line that holds the text, stopping it, and the
// finder moving from one view to another.

#include "document/logdocument.h"
#include "navigate/findall.h"
#include "navigate/finddialog.h"
#include "navigate/finder.h"
#include "support/syntheticlines.h"
#include "view/logview.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

using tlg::Encoding;
using tlg::FindAllLog;
using tlg::FindAllResults;
using tlg::FindDialog;
using tlg::Finder;
using tlg::FindQuery;
using tlg::LineCount;
using tlg::LineNumber;
using tlg::LogDocument;
using tlg::LogView;
using tlg::testing::SyntheticLines;

namespace {

// Generous for a slow, busy machine.
constexpr int kWaitMs = 30000;

// Three logs of three encodings and line ends.
std::vector<FindAllLog> threeLogs()
{
    return {
        {11, QStringLiteral("a.log"),
         LogDocument::fromBytes("alpha Beta\nbetamax \xC3\xBC\nnothing here\nthe beta end\n"), Encoding::Utf8},
        {22, QStringLiteral("b.log"), LogDocument::fromBytes("caf\xE9 BETA\r\nalphabet\r\nbeta"), Encoding::Windows1252},
        // A 16-bit log, held as UTF-8, its lines ended by a lone CR.
        {33, QStringLiteral("c.log"), LogDocument::fromBytes("zeta\r\xC3\x9Cn\xC3\xAF" "code beta\tx\r"),
         Encoding::Utf16Le},
    };
}

// The rows as "log:line:text".
QStringList rows(FindAllResults& results)
{
    const QAbstractItemModel* model = results.findChild<QTreeView*>(QStringLiteral("FindAllList"))->model();
    QStringList listed;
    for (int row = 0; row < model->rowCount(); ++row)
        listed << QStringLiteral("%1:%2:%3")
                      .arg(model->index(row, 0).data().toString(), model->index(row, 1).data().toString(),
                           model->index(row, 2).data().toString());
    return listed;
}

std::vector<FindAllLog> bigLog(std::int64_t lines)
{
    return {{7, QStringLiteral("big.log"), std::make_shared<SyntheticLines>(LineCount(lines)), Encoding::Utf8}};
}

} // namespace

class FindAllTest : public QObject {
    Q_OBJECT

private slots:
    void everyLogIsListedWithItsMatchingLines()
    {
        FindAllResults results;
        results.resize(600, 300);
        results.show();
        QVERIFY(QTest::qWaitForWindowExposed(&results));
        auto search = [&](FindQuery query) {
            results.start(query, threeLogs());
            if (!QTest::qWaitFor([&] { return !results.searching(); }, kWaitMs))
                return QStringList({QStringLiteral("still searching")});
            return rows(results);
        };

        QCOMPARE(search({QStringLiteral("beta")}),
                 QStringList({QStringLiteral("a.log:1:alpha Beta"), QStringLiteral("a.log:2:betamax \u00FC"),
                              QStringLiteral("a.log:4:the beta end"), QStringLiteral("b.log:1:caf\u00E9 BETA"),
                              QStringLiteral("b.log:3:beta"), QStringLiteral("c.log:2:\u00DCn\u00EFcode beta x")}));
        QCOMPARE(results.summary(), QStringLiteral("6 matches in 3 logs"));

        QCOMPARE(search({QStringLiteral("Beta"), true}), QStringList({QStringLiteral("a.log:1:alpha Beta")}));
        QCOMPARE(results.summary(), QStringLiteral("1 match in 1 log"));

        // An accented letter in each log's own encoding, and a whole word.
        QCOMPARE(search({QStringLiteral("CAF\u00C9")}), QStringList({QStringLiteral("b.log:1:caf\u00E9 BETA")}));
        QCOMPARE(search({QStringLiteral("\u00DCN\u00EF")}),
                 QStringList({QStringLiteral("c.log:2:\u00DCn\u00EFcode beta x")}));
        QCOMPARE(search({QStringLiteral("beta"), false, true}).size(), qsizetype(5));
        QVERIFY(!rows(results).contains(QStringLiteral("a.log:2:betamax \u00FC")));

        // An expression works within a line, whatever ends it; "." is one byte of Windows-1252.
        QCOMPARE(search({QStringLiteral("^(alpha|caf.) beta$"), false, false, true}),
                 QStringList({QStringLiteral("a.log:1:alpha Beta"), QStringLiteral("b.log:1:caf\u00E9 BETA")}));
        QCOMPARE(results.summary(), QStringLiteral("2 matches in 2 logs"));

        QCOMPARE(search({QStringLiteral("nowhere")}), QStringList());
        QCOMPARE(results.summary(), QStringLiteral("Not found: \"nowhere\""));
        QCOMPARE(search({QStringLiteral("(beta"), false, false, true}), QStringList());
        QVERIFY(results.summary().startsWith(QStringLiteral("Invalid pattern: ")));

        // A row asks for its log and line, from 0: by Enter and by a click.
        search({QStringLiteral("beta")});
        QSignalSpy activated(&results, &FindAllResults::resultActivated);
        auto* list = results.findChild<QTreeView*>(QStringLiteral("FindAllList"));
        list->setFocus();
        list->setCurrentIndex(list->model()->index(4, 2));
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(!activated.isEmpty());
        QCOMPARE(activated.last().at(0).value<quint64>(), quint64(22));
        QCOMPARE(activated.last().at(1).value<LineNumber>(), LineNumber(2));
        const QRect row = list->visualRect(list->model()->index(5, 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(activated.last().at(0).value<quint64>(), quint64(33));
        QCOMPARE(activated.last().at(1).value<LineNumber>(), LineNumber(1));
    }

    void aSearchStopsAndTheListIsBounded()
    {
        FindAllResults results;
        results.show();
        auto* progress = results.findChild<QProgressBar*>(QStringLiteral("FindAllProgress"));

        // A new search replaces one under way: nothing of the first is listed.
        results.start({QStringLiteral("nowhere")}, bigLog(std::int64_t(1) << 32));
        QVERIFY(results.searching());
        results.start({QStringLiteral("beta")}, threeLogs());
        QTRY_VERIFY_WITH_TIMEOUT(!results.searching(), kWaitMs);
        QCOMPARE(results.summary(), QStringLiteral("6 matches in 3 logs"));

        // The Stop button, once the progress shows; what was found stays.
        results.start({QStringLiteral("00000000000000")}, bigLog(std::int64_t(1) << 32));
        QTRY_VERIFY_WITH_TIMEOUT(progress->isVisible() && results.resultCount() == 10, kWaitMs);
        results.findChild<QPushButton*>(QStringLiteral("FindAllStop"))->click();
        QVERIFY(!results.searching());
        QVERIFY(!progress->isVisible());
        QCOMPARE(results.summary(), QStringLiteral("Stopped: 10 matches in 1 log"));
        QCOMPARE(rows(results).constLast(), QStringLiteral("big.log:10:000000000000009"));

        // Esc in the list.
        results.start({QStringLiteral("nowhere")}, bigLog(std::int64_t(1) << 32));
        QTest::keyClick(results.findChild<QTreeView*>(QStringLiteral("FindAllList")), Qt::Key_Escape);
        QVERIFY(!results.searching());
        QCOMPARE(results.summary(), QStringLiteral("Stopped: 0 matches in 0 logs"));

        // A search under way goes with its list, which does not wait for it: the search stops
        // at its next chunk and lets go of the log.
        std::vector<FindAllLog> leavingLogs = bigLog(std::int64_t(1) << 32);
        const tlg::LinesPtr leavingText = leavingLogs.front().lines;
        {
            FindAllResults leaving;
            leaving.start({QStringLiteral("nowhere")}, std::move(leavingLogs));
            QVERIFY(leaving.searching());
        }
        QTRY_COMPARE_WITH_TIMEOUT(leavingText.use_count(), 1, kWaitMs);

        // Every line matches: the list keeps its bound and says so.
        results.start({QStringLiteral("0")}, bigLog(FindAllResults::kMaxResults + 5000));
        QTRY_VERIFY_WITH_TIMEOUT(!results.searching(), kWaitMs);
        QCOMPARE(results.resultCount(), FindAllResults::kMaxResults);
        QCOMPARE(results.summary(), QStringLiteral("100000 matches in 1 log (more not listed)"));
    }

    void theFinderMovesToAnotherViewAndHandsOverFindInAllLogs()
    {
        QWidget window;
        auto* first = new LogView(&window);
        auto* second = new LogView(&window);
        first->setDocument(LogDocument::fromBytes("one beta\nbeta two\n"));
        second->setDocument(LogDocument::fromBytes("xx beta\n"));
        auto* finder = new Finder(first, &window);
        FindDialog* dialog = finder->findDialog();
        dialog->setFindText(QStringLiteral("beta"));
        finder->findNext();
        QCOMPARE(first->selectionStart(), 4);
        QCOMPARE(first->markedText(), std::string("beta"));

        // Each view keeps what was last found in it.
        finder->setView(second);
        QCOMPARE(first->markedText(), std::string("beta"));
        finder->findNext();
        QCOMPARE(second->selectionStart(), 3);
        QCOMPARE(first->selectionStart(), 4);
        QCOMPARE(second->markedText(), std::string("beta"));

        // A search under way in a large log stops when the view changes, and is never shown.
        auto* large = new LogView(&window);
        const auto largeText = std::make_shared<SyntheticLines>(LineCount(4 << 20));
        large->setDocument(largeText);
        finder->setView(large);
        QCOMPARE(second->markedText(), std::string("beta"));
        dialog->setFindText(QStringLiteral("000000000000005"));
        const long held = largeText.use_count(); // by the test and the view
        finder->findNext();
        QVERIFY(finder->searching());
        finder->setView(first);
        QVERIFY(!finder->searching());
        // The search lets go of the text once its result has come back and been dropped.
        QTRY_COMPARE_WITH_TIMEOUT(largeText.use_count(), held, kWaitMs);
        QCOMPARE(large->selectionLength(), 0);
        dialog->setFindText(QStringLiteral("beta"));
        finder->findNext();
        QCOMPARE(first->selectionStart(), 9);

        // "All open logs": the dialog's Find Next asks for the list and leaves the view alone;
        // F3 still finds in the view.
        auto* all = dialog->findChild<QCheckBox*>(QStringLiteral("FindAllLogs"));
        QVERIFY(!all->isChecked());
        all->setChecked(true);
        QVERIFY(dialog->allLogs());
        QSignalSpy requested(finder, &Finder::findAllRequested);
        finder->showFindDialog();
        first->setSelection(0, 0);
        dialog->findChild<QPushButton*>(QStringLiteral("FindNext"))->click();
        QTest::keyClick(dialog->findChild<QLineEdit*>(QStringLiteral("FindText")), Qt::Key_Return);
        QCOMPARE(requested.count(), 2);
        QCOMPARE(first->selectionStart(), 0);
        QCOMPARE(first->selectionLength(), 0);
        QCOMPARE(dialog->query().text, QStringLiteral("beta"));
        finder->findNext();
        QCOMPARE(first->selectionStart(), 4);
        QCOMPARE(requested.count(), 2);
    }
};

QTEST_MAIN(FindAllTest)
#include "tst_findall.moc"
