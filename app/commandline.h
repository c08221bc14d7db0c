#pragma once

// The program's command line: --help and --version, answered without a window, and the log
// to open.

#include <QString>
#include <QStringList>

namespace tlg {

struct CommandLine {
    enum Action { Open, Help, Version };
    Action action = Open;
    QString text;     // what --help or --version prints, ending in a line break
    QStringList logs; // with Open: the arguments after the program's name, as they came
};

// Reads the arguments (the program's name first) as Qt's QCommandLineParser does: -h, --help,
// --help-all (and -?) ask for the usage, -v and --version for "TlgView <version>". Any other argument,
// even one that looks like an unknown option, is a log to open, so nothing is refused.
// QCoreApplication's name and version must be set; no application object is needed.
CommandLine ReadCommandLine(const QStringList& arguments);

} // namespace tlg
