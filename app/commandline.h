#pragma once

// The program's command line: --help and --version, answered without a window, the logs to
// open, --new-window, and --journal with journalctl's -u, -p and -b.

#include "source/logopening.h" // JournalQuery

#include <QString>
#include <QStringList>

namespace tlg {

struct CommandLine {
    enum Action { Open, Help, Version, Refused };
    Action action = Open;
    // What --help or --version prints, ending in a line break; with Refused, why and the usage,
    // for standard error.
    QString text;
    QStringList logs; // with Open: the logs named, Qt's own options left out; "-" among them
                      // stands for standard input
    // With Open: "-" was given: standard input is read as a log. It cannot be handed to the
    // viewer already running, so it asks for a viewer of its own.
    bool standardInput = false;
    // With Open: --new-window, a viewer of its own rather than handing the logs to the one
    // already running.
    bool newWindow = false;
    // With Open: --merge, the logs open as one, merged by time, in a viewer of its own.
    bool merge = false;
    // With Open: --hide, --show, --hide-i and --show-i, in the order given: the filter stack
    // each log opens with.
    struct Filter {
        QString pattern; // a regular expression
        bool show = false;
        bool ignoreCase = false;
        friend bool operator==(const Filter&, const Filter&) = default;
    };
    QList<Filter> filters;
    // With Open: --journal, the local journal, with the matches of -u UNIT (any number),
    // -p PRIORITY (a name or a digit, or a range FROM..TO) and -b [N] (a boot by number or id;
    // 0 without one).
    std::optional<JournalQuery> journal;
};

// Reads the arguments (the program's name first) as Qt's QCommandLineParser does: -h, --help,
// --help-all (and -?) ask for the usage, -v and --version for "TlgView <version>". Qt's own
// options (-style, -platform, ...) are left to Qt; another argument that starts with '-' is an
// unknown option, refused, unless it comes after "--", but a lone "-" names standard input;
// --new-window asks for a viewer of its own; --merge opens the logs merged by time; --hide,
// --show, --hide-i and --show-i give the filter stack; --journal, -u, -p and -b the journal to
// open; the rest are logs to open.
// QCoreApplication's name and version must be set; no application object is needed.
CommandLine ReadCommandLine(const QStringList& arguments);

} // namespace tlg
