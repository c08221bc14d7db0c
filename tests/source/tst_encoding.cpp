// The encoding of the open log: detected at each open and manual reload, kept by the
// watcher, chosen in the Encoding menu, shown in the status bar, and used by find.

#include "view/logview.h"
#include "navigate/finddialog.h"
#include "support/qtfiles.h"
#include "support/numberedlines.h"
#include "support/viewerfixture.h"

#include <QAction>
#include <QToolButton>

using tlg::Encoding;
using tlg::FindDialog;
using tlg::MainWindow;
using tlg::UnicodeKind;
using tlg::testing::appendFile;
using tlg::testing::ViewerFixture;
using tlg::testing::writeFile;

namespace {

QByteArray utf16(const QString& text, bool bigEndian, bool mark)
{
    QByteArray bytes;
    const QString all = mark ? QStringLiteral(u"\uFEFF") + text : text;
    for (const QChar c : all) {
        const char high = static_cast<char>(c.unicode() >> 8);
        const char low = static_cast<char>(c.unicode() & 0xFF);
        bytes.append(bigEndian ? high : low);
        bytes.append(bigEndian ? low : high);
    }
    return bytes;
}

} // namespace

class EncodingTest : public QObject {
    Q_OBJECT

private slots:
    void sixteenBitLogsAreDecodedNotStripped()
    {
        // 服 is 0D 67 in UTF-16LE and U+0A0D holds 0A: neither may break the line; the face
        // lies outside the basic plane.
        const QString first = QStringLiteral(u"\u670D\u52A1 \u0A0D start \U0001F600");
        for (const bool bigEndian : {false, true}) {
            for (const bool mark : {true, false}) {
                ViewerFixture viewer;
                const QString log = writeFile(viewer.home() + "wide.log",
                                              utf16(first + "\r\nerror here\r\n", bigEndian, mark));
                MainWindow* window = viewer.start({log});
                const QString name = bigEndian ? QStringLiteral("UTF-16BE") : QStringLiteral("UTF-16LE");
                QCOMPARE(window->log()->unicodeKind(), UnicodeKind::Utf16);
                QVERIFY(viewer.find<QToolButton>("ToolButton16")->isChecked());
                QVERIFY(viewer.status(1).endsWith(name));
                tlg::LogView* view = window->tab()->view();
                QCOMPARE(view->lineCount(), 2);
                QCOMPARE(view->lineText(0), first); // no mark, every character itself
                QCOMPARE(view->lineText(1), QStringLiteral("error here"));

                // The watcher's reloads keep the encoding.
                viewer.tick(2);
                appendFile(log, utf16(QStringLiteral(u"\u670D more\r\n"), bigEndian, false));
                viewer.tick(3);
                view = window->tab()->view();
                QCOMPARE(view->lineCount(), 3);
                QCOMPARE(view->lineText(2), QStringLiteral(u"\u670D more"));
            }
        }
    }

