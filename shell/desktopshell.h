#pragma once

// The desktop's side of a file association, as the freedesktop rules have it: a desktop entry
// for the viewer in the user's applications folder, and the user's default application for a
// MIME type in mimeapps.list. This is what the shell notification turns the stored keys into,
// and what the opener lookup checks the keys against.

#include <string>
#include <string_view>
#include <vector>

namespace tlg {

// The viewer's desktop entry id, a file of that name in $XDG_DATA_HOME/applications/.
inline constexpr const char* kDesktopEntryId = "tlgview.desktop";

// The MIME type that the desktop gives files with the extension (without its dot): "text/x-log"
// for "log", in any letter case; empty for an extension the viewer does not deal with.
std::string MimeTypeOfExtension(std::string_view extension);

// The arguments of a command line in the Windows manner: split at blanks and tabs outside
// double quotes, the quotes removed.
std::vector<std::string> SplitCommandLine(std::string_view command);

// The Exec value of a desktop entry that runs the open command `command` ("\"<exe>\" \"%1\""):
// its %1 (or %L) argument becomes the file field code %f, %f is added when the command has no
// such argument, and every other argument is quoted and escaped as the desktop entry rules
// ask. Empty when the command names no program.
std::string DesktopExecOfCommand(std::string_view command);

// The arguments of a desktop entry's Exec value, its escapes and quotes undone; field codes
// stay as they are.
std::vector<std::string> SplitDesktopExec(std::string_view exec);

// mimeapps.list text with desktopId put first in the [Default Applications] list of mimeType:
// an existing list keeps the other entries after it, else a line is added to the group, else
// the group is added at the end. Every other line stays byte for byte.
std::string WithDefaultApplication(std::string_view mimeapps, std::string_view mimeType,
                                   std::string_view desktopId);

// mimeapps.list text with desktopId taken out of the [Default Applications] list of mimeType.
// A list left empty loses its line, and a group left empty its header. Undoes
// WithDefaultApplication byte for byte when nothing else changed in between. Every other line
// stays.
std::string WithoutDefaultApplication(std::string_view mimeapps, std::string_view mimeType,
                                      std::string_view desktopId);

// The ids in the [Default Applications] list of mimeType in mimeapps.list text, in order.
std::vector<std::string> DefaultApplicationsIn(std::string_view mimeapps,
                                               std::string_view mimeType);

// The installed desktop entry of that id: the file in the applications folder of the user's
// data folder or of a system data folder, first found; empty when none is installed.
std::string FindDesktopEntry(std::string_view desktopId);

// The desktop's default application for the MIME type, as the desktop picks it: the first
// installed entry of the first [Default Applications] list that has one, through every
// mimeapps.list in order of precedence (the desktop-specific file before the plain one, in
// the user's config folder, the system config folders, then the applications folders of the
// data folders). Empty when no list names an installed entry.
std::string DefaultApplicationOf(std::string_view mimeType);

// The program that a desktop entry file runs: the first argument of its Exec value; empty when
// the file cannot be read or has no Exec.
std::string ProgramOfDesktopEntry(const std::string& file);

// Installs the viewer's desktop entry for the MIME type with Exec made from the open command,
// and makes it the user's default for the type in $XDG_CONFIG_HOME/mimeapps.list (and in any
// desktop-specific mimeapps.list there that has a default of its own for the type). Throws
// Failure ("Cannot open file <path>", "Cannot create file <path>") when a file cannot be read
// or written; what was written before stays.
void InstallDesktopAssociation(std::string_view mimeType, std::string_view openCommand,
                               std::string_view description);

// Takes the viewer out of the user's defaults for the MIME type, where a list still names it,
// and removes the user's desktop entry; an entry in a system data folder (the installed
// package's) is never removed, even when $XDG_DATA_HOME names that folder. Throws Failure as above when a mimeapps.list cannot be read
// or written; a missing entry or list is no failure.
void RemoveDesktopAssociation(std::string_view mimeType);

// Starts update-desktop-database on the user's applications folder when both exist, so that
// the desktop's cache of which entry opens which type follows, and returns without waiting for
// it: a thread of the executor's own waits, and stops a run that takes longer than 10 s (or
// leaves it to finish alone when the executor ends). A refresh asked for while one runs
// follows it. Never fails: a missing tool or a failing run is ignored.
void RefreshDesktopDatabase();

// Waits up to that long for the refreshes under way to end; true when none is left. For tests
// and for a caller that must see the refreshed cache.
bool WaitForDesktopDatabaseRefresh(int milliseconds);

} // namespace tlg
