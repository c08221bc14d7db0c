// The offer to open .log files, as the running viewer makes it at each start.

#include "shell/associate.h"
#include "support/viewerfixture.h"

#include <QAction>

using tlg::testing::ViewerFixture;

class ViewerAssociationTest : public QObject {
    Q_OBJECT

private slots:
    void theQuestionComesUntilItIsAccepted()
    {
        ViewerFixture viewer;
        viewer.start();
        QCOMPARE(viewer.associationQuestions.size(), 1);
        QVERIFY(viewer.associationQuestions[0].text.startsWith(QStringLiteral("Associate .log files with Log viewer ?\n\n"
                                                                               ".log files will open in TlgView")));
        QCOMPARE(viewer.associationQuestions[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(viewer.associationQuestions[0].checkBox, QStringLiteral("Do not ask again"));
        QVERIFY(!tlg::OpensLogFiles(tlg::ExecutablePath()));

        // Cancel wrote nothing: asked again. OK registers: asked no more.
        viewer.associationAnswer = QMessageBox::Ok;
        viewer.start();
        QCOMPARE(viewer.associationQuestions.size(), 2);
        QVERIFY(tlg::OpensLogFiles(tlg::ExecutablePath()));
        viewer.start();
        QCOMPARE(viewer.associationQuestions.size(), 2);

        // The Options menu removes and registers without asking.
        viewer.find<QAction>("Removeassociationlog1")->trigger();
        QVERIFY(!tlg::OpensLogFiles(tlg::ExecutablePath()));
        viewer.find<QAction>("AssociatewithLogfiles1")->trigger();
        QVERIFY(tlg::OpensLogFiles(tlg::ExecutablePath()));
        QCOMPARE(viewer.associationQuestions.size(), 2);
        QVERIFY(viewer.messages.isEmpty());
    }

    void doNotAskAgainIsKept()
    {
        ViewerFixture viewer;
        viewer.associationDoNotAsk = true;
        viewer.start();
        QCOMPARE(viewer.associationQuestions.size(), 1);
        QVERIFY(QFile::exists(viewer.home() + "NoAssociationQuestion.TLG"));
        viewer.associationDoNotAsk = false;
        viewer.start();
        QCOMPARE(viewer.associationQuestions.size(), 1);
        QVERIFY(!tlg::OpensLogFiles(tlg::ExecutablePath()));
        QVERIFY(viewer.messages.isEmpty());
    }
};

QTEST_MAIN(ViewerAssociationTest)
#include "tst_viewerassociation.moc"