    void utf8LogsShowCharactersAndStrayNulsAreDropped()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "utf8.log",
                                      "Caf\xC3\xA9 cr\xC3\xA8me \xE2\x80\x94 na\xC3\xAFve\n\xD0\x9F\xD1\x80\xD0\xB8\n");
        MainWindow* window = viewer.start({log});
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("UTF-8")));
        QCOMPARE(window->log()->encoding(), Encoding::Utf8);
        QCOMPARE(window->tab()->view()->lineText(0), QStringLiteral(u"Caf\u00E9 cr\u00E8me \u2014 na\u00EFve"));
        QCOMPARE(window->tab()->view()->lineText(1), QStringLiteral(u"\u041F\u0440\u0438"));

        // Plain ASCII for the first 64 KiB is UTF-8: a later "ä" shows as itself.
        QByteArray late = QByteArray::fromStdString(tlg::testing::numberedLines(8000));
        QVERIFY(late.size() > 64 * 1024);
        late += "sp\xC3\xA4te\n";
        window->tabs()->openDropped({QUrl::fromLocalFile(writeFile(viewer.home() + "late.log", late))});
        viewer.settle();
        QCOMPARE(window->tab()->view()->lineText(8000), QStringLiteral(u"sp\u00E4te"));

        // A stray NUL in a text log is no 16-bit text: it is dropped, as before.
        const QString nul = writeFile(viewer.home() + "nul.log", QByteArray("one\nst\0ray\nthree\n", 17));
        window->tabs()->openDropped({QUrl::fromLocalFile(nul)});
        viewer.settle();
        QCOMPARE(window->log()->unicodeKind(), UnicodeKind::NulBytes);
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("UTF-8"))); // plain ASCII is UTF-8
        viewer.tick(2); // a dropped log shows at the watcher's ticks
        QCOMPARE(viewer.shownText(), std::string("one\nstray\nthree\n"));

        // A Windows-1252 log shows as it always did.
        const QString old = writeFile(viewer.home() + "old.log", "caf\xE9 \x80 5\n");
        window->tabs()->openDropped({QUrl::fromLocalFile(old)});
        viewer.settle();
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("Windows-1252")));
        viewer.tick(2);
        QCOMPARE(window->tab()->view()->lineText(0), QStringLiteral(u"caf\u00E9 \u20AC 5"));
    }

    void theEncodingMenuHoldsUntilAutoIsChosen()
    {
        ViewerFixture viewer;
        const QByteArray utf8Text("caf\xC3\xA9\n");
        const QString log = writeFile(viewer.home() + "a.log", utf8Text);
        MainWindow* window = viewer.start({log});
        auto* automatic = viewer.find<QAction>("EncodingAuto1");
        QVERIFY(automatic->isChecked());
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("UTF-8")));

        // Windows-1252 reloads the open log at once...
        viewer.find<QAction>("EncodingWindows12521")->trigger();
        viewer.settle();
        QVERIFY(!automatic->isChecked());
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("Windows-1252")));
        QCOMPARE(window->tab()->view()->lineText(0), QStringLiteral(u"caf\u00C3\u00A9"));
        // ...and holds for the next open.
        const QString other = writeFile(viewer.home() + "b.log", utf8Text);
        window->tabs()->openDropped({QUrl::fromLocalFile(other)});
        viewer.settle();
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("Windows-1252")));
        QCOMPARE(window->log()->encoding(), Encoding::Windows1252);

        // ISO-8859-1 and UTF-16 can be forced too.
        viewer.find<QAction>("EncodingIso885911")->trigger();
        viewer.settle();
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("ISO-8859-1")));
        QCOMPARE(window->tab()->view()->encoding(), Encoding::Iso8859_1);
        viewer.find<QAction>("EncodingUtf16be1")->trigger();
        viewer.settle();
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("UTF-16BE")));
        QCOMPARE(window->tab()->view()->lineText(0), QStringLiteral(u"\u6361\u66C3\uA90A"));

        // Auto detects again.
        automatic->trigger();
        viewer.settle();
        QVERIFY(viewer.status(1).endsWith(QStringLiteral("UTF-8")));
        QCOMPARE(window->tab()->view()->lineText(0), QStringLiteral(u"caf\u00E9"));
    }

    void findMatchesInTheLogsEncoding()
    {
        ViewerFixture viewer;
        const QString log = writeFile(viewer.home() + "find.log",
                                      "x ? \xE6\x9C\x8D\xE5\x8A\xA1 CAF\xC3\x89 caf\xC3\xA9 \xC3\x8E\n");
        MainWindow* window = viewer.start({log});
        auto* dialog = viewer.find<FindDialog>("FindDialog1");
        tlg::LogView* view = window->tab()->view();

        dialog->setFindText(QStringLiteral(u"\u670D\u52A1"));
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 4);
        QCOMPARE(view->selectionLength(), 6);
        // Case is ignored for a to z only: "café" is not "CAFÉ".
        view->setSelection(0, 0);
        dialog->setFindText(QStringLiteral(u"caf\u00E9"));
        window->finder()->findNext();
        QCOMPARE(view->selectionStart(), 17);
        // Þ is not Î, though the Windows-1252 table would take their second bytes for one.
        view->setSelection(0, 0);
        dialog->setFindText(QStringLiteral(u"\u00DE"));
        window->finder()->findNext();
        QCOMPARE(view->selectionLength(), 0);

        // In a Windows-1252 log a character it lacks finds nothing, not a "?".
        const QString old = writeFile(viewer.home() + "old.log", "x ? y\n");
        window->tabs()->openDropped({QUrl::fromLocalFile(old)});
        viewer.settle();
        viewer.tick(2);
        view = window->tab()->view();
        dialog->setFindText(QStringLiteral(u"\u670D"));
        window->finder()->findNext();
        QCOMPARE(view->selectionLength(), 0);
        QCOMPARE(view->caretOffset(), 0);
    }
};

QTEST_MAIN(EncodingTest)
#include "tst_encoding.moc"
