#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace tlg {

CommandLine ReadCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows a log that another program is writing and follows it as it grows: error words\n"
        "red, info words blue, a list of the logs you read often, and find."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("log"), QStringLiteral("The log to open."),
                                 QStringLiteral("[log]"));
    // An unknown option is no error here: it is a file name that starts with '-'.
    parser.parse(arguments);

    CommandLine line;
    // --help-all, which the help option brings along, asks for the same usage.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        line.action = CommandLine::Help;
        line.text = parser.helpText();
    } else if (parser.isSet(version)) {
        line.action = CommandLine::Version;
        line.text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                    QCoreApplication::applicationVersion() + QLatin1Char('\n');
    } else {
        line.logs = arguments.mid(1);
    }
    return line;
}

} // namespace tlg
