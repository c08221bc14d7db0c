// The format file at start-up, the colouring of the shown log, and the format editor.

#include "banner/bannerframe.h"
#include "core/fileops.h"
#include "search/colourrules.h"
#include "format/formateditor.h"
#include "format/formatfile.h"
#include "view/logview.h"
#include "support/numberedlines.h"
#include "support/qtfiles.h"
#include "support/viewerfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include <random>

using tlg::FormatEditor;
using tlg::LogView;
using tlg::MainWindow;
using tlg::testing::appendFile;
using tlg::testing::readFile;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);
const QColor kNavy(0, 0, 128);

// The colour of the first byte of `word` in the shown view.
QColor colourOfWord(const ViewerFixture& viewer, const std::string& word)
{
    LogView* view = viewer.window->tab()->view();
    const std::size_t at = view->text().find(word);
    if (at == std::string::npos)
        qFatal("no %s in the view", word.c_str());
    return view->colourAt(static_cast<std::int64_t>(at));
}

QTreeWidgetItem* treeItem(const ViewerFixture& viewer, const QString& text)
{
    const auto found = viewer.find<QTreeWidget>("TreeView1")->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty())
        qFatal("no node %s", qPrintable(text));
    return found.first();
}

// Clicks a node of the tree as a person does.
void clickNode(const ViewerFixture& viewer, const QString& text)
{
    auto* tree = viewer.find<QTreeWidget>("TreeView1");
    QTreeWidgetItem* item = treeItem(viewer, text);
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

} // namespace

class ColouringTest : public QObject {
    Q_OBJECT

private slots:
    void theFirstStartWritesAndLoadsTheDefaults()
    {
        ViewerFixture viewer;
        viewer.start();
        QCOMPARE(readFile(viewer.home() + "TlgFormat.ini"), QByteArray::fromStdString(tlg::DefaultFormatText()));
        auto* editor = viewer.find<FormatEditor>("TForm2");
        QCOMPARE(editor->lines().size(), size_t(34));
        auto* tree = viewer.find<QTreeWidget>("TreeView1");
        QCOMPARE(tree->topLevelItemCount(), 4);
        QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Default"));
        QCOMPARE(tree->currentItem()->parent()->text(0), QStringLiteral("Standard"));
        QVERIFY(tree->currentItem()->parent()->isExpanded());
        QCOMPARE(editor->errorLabels()[0], std::string("Fatal"));
        QCOMPARE(editor->errorLabels()[3], std::string("Failed"));
        QCOMPARE(editor->infoLabels()[0], std::string("Found S"));
        QCOMPARE(editor->infoLabels()[4], std::string("txt"));
        QCOMPARE(editor->currentProfileName(), std::string("Default"));
        QCOMPARE(editor->currentProfileLine(), 1);
        QVERIFY(viewer.messages.isEmpty());
    }

