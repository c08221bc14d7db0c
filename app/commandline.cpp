#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

namespace tlg {

namespace {

// The options Qt's application object reads for itself (with a value, then without), so that
// `tlgview -style fusion app.log` still works.
const char* const kQtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger",
                                       "qwindowgeometry", "qwindowicon", "qwindowtitle", "session", "display",
                                       "geometry", "title", "name", "style", "stylesheet", "visual", "im",
                                       "inputstyle"};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "dograb", "nograb", "sync"};

// The argument that named an unknown option, as it was typed ("--x" for "--x=1").
QString typedOption(const QStringList& arguments, const QString& name)
{
    for (const QString& argument : arguments.mid(1)) {
        if (argument == QLatin1String("--"))
            break;
        QString bare = argument.section(QLatin1Char('='), 0, 0);
        const QString dashes = bare.startsWith(QLatin1String("--")) ? QStringLiteral("--") : QStringLiteral("-");
        if (bare.startsWith(QLatin1Char('-')) && bare.mid(dashes.size()) == name)
            return bare;
    }
    return QStringLiteral("--") + name;
}

} // namespace

CommandLine ReadCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows a log that another program is writing and follows it as it grows: error words\n"
        "red, info words blue, a list of the logs you read often, and find."));
    // `-style` is one option, as Qt's own options are written, not -s -t -y -l -e.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const char* name : kQtValueOptions) {
        QCommandLineOption option(QLatin1String(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption option{QString::fromLatin1(name)};
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    const QCommandLineOption newWindow(
        QStringLiteral("new-window"),
        QStringLiteral("Start a viewer of its own instead of handing the logs to the one already running."));
    parser.addOption(newWindow);
    const QCommandLineOption merge(
        QStringLiteral("merge"),
        QStringLiteral("Open the logs named as one log, their lines merged in the order of their times."));
    parser.addOption(merge);
    // The filter stack the logs open with, row by row in the order given.
    const struct {
        const char* name;
        bool show;
        bool ignoreCase;
        const char* help;
    } filters[] = {
        {"hide", false, false, "Hide the lines that match the regular expression (PCRE2, matching case)."},
        {"show", true, false, "Show only the lines that match the regular expression."},
        {"hide-i", false, true, "As --hide, ignoring case."},
        {"show-i", true, true, "As --show, ignoring case."},
    };
    for (const auto& filter : filters)
        parser.addOption(QCommandLineOption(QLatin1String(filter.name), QLatin1String(filter.help), QStringLiteral("pattern")));
    parser.addPositionalArgument(QStringLiteral("log"),
                                 QStringLiteral("The log to open (after --, a name may start with -)."),
                                 QStringLiteral("[log]"));
    const bool known = parser.parse(arguments);

    CommandLine line;
    // --help-all, which the help option brings along, asks for the same usage.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        line.action = CommandLine::Help;
        line.text = parser.helpText();
    } else if (parser.isSet(version)) {
        line.action = CommandLine::Version;
        line.text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                    QCoreApplication::applicationVersion() + QLatin1Char('\n');
    } else if (!known) {
        line.action = CommandLine::Refused;
        const QStringList unknown = parser.unknownOptionNames();
        line.text = unknown.isEmpty() ? QStringLiteral("tlgview: ") + parser.errorText() + QLatin1Char('\n')
                                      : QStringLiteral("tlgview: unknown option '%1'\n").arg(typedOption(arguments, unknown.first()));
        line.text += parser.helpText();
    } else {
        line.logs = parser.positionalArguments();
        line.newWindow = parser.isSet(newWindow);
        line.merge = parser.isSet(merge);
        QHash<QString, int> taken;
        for (const QString& name : parser.optionNames()) {
            for (const auto& filter : filters) {
                if (name == QLatin1String(filter.name))
                    line.filters.append({parser.values(name).value(taken[name]++), filter.show, filter.ignoreCase});
            }
        }
    }
    return line;
}

} // namespace tlg
