#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

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

// journalctl's -b takes a boot or nothing; Qt's parser wants one or the other. The boot
// given is joined to its option, and a bare -b means the last boot.
QStringList JoinBootValues(const QStringList& arguments)
{
    static const QRegularExpression boot(QStringLiteral("^([+-]?[0-9]+|[0-9a-fA-F]{32})$"));
    QStringList joined;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (i > 0 && argument == QLatin1String("--")) {
            joined += arguments.mid(i);
            break;
        }
        if (i > 0 && (argument == QLatin1String("-b") || argument == QLatin1String("--boot"))) {
            const bool valued = i + 1 < arguments.size() && boot.match(arguments[i + 1]).hasMatch();
            joined += QStringLiteral("--boot=") + (valued ? arguments[++i] : QStringLiteral("0"));
            continue;
        }
        joined += argument;
    }
    return joined;
}

} // namespace

CommandLine ReadCommandLine(const QStringList& given)
{
    const QStringList arguments = JoinBootValues(given);
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
    const QCommandLineOption journal(QStringLiteral("journal"), QStringLiteral("Open the systemd journal of this machine."));
    parser.addOption(journal);
    const QCommandLineOption unit({QStringLiteral("u"), QStringLiteral("unit")},
                                  QStringLiteral("With --journal: the entries of this unit (as journalctl -u)."),
                                  QStringLiteral("unit"));
    parser.addOption(unit);
    const QCommandLineOption priority({QStringLiteral("p"), QStringLiteral("priority")},
                                      QStringLiteral("With --journal: the entries of this priority or more urgent, or of a range FROM..TO (as journalctl -p)."),
                                      QStringLiteral("priority"));
    parser.addOption(priority);
    const QCommandLineOption boot({QStringLiteral("b"), QStringLiteral("boot")},
                                  QStringLiteral("With --journal: the entries of one boot: 0 (or nothing) the last, -1 the one before, 1 the first, or a boot id (as journalctl -b)."),
                                  QStringLiteral("N"));
    parser.addOption(boot);
    parser.addPositionalArgument(QStringLiteral("log"),
                                 QStringLiteral("The log to open (after --, a name may start with -); - reads "
                                                "standard input: journalctl -f | tlgview -"),
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
        line.standardInput = line.logs.contains(QStringLiteral("-"));
        line.newWindow = parser.isSet(newWindow) || line.standardInput;
        line.merge = parser.isSet(merge);
        QHash<QString, int> taken;
        for (const QString& name : parser.optionNames()) {
            for (const auto& filter : filters) {
                if (name == QLatin1String(filter.name))
                    line.filters.append({parser.values(name).value(taken[name]++), filter.show, filter.ignoreCase});
            }
        }
        if (parser.isSet(journal)) {
            JournalQuery query;
            for (const QString& name : parser.values(unit))
                query.units.push_back(name.toStdString());
            if (parser.isSet(priority)) {
                const QString text = parser.value(priority);
                const QStringList range = text.split(QStringLiteral(".."));
                const int from = ParsePriority(range.value(0).toStdString());
                const int to = range.size() == 2 ? ParsePriority(range.value(1).toStdString()) : from;
                if (from < 0 || to < 0 || range.size() > 2) {
                    line.action = CommandLine::Refused;
                    line.text = QStringLiteral("tlgview: unknown priority '%1'\n").arg(text) + parser.helpText();
                    return line;
                }
                query.lowestPriority = range.size() == 2 ? std::min(from, to) : 0;
                query.highestPriority = std::max(from, to);
            }
            if (parser.isSet(boot))
                query.boot = parser.value(boot).toStdString();
            line.journal = query;
        }
    }
    return line;
}

} // namespace tlg
