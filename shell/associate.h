#pragma once

// The module Associate: makes the viewer the program that opens .log files, takes that away
// again, and tells which program opens an extension. The association is kept in the user's
// HKEY_CLASSES_ROOT store (shell/keystore.h); the shell notification carries it to the
// desktop (shell/desktopshell.h).

#include <string>

namespace tlg {

class KeyStore;
class KeyTree;

// The .log association as the start-up check and the Options menu make it.
inline constexpr const char* kLogExtension = ".log";
inline constexpr const char* kLogExtensionWithoutDot = "log";
inline constexpr const char* kLogFileType = "Logfiles";
inline constexpr const char* kLogFileTypeDescription = "Log Files";
inline constexpr int kLogIconIndex = 0;

// The full path of the running executable (/proc/self/exe); empty when it cannot be had.
std::string ExecutablePath();

// Writes, in this order and each from the root, the default values of the keys
//   extension                      = fileType
//   fileType                       = description
//   fileType\DefaultIcon           = exePath + "," + iconIndex
//   fileType\Shell\Open            = "&Open"
//   fileType\Shell\Open\Command    = "\"" + exePath + "\" \"%1\""
// creating the keys that are missing; other values and subkeys stay. With notify, the shell
// notification follows. Throws Failure("Failed to set data for ''") at the first key that
// cannot be created or written; the keys before it stay written and no notification is sent.
// The notification's own failures (a desktop file that cannot be written) are thrown as they
// come, with their file's text. A store that cannot be used (KeyStore::read) is left as it is
// and its failure thrown. The store is read once and written once.
void RegisterFileType(const std::string& extension, const std::string& fileType,
                      const std::string& description, const std::string& exePath, int iconIndex,
                      bool notify);

// Deletes the extension key and then the file type key, each with everything beneath it,
// whatever the extension names by then. Missing keys are passed over and failed deletes
// ignored; with notify, the shell notification is sent in any case (its failures are thrown).
void UnregisterFileType(const std::string& extension, const std::string& fileType, bool notify);

// The program that opens files of the extension (given without its dot), cleaned to a bare
// path by CleanOpenerCommand: the default value of ".<ext>\shell\open\command" when that key
// exists, else that of "<type>\shell\open\command" for the file type that ".<ext>" names, else
// the file type name itself; empty when ".<ext>" is missing. Keys that cannot be opened count
// as missing. The desktop has the last word: when the user's default application for the
// extension's MIME type is another desktop entry than the viewer's, the answer is the
// program that entry runs (its id when it names none). Never fails.
std::string GetFileTypeOpener(const std::string& extension);

// A stored open command cleaned to a bare path: everything from the first '%' removed, then
// one leading and one trailing double quote, then trailing blanks and double quotes.
// "\"C:\\Tools\\viewer.exe\" \"%1\"" gives C:\Tools\viewer.exe; "notepad.exe %1" gives
// notepad.exe; "%SystemRoot%\\notepad.exe %1" gives "".
std::string CleanOpenerCommand(std::string command);

// Deletes the key at keyPath under root with all its subkeys; nothing when the key is missing
// or the store cannot be used. Failed deletes are ignored.
void DeleteKeyTree(const KeyStore& root, const std::string& keyPath);

// The shell notification "associations changed": brings the desktop in line with the stored
// .log association. When the store names an open command for .log, the viewer's desktop
// entry is installed with that command and made the user's default for text/x-log; when it
// names none, the entry and the user's default that names it are taken away. Then the
// desktop's database is refreshed. Throws Failure when a desktop file cannot be read or
// written.
void NotifyAssociationChanged();

// True when .log files open with this executable: GetFileTypeOpener("log") equals exePath
// exactly, letter case included. The start-up question is asked when this is false.
bool OpensLogFiles(const std::string& exePath);
// The same, for the store's tree as read already.
bool OpensLogFiles(const KeyTree& tree, const std::string& exePath);

// Options > "Associate with .Log files": RegisterFileType(".log", "Logfiles", "Log Files",
// exePath, 0, true).
void AssociateWithLogFiles(const std::string& exePath);

// Options > "Remove association (.log)": UnregisterFileType(".log", "Logfiles", true).
void RemoveLogAssociation();

} // namespace tlg
