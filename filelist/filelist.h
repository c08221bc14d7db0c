#pragma once

// The file list: the logs a user reads often, one line each, a description, ";" and a path.
// The path may hold "%computername%" (the master computer) and "%Path%" (the program's folder)
// in any letter case. Lines are bytes: descriptions Windows-1252 text, paths the file system's
// own bytes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tlg {

// The file name the program writes; an existing file of that name in any letter case is read.
inline constexpr const char* kFileListName = "Filelist.TLG";

// A line of the list file: its bytes without the break, and where it stands in the file's text
// with its break (CR, LF or CR LF).
struct FileListLine {
    std::string text;
    std::size_t start = 0;
    std::size_t end = 0; // one past the line's break
};

// The lines of the list file's text; a final line break does not start another line.
std::vector<FileListLine> SplitFileList(std::string_view text);

// The line with "%computername%" replaced by the computer name and "%Path%" by the program's
// folder, both matched in any letter case, every occurrence; the rest keeps its bytes.
std::string ReplacePlaceholders(std::string_view line, std::string_view computerName,
                                std::string_view exeFolder);

// One entry of the panel: the description as shown (upper-cased in ASCII), the path to open
// (placeholders replaced, letter case kept), and the index of its line in the file.
struct FileListEntry {
    std::string description;
    std::string path;
    std::size_t line = 0;
};
FileListEntry EntryOf(const FileListLine& line, std::size_t index, std::string_view computerName,
                      std::string_view exeFolder);

// The list file's text without one line (its break included): every other byte stays.
std::string RemoveLine(std::string_view text, const FileListLine& line);

// Why an addition is refused: an empty kind means it is not. The path is compared with field 2
// and the description (untrimmed) with field 1 of every line as stored, placeholders
// unreplaced, upper-casing the ASCII letters only; the first line with the path decides, else
// the last line with the description.
struct Refusal {
    enum Kind { None, SamePath, SameDescription } kind = None;
    std::string message; // "File alerady in File List" and the line's fields, or the like
};
Refusal CheckNewEntry(std::string_view text, std::string_view description, std::string_view path);

// Whether the list can hold the path: one holding ";" (which ends a line's first field) or a
// CR or LF (which ends the line) would come back cut or as a bogus entry.
bool IsStorablePath(std::string_view path);
// What the add dialog says of a path the list cannot hold.
inline constexpr const char* kUnstorablePathMessage =
    "This file cannot be added: its path holds a \";\" or a line break, which the File List "
    "cannot store";

// The list file's text with every line break made CR LF and the line description;path added:
// after a final break it is followed by CR LF, after a last line without a break it comes after
// a CR LF and has none itself.
std::string AppendEntry(std::string_view text, std::string_view description, std::string_view path);

} // namespace tlg