    void aLogIsColouredAtOnceAfterEachLoad()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "c.log",
                                      "Start of run\r\n2026 Internal Error: disk\r\nplain words\r\n");
        MainWindow* window = viewer.start({log});
        QCOMPARE(colourOfWord(viewer, "Start"), kBlue);
        QCOMPARE(colourOfWord(viewer, "of"), kBlack);
        QCOMPARE(colourOfWord(viewer, "plain"), kBlack); // never navy: coloured before it shows
        QCOMPARE(colourOfWord(viewer, "Internal"), kRed);
        QCOMPARE(colourOfWord(viewer, "Error:"), kRed);
        QCOMPARE(colourOfWord(viewer, "disk"), kBlack);
        QVERIFY(viewer.status(1).startsWith(QStringLiteral("Format ")));
        QCOMPARE(window->tab()->view()->backgroundColour(), QColor(Qt::white));
        // The other view holds the same coloured text, ready for the next swap.
        QCOMPARE(window->tab()->view()->colourAt(0), kBlue);

        // The gates act at once on the text in sight, and hold for the next pass.
        viewer.find<QToolButton>("ToolButton1")->click(); // "Show Errors" up
        QCOMPARE(colourOfWord(viewer, "Internal"), kBlack);
        QCOMPARE(colourOfWord(viewer, "Start"), kBlue);
        appendFile(log, "Failed again\r\n");
        viewer.tick();
        QCOMPARE(colourOfWord(viewer, "Failed"), kBlack);
        QCOMPARE(colourOfWord(viewer, "Internal"), kBlack);
        viewer.find<QToolButton>("ToolButton2")->click(); // "Show warnings" up
        QCOMPARE(colourOfWord(viewer, "Start"), kBlack);
        appendFile(log, "more\r\n");
        viewer.tick();
        QCOMPARE(colourOfWord(viewer, "Start"), kBlack);
        QCOMPARE(colourOfWord(viewer, "more"), kBlack);

        // Colouring off greys the gates, leaves them up and shows plain text at once; on again
        // sets both down and colours at once.
        auto* colour = viewer.find<QCheckBox>("CheckBox6");
        viewer.find<QToolButton>("ToolButton1")->click(); // "Show Errors" down again
        QCOMPARE(colourOfWord(viewer, "Internal"), kRed);
        colour->click();
        QVERIFY(!viewer.find<QToolButton>("ToolButton1")->isEnabled());
        QCOMPARE(colourOfWord(viewer, "Internal"), kBlack);
        QVERIFY(viewer.find<QToolButton>("ToolButton1")->isChecked()); // left as it was
        appendFile(log, "error while off\r\n");
        viewer.tick();
        QCOMPARE(colourOfWord(viewer, "error"), kBlack); // the watcher shows plain text
        colour->click();
        QVERIFY(viewer.find<QToolButton>("ToolButton1")->isEnabled());
        QVERIFY(viewer.find<QToolButton>("ToolButton1")->isChecked());
        QVERIFY(viewer.find<QToolButton>("ToolButton2")->isChecked());
        QCOMPARE(colourOfWord(viewer, "error"), kRed);
        QCOMPARE(colourOfWord(viewer, "Start"), kBlue);
    }

    void theViewColoursEachByteAsTheWholeTextPass()
    {
        ViewerFixture viewer;
        std::mt19937 random(5);
        const char* words[] = {"error", "Start", "txt", "Found S", "x", "***", "Fatal",
                               "\xE9t\xE9", "\t", " ", "\r\n", "\n", "\r", "Internal"};
        std::string text;
        for (int i = 0; i < 3000; ++i)
            text += words[random() % std::size(words)];
        const QString log = writeFile(viewer.home() + "gen.log", QByteArray::fromStdString(text));
        viewer.start({log});
        viewer.tick(2);
        auto* editor = viewer.find<FormatEditor>("TForm2");
        tlg::ColourRules rules;
        rules.infoLabels = editor->infoLabels();
        rules.errorLabels = editor->errorLabels();
        const std::vector<tlg::LabelColour> expected = tlg::ColourWholeText(text, rules);
        LogView* view = viewer.window->tab()->view();
        QCOMPARE(view->text(), text);
        for (std::size_t i = 0; i < text.size(); ++i) {
            const QColor want = expected[i] == tlg::LabelColour::Error  ? kRed
                                : expected[i] == tlg::LabelColour::Info ? kBlue
                                                                        : kBlack;
            QCOMPARE(view->colourAt(static_cast<std::int64_t>(i)), want);
        }
    }

    void theReadersLineStaysInPlaceAcrossTheSwap()
    {
        ViewerFixture viewer;
        const QByteArray lines = QByteArray::fromStdString(tlg::testing::numberedLines(500, "\n", " error"));
        const QString log = writeFile(viewer.home() + "long.log", lines);
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        LogView* view = window->tab()->view();
        // The caret on the top line of the view: that line stays on top.
        view->setFirstVisibleLine(200);
        view->setSelection(view->lineIndex(200), 0);
        appendFile(log, "new error\n");
        viewer.tick(2);
        QCOMPARE(window->tab()->view()->caretLine(), 200);
        QCOMPARE(window->tab()->view()->firstVisibleLine(), 200);
        // The caret further down: the reader's view does not move either.
        window->tab()->view()->setSelection(window->tab()->view()->lineIndex(205), 0);
        appendFile(log, "another error\n");
        viewer.tick(2);
        QCOMPARE(window->tab()->view()->caretLine(), 205);
        QCOMPARE(window->tab()->view()->firstVisibleLine(), 200);
    }

    void theEditorPicksSavesAndAppliesAProfile()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "boot.log", "loading driver New Fatal\r\nquiet line\r\n");
        MainWindow* window = viewer.start({log});
        viewer.tick(2);
        QCOMPARE(colourOfWord(viewer, "loading"), kBlack);

        viewer.find<QAction>("ShowTextFormat1")->trigger();
        auto* editor = viewer.find<FormatEditor>("TForm2");
        QVERIFY(QTest::qWaitForWindowExposed(editor));
        QCOMPARE(editor->x(), window->frameGeometry().left() + 32);
        QVERIFY(!viewer.find<QToolButton>("ToolButton24")->isChecked());

        clickNode(viewer, QStringLiteral("BootLog"));
        QCOMPARE(editor->currentProfileName(), std::string("BootLog"));
        QCOMPARE(editor->currentProfileLine(), 7);
        QCOMPARE(editor->infoLabels()[3], std::string("loading"));

        // Typed into a cell and saved while the cell is still being edited.
        QLineEdit* cell = viewer.find<QWidget>("StringGrid2")->findChild<QLineEdit*>(QStringLiteral("Cell4"));
        cell->setFocus();
        QTest::keyClicks(cell, QStringLiteral("quiet"));
        viewer.find<QPushButton>("Button4")->click();
        const std::vector<std::string> saved =
            tlg::SplitLines(readFile(viewer.home() + "TlgFormat.ini").toStdString());
        QCOMPARE(saved.size(), size_t(34));
        QCOMPARE(saved[9], std::string("New\xA4Start\xA4info\xA4loading\xA4quiet\xA4\xA4\xA4\xA4\xA4\xA4"));
        QCOMPARE(saved[8], std::string("Fatal\xA4Internal\xA4" "error\xA4" "Failed\xA4\xA4\xA4\xA4\xA4\xA4\xA4"));
        QCOMPARE(saved[2], tlg::SplitLines(tlg::DefaultFormatText())[2]); // others untouched

        // Apply Now: the log read again and coloured at once with the labels as they are.
        viewer.find<QPushButton>("Button1")->click();
        viewer.settle();
        QCOMPARE(tlg::testing::WatchOf(window).StoredSize, tlg::FileSizeOf(log.toStdString()));
        QVERIFY(viewer.status(1).startsWith(QStringLiteral("Format ")));
        QCOMPARE(colourOfWord(viewer, "loading"), kBlue);
        QCOMPARE(colourOfWord(viewer, "quiet"), kBlue);
        QCOMPARE(colourOfWord(viewer, "Fatal"), kRed);

        // A group node names no profile: the columns empty, and Save writes the file unchanged.
        clickNode(viewer, QStringLiteral("Mcafee"));
        QCOMPARE(editor->currentProfileName(), std::string());
        QCOMPARE(editor->errorLabels()[0], std::string());
        const QByteArray before = readFile(viewer.home() + "TlgFormat.ini");
        viewer.find<QPushButton>("Button4")->click();
        QCOMPARE(readFile(viewer.home() + "TlgFormat.ini"), before);

        // Close raises "Format Text"; the button shows and closes the window.
        auto* formatText = viewer.find<QToolButton>("ToolButton24");
        formatText->click();
        QVERIFY(editor->isVisible());
        viewer.find<QPushButton>("Button2")->click();
        QVERIFY(editor->isHidden());
        QVERIFY(!formatText->isChecked());
        QVERIFY(viewer.messages.isEmpty());
    }

    void aFormatFileThatCannotBeWrittenIsReportedAndKept()
    {
        ViewerFixture viewer;
        // An existing file in another letter case is the one read and written.
        writeFile(viewer.home() + "tlgformat.INI", "[G]\r\n[[Default]]\r\nbad\xA4\r\nnote\xA4\r\n");
        viewer.start();
        auto* editor = viewer.find<FormatEditor>("TForm2");
        QCOMPARE(editor->errorLabels()[0], std::string("bad"));
        QVERIFY(!QFile::exists(viewer.home() + "TlgFormat.ini"));

        // The file turns into a folder: Save says so and leaves it as it is.
        QVERIFY(QFile::remove(viewer.home() + "tlgformat.INI"));
        QVERIFY(QDir(viewer.home()).mkdir(QStringLiteral("TlgFormat.ini")));
        viewer.find<QPushButton>("Button4")->click();
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, "Cannot create file " + viewer.home() + "TlgFormat.ini");
        QVERIFY(QFileInfo(viewer.home() + "TlgFormat.ini").isDir());
    }

    void aFolderInPlaceOfTheFormatFileIsSaidOnceAndTheBuiltInProfilesStandIn()
    {
        ViewerFixture viewer;
        QVERIFY(QDir(viewer.home()).mkdir(QStringLiteral("TlgFormat.ini")));
        MainWindow* window = viewer.start();
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, "Cannot create file " + viewer.home() + "TlgFormat.ini");
        auto* editor = viewer.find<FormatEditor>("TForm2");
        QCOMPARE(editor->lines(), tlg::SplitLines(tlg::DefaultFormatText()));
        QVERIFY(viewer.find<QTreeWidget>("TreeView1")->topLevelItemCount() > 0);
        QVERIFY(window->isVisible());
    }
    void saveWritesOnlyTheRowsAProfileHas()
    {
        ViewerFixture viewer;
        const std::string sep(9, '\xA4');
        const auto row = [&sep](const std::string& first) { return first + "\xA4" + sep; };
        const std::vector<std::string> lines = {"[[First]]", row("f1"), row("f2"), "[G]", "[[Short]]", row("onlyerr"),
                                                "[[Other]]", row("oe"), row("oi"), "[[Bare]]", "[[Default]]",
                                                row("e"), row("i")};
        writeFile(viewer.home() + "TlgFormat.ini", QByteArray::fromStdString(tlg::JoinLinesCrLf(lines)));
        viewer.start();
        auto* editor = viewer.find<FormatEditor>("TForm2");
        auto* errors = viewer.find<tlg::LabelColumn>("StringGrid1");
        auto* infos = viewer.find<tlg::LabelColumn>("StringGrid2");
        const auto saved = [&viewer] { return tlg::SplitLines(readFile(viewer.home() + "TlgFormat.ini").toStdString()); };

        // One row only: the missing info row is empty and is put in after it; [[Other]] stays.
        clickNode(viewer, QStringLiteral("Short"));
        QCOMPARE(errors->cell(0), std::string("onlyerr"));
        QCOMPARE(infos->cell(0), std::string());
        infos->setCell(0, "added");
        viewer.find<QPushButton>("Button4")->click();
        std::vector<std::string> expected = lines;
        expected.insert(expected.begin() + 6, row("added"));
        QCOMPARE(saved(), expected);

        // No rows at all: both go in right after the header, before [[Default]].
        clickNode(viewer, QStringLiteral("Bare"));
        errors->setCell(1, "be");
        viewer.find<QPushButton>("Button4")->click();
        expected.insert(expected.begin() + 11, {"\xA4" "be" "\xA4" + std::string(8, '\xA4'), row("")});
        QCOMPARE(saved(), expected);

        // A profile on the file's first line is saved like any other.
        clickNode(viewer, QStringLiteral("First"));
        QCOMPARE(editor->currentProfileLine(), 0);
        errors->setCell(0, "changed");
        viewer.find<QPushButton>("Button4")->click();
        expected[1] = row("changed");
        QCOMPARE(saved(), expected);
        QVERIFY(viewer.messages.isEmpty());

        // A label the file cannot keep (a character outside Windows-1252, or its separator) is
        // named, and nothing is saved.
        QLineEdit* cell = errors->editor(2);
        for (const auto& [typed, named] : {std::pair{QStringLiteral("\u041E\u0448\u0438\u0431\u043A\u0430"), QStringLiteral("\"\u041E\"")},
                                           std::pair{QStringLiteral("a\u00A4b"), QStringLiteral("\"\u00A4\"")}}) {
            cell->clear();
            QTest::sendKeyEvent(QTest::Click, cell, Qt::Key_unknown, typed, Qt::NoModifier); // typed, not set

            viewer.find<QPushButton>("Button4")->click();
            QVERIFY2(viewer.messages.last().text.startsWith(QStringLiteral("The character ") + named), qPrintable(viewer.messages.last().text));
            QCOMPARE(cell->text(), typed);
            QCOMPARE(saved(), expected);
        }
    }

    void aFormatFileThatIsNoRegularFileGivesTheDefaultsAndIsKept()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "boot.log", "an error here\r\n");
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), viewer.home() + "TlgFormat.ini"));
        viewer.start({log});
        QCOMPARE(viewer.messages.size(), 1);
        QCOMPARE(viewer.messages[0].text, "Settings file " + viewer.home() +
                                              "TlgFormat.ini is not read: it is not a regular file");
        auto* editor = viewer.find<FormatEditor>("TForm2");
        QCOMPARE(editor->lines(), tlg::SplitLines(tlg::DefaultFormatText()));
        QCOMPARE(editor->errorLabels()[2], std::string("error"));
        // The banner started after it: the rest of start-up ran.
        QVERIFY(viewer.window->findChild<tlg::BannerFrame*>()->timer()->isActive());
        viewer.tick(2);
        QCOMPARE(colourOfWord(viewer, "error"), kRed);

        // Save does not replace what it could not read.
        viewer.find<QPushButton>("Button4")->click();
        QCOMPARE(viewer.messages.size(), 2);
        QVERIFY(viewer.messages[1].text.endsWith(QStringLiteral("it is not overwritten")));
        QCOMPARE(QFileInfo(viewer.home() + "TlgFormat.ini").symLinkTarget(), QStringLiteral("/dev/zero"));
    }
};

QTEST_MAIN(ColouringTest)
#include "tst_colouring.moc"
