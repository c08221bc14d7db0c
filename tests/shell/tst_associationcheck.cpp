// The association question at start-up, answered by the test.

#include "core/errors.h"
#include "core/messages.h"
#include "shell/associate.h"
#include "shell/associationcheck.h"
#include "support/userhome.h"

#include <QtTest>

#include <memory>
#include <unistd.h>

using tlg::MessageRequest;
using tlg::testing::UserHome;

class AssociationCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<UserHome>();
        m_exe = m_home->write("opt/tlg/tlgview", "#!/bin/sh\n", 0755);
        m_asked.clear();
        tlg::setMessageHook([this](const MessageRequest& request) {
            m_asked.append(request);
            return m_answer;
        });
    }

    void cleanup()
    {
        tlg::setMessageHook({});
        m_home.reset();
    }

    void cancelStoresNothingAndTheQuestionReturns()
    {
        m_answer = QMessageBox::Cancel;
        for (int start = 0; start < 2; ++start)
            tlg::OfferLogAssociation(nullptr, m_exe);
        QCOMPARE(m_asked.size(), qsizetype(2));
        const MessageRequest& question = m_asked.first();
        // What OK changes, when nothing opens .log files yet.
        QCOMPARE(question.text, QStringLiteral("Associate .log files with Log viewer ?\n\n.log files will open in TlgView."));
        QCOMPARE(question.caption, QStringLiteral("Associate ?"));
        QVERIFY(question.buttons == (QMessageBox::Ok | QMessageBox::Cancel));
        QVERIFY(question.icon == QMessageBox::NoIcon);
        QVERIFY(::access((m_home->data() + "tlgview").c_str(), F_OK) != 0);
        QVERIFY(::access((m_home->config() + "mimeapps.list").c_str(), F_OK) != 0);
    }

    void okAssociatesAndTheQuestionStops()
    {
        m_answer = QMessageBox::Ok;
        tlg::OfferLogAssociation(nullptr, m_exe);
        QCOMPARE(m_asked.size(), qsizetype(1));
        QCOMPARE(QString::fromStdString(tlg::GetFileTypeOpener("log")),
                 QString::fromStdString(m_exe));
        tlg::OfferLogAssociation(nullptr, m_exe);
        QCOMPARE(m_asked.size(), qsizetype(1));

        // The same program reached through another spelling of its path is asked again.
        std::string otherCase = m_exe;
        otherCase.replace(otherCase.rfind("tlgview"), 7, "TlgView");
        m_answer = QMessageBox::Cancel;
        tlg::OfferLogAssociation(nullptr, otherCase);
        QCOMPARE(m_asked.size(), qsizetype(2));
        // The program that opens them now is named: it stays among the others.
        QCOMPARE(m_asked.last().text, QStringLiteral("Associate .log files with Log viewer ?\n\n.log files will open in "
                                                     "TlgView; %1 stays in Open With.").arg(QString::fromStdString(m_exe)));
    }

    void aRegistrationFailureReachesTheCaller()
    {
        m_home->write("home/.local/share/tlgview", "in the way of the store's folder");
        m_answer = QMessageBox::Ok;
        QString text;
        try {
            tlg::OfferLogAssociation(nullptr, m_exe);
        } catch (const tlg::Failure& failure) {
            text = QString::fromLocal8Bit(failure.what());
        }
        QCOMPARE(text, QStringLiteral("Failed to set data for ''"));
        QCOMPARE(m_asked.size(), qsizetype(1));
    }

    void aStoreThatCannotBeUsedIsToldOnceAndLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("store");
        QTest::addColumn<QString>("why");
        QByteArray deep = "[a";
        for (int i = 1; i < 600000; ++i)
            deep += "\\a";
        QTest::newRow("600,000 levels") << deep + "]\n" << QStringLiteral("nests keys deeper than 512 levels");
        QTest::newRow("garbage") << QByteArray("[.log]\nnot a value line\n") << QStringLiteral("line 2 is not in the store's format");
    }

    void aStoreThatCannotBeUsedIsToldOnceAndLeftAlone()
    {
        QFETCH(QByteArray, store);
        QFETCH(QString, why);
        const std::string path = m_home->write("home/.local/share/tlgview/classes.reg", store.toStdString());
        m_answer = QMessageBox::Ok;
        tlg::OfferLogAssociation(nullptr, m_exe);
        QCOMPARE(m_asked.size(), qsizetype(1));
        QVERIFY2(m_asked.first().text.contains(QString::fromStdString(path)), qPrintable(m_asked.first().text));
        QVERIFY2(m_asked.first().text.contains(why), qPrintable(m_asked.first().text));
        QVERIFY(m_asked.first().icon == QMessageBox::Critical);
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), store);
        QVERIFY(::access((m_home->data() + "applications/tlgview.desktop").c_str(), F_OK) != 0);
    }

private:
    std::unique_ptr<UserHome> m_home;
    std::string m_exe;
    QList<MessageRequest> m_asked;
    QMessageBox::StandardButton m_answer = QMessageBox::Cancel;
};

QTEST_MAIN(AssociationCheckTest)
#include "tst_associationcheck.moc"
