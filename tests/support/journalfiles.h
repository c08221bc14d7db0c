#pragma once

// Journal files made for a test: entries written in the journal's export format and turned
// into a .journal file by systemd-journal-remote, and what journalctl prints for them.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace tlg::testing {

struct ExportEntry {
    std::uint64_t realtime = 0; // microseconds since 1970 UTC
    std::vector<std::pair<std::string, std::string>> fields;
    std::string boot = "0123456789abcdef0123456789abcdef";
};

// One entry in export format; every value in the binary form, so that any bytes go.
inline std::string ExportText(const ExportEntry& entry, std::uint64_t monotonic)
{
    std::string out = "__REALTIME_TIMESTAMP=" + std::to_string(entry.realtime) + "\n__MONOTONIC_TIMESTAMP=" +
                      std::to_string(monotonic) + "\n_BOOT_ID=" + entry.boot + "\n";
    for (const auto& [name, value] : entry.fields) {
        out += name;
        out += '\n';
        const std::uint64_t size = value.size();
        for (int i = 0; i < 8; ++i)
            out += static_cast<char>((size >> (8 * i)) & 0xFF);
        out += value;
        out += '\n';
    }
    return out + "\n";
}

inline std::string ExportText(const std::vector<ExportEntry>& entries)
{
    std::string out;
    std::uint64_t monotonic = 1000;
    for (const ExportEntry& entry : entries)
        out += ExportText(entry, monotonic++);
    return out;
}

// Writes the export text to `journal` (a path ending in .journal), appending to the file when
// it exists; true when systemd-journal-remote made it.
inline bool MakeJournal(const std::string& journal, const std::string& exportText)
{
    const std::string input = journal + ".export";
    std::ofstream(input, std::ios::binary).write(exportText.data(), static_cast<std::streamsize>(exportText.size()));
    const std::string command =
        "/lib/systemd/systemd-journal-remote -o '" + journal + "' - < '" + input + "' > /dev/null 2>&1";
    const bool made = std::system(command.c_str()) == 0;
    std::remove(input.c_str());
    return made;
}

// What a shell command prints on its standard output.
inline std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

// journalctl's lines for journal files or a folder ("--file F" or "-D DIR"), with more options.
inline std::string Journalctl(const std::string& where, const std::string& options = "")
{
    return CommandOutput("TZ=UTC journalctl --no-pager -q " + where + " -o short-iso " + options + " 2>/dev/null");
}

} // namespace tlg::testing
