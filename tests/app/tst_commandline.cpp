// The command line: --help and --version answered as Qt's parser does, an unknown option
// refused, and every other argument a log to open.

#include "app/commandline.h"

#include <QCoreApplication>
#include <QProcess>
#include <QtTest>

using tlg::CommandLine;
using tlg::ReadCommandLine;

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("TlgView"));
        QCoreApplication::setApplicationVersion(QStringLiteral("0.9.0.76"));
    }

    void answersHelpAndVersion_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::newRow("--version") << QStringList{"tlgview", "--version"} << int(CommandLine::Version);
        QTest::newRow("-v") << QStringList{"tlgview", "-v"} << int(CommandLine::Version);
        QTest::newRow("--help") << QStringList{"tlgview", "--help"} << int(CommandLine::Help);
        QTest::newRow("-h") << QStringList{"tlgview", "-h"} << int(CommandLine::Help);
        QTest::newRow("--help-all") << QStringList{"tlgview", "--help-all"} << int(CommandLine::Help);
        QTest::newRow("after a log") << QStringList{"tlgview", "a.log", "--version"}
                                     << int(CommandLine::Version);
    }

    void answersHelpAndVersion()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        const CommandLine line = ReadCommandLine(arguments);
        QCOMPARE(int(line.action), action);
        QVERIFY(line.logs.isEmpty());
        if (action == CommandLine::Version) {
            QCOMPARE(line.text, QStringLiteral("TlgView 0.9.0.76\n"));
        } else {
            QVERIFY2(line.text.startsWith(QStringLiteral("Usage: ")), qPrintable(line.text));
            for (const char* word : {"--help", "--version", "--new-window", "log"})
                QVERIFY2(line.text.contains(QLatin1String(word)), word);
        }
    }

    void anyOtherArgumentIsALog_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("logs");
        QTest::addColumn<bool>("newWindow");
        QTest::newRow("none") << QStringList{"tlgview"} << QStringList{} << false;
        // Standard input cannot be handed to the viewer already running: a viewer of its own.
        QTest::newRow("standard input") << QStringList{"tlgview", "-"} << QStringList{"-"} << true;
        QTest::newRow("standard input and a log") << QStringList{"tlgview", "a.log", "-"} << QStringList{"a.log", "-"}
                                                  << true;
        QTest::newRow("standard input after --") << QStringList{"tlgview", "--", "-"} << QStringList{"-"} << true;
        QTest::newRow("a log") << QStringList{"tlgview", "/var/log/syslog"} << QStringList{"/var/log/syslog"} << false;
        QTest::newRow("a name that starts with a dash, after --") << QStringList{"tlgview", "--", "-x.log"}
                                                                  << QStringList{"-x.log"} << false;
        QTest::newRow("Qt's own options") << QStringList{"tlgview", "-style", "fusion", "a.log", "-reverse"}
                                          << QStringList{"a.log"} << false;
        QTest::newRow("two logs") << QStringList{"tlgview", "a.log", "b.log"} << QStringList{"a.log", "b.log"} << false;
        QTest::newRow("blanks") << QStringList{"tlgview", "my log file.log"} << QStringList{"my log file.log"} << false;
        QTest::newRow("a viewer of its own") << QStringList{"tlgview", "a.log", "--new-window", "b.log"}
                                             << QStringList{"a.log", "b.log"} << true;
        QTest::newRow("a new window, no log") << QStringList{"tlgview", "--new-window"} << QStringList{} << true;
        QTest::newRow("--new-window as a name, after --") << QStringList{"tlgview", "--", "--new-window"}
                                                          << QStringList{"--new-window"} << false;
    }

    void anyOtherArgumentIsALog()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, logs);
        QFETCH(bool, newWindow);
        const CommandLine line = ReadCommandLine(arguments);
        QCOMPARE(int(line.action), int(CommandLine::Open));
        QCOMPARE(line.logs, logs);
        QCOMPARE(line.newWindow, newWindow);
        QCOMPARE(line.standardInput, logs.contains(QStringLiteral("-")));
        QVERIFY(line.text.isEmpty());
    }

    void anUnknownOptionIsRefusedByTheNameTyped()
    {
        for (const auto& [argument, typed] : {std::pair{"--follow", "--follow"}, std::pair{"-x.log", "-x.log"},
                                              std::pair{"--x=1", "--x"}}) {
            const CommandLine line = ReadCommandLine({"tlgview", "a.log", QLatin1String(argument)});
            QCOMPARE(int(line.action), int(CommandLine::Refused));
            QVERIFY(line.logs.isEmpty());
            const QString said = QStringLiteral("tlgview: unknown option '%1'\nUsage: ").arg(QLatin1String(typed));
            QVERIFY2(line.text.startsWith(said), qPrintable(line.text));
        }
    }

    // The program itself: no display, and still an answer, so it opened no window.
    void theProgramAnswersWithoutADisplay()
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        program.setProcessEnvironment(environment);
        for (const char* option : {"--version", "--help"}) {
            program.start(QStringLiteral(TLG_PROGRAM), {QLatin1String(option)});
            QVERIFY(program.waitForFinished(60000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 0);
            const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
            if (QLatin1String(option) == QLatin1String("--version"))
                QCOMPARE(out, QStringLiteral("TlgView " TLG_VERSION "\n"));
            else
                QVERIFY2(out.startsWith(QStringLiteral("Usage: ")) && out.contains(QStringLiteral("tlgview [options] [log]")),
                         qPrintable(out));
        }
        // An unknown option: why and the usage on standard error, and status 2.
        program.start(QStringLiteral(TLG_PROGRAM), {QStringLiteral("--x")});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitCode(), 2);
        QCOMPARE(program.readAllStandardOutput(), QByteArray());
        QVERIFY(program.readAllStandardError().startsWith("tlgview: unknown option '--x'\nUsage: "));
    }
};

QTEST_MAIN(CommandLineTest)
#include "tst_commandline.moc"
