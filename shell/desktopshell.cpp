#include "shell/desktopshell.h"

#include "core/errors.h"
#include "core/executor.h"
#include "core/fileops.h"
#include "shell/xdgdirs.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tlg {

namespace {

constexpr std::string_view kDefaultGroup = "Default Applications";
constexpr std::string_view kBlanks = " \t\r";

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool isBlankLine(std::string_view line)
{
    return trimmed(line).empty();
}

// The lines of a text split at '\n'. A text that ends in '\n' gives a last empty line, so
// that joining the lines with '\n' gives back the text byte for byte.
std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            return lines;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string joinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += lines[i];
    }
    return text;
}

// The name of the group that the line opens, or nothing when it is no group header.
std::optional<std::string_view> groupHeader(std::string_view line)
{
    const std::string_view text = trimmed(line);
    if (text.size() < 2 || text.front() != '[' || text.back() != ']')
        return std::nullopt;
    return text.substr(1, text.size() - 2);
}

// Where the value of `key` starts in the line (just after the '='), or npos when the line
// holds another key.
std::size_t valueStart(std::string_view line, std::string_view key)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != key)
        return std::string_view::npos;
    return equals + 1;
}

// One entry of a ';' list: [start, end) without the blanks around it; `semicolon` is the
// position of the ';' that ends it, or npos for a last entry without one.
struct ListItem
{
    std::size_t start;
    std::size_t end;
    std::size_t semicolon;
};

std::vector<ListItem> listItems(std::string_view line, std::size_t from)
{
    std::size_t last = line.size();
    while (last > from && line[last - 1] == '\r')
        --last;
    std::vector<ListItem> items;
    std::size_t start = from;
    while (start < last) {
        const std::size_t semicolon = line.find(';', start);
        const std::size_t end =
            semicolon == std::string_view::npos || semicolon > last ? last : semicolon;
        std::size_t s = start;
        std::size_t e = end;
        while (s < e && kBlanks.find(line[s]) != std::string_view::npos)
            ++s;
        while (e > s && kBlanks.find(line[e - 1]) != std::string_view::npos)
            --e;
        items.push_back({s, e, end == last ? std::string_view::npos : end});
        start = end + 1;
    }
    return items;
}

// Takes the entries equal to id out of the list on the line; true when one was there.
bool removeFromList(std::string& line, std::size_t from, std::string_view id)
{
    bool removed = false;
    std::vector<ListItem> items = listItems(line, from);
    for (std::size_t i = items.size(); i-- > 0;) {
        const ListItem& item = items[i];
        if (std::string_view(line).substr(item.start, item.end - item.start) != id)
            continue;
        if (item.semicolon != std::string_view::npos)
            line.erase(item.start, item.semicolon + 1 - item.start);
        else if (i > 0)
            line.erase(items[i - 1].semicolon, item.end - items[i - 1].semicolon);
        else
            line.erase(item.start, item.end - item.start);
        removed = true;
    }
    return removed;
}

std::vector<std::string> listIds(std::string_view line, std::size_t from)
{
    std::vector<std::string> ids;
    for (const ListItem& item : listItems(line, from)) {
        if (item.end > item.start)
            ids.emplace_back(line.substr(item.start, item.end - item.start));
    }
    return ids;
}

// The value as a desktop entry writes a string: backslash, line breaks and tabs escaped.
std::string escapedValue(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescapedValue(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += text[i];
        }
    }
    return out;
}

// One Exec argument: quoted when it holds a character the rules reserve, with '%' doubled.
std::string execArgument(std::string_view argument)
{
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quote =
        argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
    std::string out = quote ? "\"" : "";
    for (const char c : argument) {
        if (c == '%')
            out += '%';
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += '\\';
        out += c;
    }
    if (quote)
        out += '"';
    return out;
}

bool pathExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool isRegularFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The file's text; empty when it does not exist. Throws Failure when it cannot be read.
std::string readIfPresent(const std::string& path)
{
    return pathExists(path) ? ReadSettingsFile(path) : std::string();
}

// Rewrites the list file with edit applied, when that changes it.
template <typename Edit> void editListFile(const std::string& path, bool createMissing, Edit edit)
{
    if (!createMissing && !pathExists(path))
        return;
    const std::string old = readIfPresent(path);
    const std::string updated = edit(old);
    if (updated == old && pathExists(path))
        return;
    if (!MakeFolders(UserConfigFolder()))
        throw Failure("Cannot create file " + path);
    WriteFileAtomically(path, updated);
}

// The user's mimeapps.list files that the desktop reads before the plain one.
std::vector<std::string> desktopListFiles()
{
    std::vector<std::string> files;
    for (const std::string& desktop : CurrentDesktops())
        files.push_back(UserConfigFolder() + desktop + "-mimeapps.list");
    return files;
}

// The first executable of that name in the folders of PATH; empty when there is none.
std::string programOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        if (isRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::string();
}

// One run of update-desktop-database: the program found and the folder it refreshes.
struct RefreshRun
{
    std::string program;
    std::string folder;
};

// The runs in the background: at most one at a time, and at most one waiting behind it. They
// wait for the tool on a thread of the executor's own, so that a slow tool never holds a
// worker that others need.
struct RefreshState
{
    std::mutex mutex;
    std::condition_variable idle;
    bool running = false;            // guarded by mutex
    std::optional<RefreshRun> again; // guarded by mutex
    // The thread of the last runs; its body has returned whenever running is false. Replaced
    // only by the caller that sets running, never from its own body.
    std::unique_ptr<DedicatedThread> thread; // guarded by mutex
};

RefreshState& refreshState()
{
    // Never destroyed: a run may still be waiting for its tool while the program exits.
    static RefreshState* state = new RefreshState;
    return *state;
}

// Runs the tool and waits for it on the calling thread, which is never the GUI thread; one
// that hangs is stopped after a while. When `stop` is raised (the program ends) the tool is
// left to finish alone.
void runRefresh(RefreshRun& run, const std::atomic<bool>& stop)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    std::string quiet = "-q";
    char* arguments[] = {run.program.data(), quiet.data(), run.folder.data(), nullptr};
    // The environment is not passed on: another thread may change it meanwhile, and the tool
    // needs none of it.
    char* environment[] = {nullptr};
    pid_t child = 0;
    const int spawned =
        ::posix_spawn(&child, run.program.c_str(), &actions, nullptr, arguments, environment);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return;

    static constexpr int kPatienceMs = 10000;
    static constexpr int kStepMs = 10;
    for (int waited = 0; waited < kPatienceMs; waited += kStepMs) {
        if (stop.load())
            return;
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child || (done < 0 && errno != EINTR))
            return;
        const timespec step{0, kStepMs * 1000000L};
        ::nanosleep(&step, nullptr);
    }
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

std::string MimeTypeOfExtension(std::string_view extension)
{
    if (extension.size() == 3 && (extension[0] | 0x20) == 'l' && (extension[1] | 0x20) == 'o' &&
        (extension[2] | 0x20) == 'g')
        return "text/x-log";
    return std::string();
}

std::vector<std::string> SplitCommandLine(std::string_view command)
{
    std::vector<std::string> arguments;
    std::string argument;
    bool inArgument = false;
    bool quoted = false;
    for (const char c : command) {
        if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument)
                arguments.push_back(argument);
            argument.clear();
            inArgument = false;
        } else {
            argument += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(argument);
    return arguments;
}

std::string DesktopExecOfCommand(std::string_view command)
{
    const std::vector<std::string> arguments = SplitCommandLine(command);
    if (arguments.empty() || arguments.front().empty())
        return std::string();
    std::string exec = execArgument(arguments.front());
    bool fileGiven = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // A desktop entry takes one file field code at most.
        if (!fileGiven && (argument == "%1" || argument == "%L" || argument == "%l")) {
            exec += " %f";
            fileGiven = true;
        } else {
            exec += ' ' + execArgument(argument);
        }
    }
    if (!fileGiven)
        exec += " %f";
    return escapedValue(exec);
}

std::vector<std::string> SplitDesktopExec(std::string_view exec)
{
    const std::string text = unescapedValue(exec);
    std::vector<std::string> arguments;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
            ++i;
        if (i == text.size())
            return arguments;
        std::string argument;
        bool quoted = false;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            if (!quoted && (c == ' ' || c == '\t' || c == '\n'))
                break;
            if (c == '"') {
                quoted = !quoted;
            } else if (quoted && c == '\\' && i + 1 < text.size()) {
                argument += text[++i];
            } else if (c == '%' && i + 1 < text.size() && text[i + 1] == '%') {
                argument += '%';
                ++i;
            } else {
                argument += c;
            }
        }
        arguments.push_back(argument);
    }
}

std::string WithDefaultApplication(std::string_view mimeapps, std::string_view mimeType,
                                   std::string_view desktopId)
{
    std::vector<std::string> lines = splitLines(mimeapps);
    const std::string entry = std::string(desktopId) + ";";
    std::size_t group = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (groupHeader(lines[i]) == kDefaultGroup) {
            group = i;
            break;
        }
    }
    if (group == lines.size()) {
        // The last "line" of a text that ends in a line break is the empty rest after it.
        if (lines.back().empty())
            lines.pop_back();
        lines.push_back("[" + std::string(kDefaultGroup) + "]");
        lines.push_back(std::string(mimeType) + "=" + entry);
        lines.push_back(std::string());
        return joinLines(lines);
    }

    std::size_t lastFilled = group;
    for (std::size_t i = group + 1; i < lines.size() && !groupHeader(lines[i]); ++i) {
        std::string& line = lines[i];
        if (!isBlankLine(line))
            lastFilled = i;
        const std::size_t from = valueStart(line, mimeType);
        if (from == std::string_view::npos)
            continue;
        const std::vector<std::string> ids = listIds(line, from);
        if (!ids.empty() && ids.front() == desktopId)
            return std::string(mimeapps);
        removeFromList(line, from, desktopId);
        std::size_t at = from;
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        line.insert(at, entry);
        return joinLines(lines);
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastFilled) + 1,
                 std::string(mimeType) + "=" + entry);
    return joinLines(lines);
}

std::string WithoutDefaultApplication(std::string_view mimeapps, std::string_view mimeType,
                                      std::string_view desktopId)
{
    std::vector<std::string> lines = splitLines(mimeapps);
    std::vector<bool> drop(lines.size(), false);
    std::vector<std::size_t> emptiedGroups;
    bool changed = false;
    std::optional<std::size_t> header; // of the [Default Applications] group the line is in
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = groupHeader(lines[i])) {
            header = *name == kDefaultGroup ? std::optional<std::size_t>(i) : std::nullopt;
            continue;
        }
        const std::size_t from = header ? valueStart(lines[i], mimeType) : std::string_view::npos;
        if (from == std::string_view::npos || !removeFromList(lines[i], from, desktopId))
            continue;
        changed = true;
        if (listIds(lines[i], from).empty()) {
            drop[i] = true;
            emptiedGroups.push_back(*header);
        }
    }
    if (!changed)
        return std::string(mimeapps);

    // A group that held nothing but such lines goes with them.
    for (const std::size_t group : emptiedGroups) {
        bool empty = true;
        for (std::size_t i = group + 1; i < lines.size() && !groupHeader(lines[i]); ++i)
            empty = empty && (drop[i] || isBlankLine(lines[i]));
        drop[group] = empty;
    }
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!drop[i])
            kept.push_back(std::move(lines[i]));
    }
    return joinLines(kept);
}

std::vector<std::string> DefaultApplicationsIn(std::string_view mimeapps, std::string_view mimeType)
{
    bool inDefaults = false;
    for (const std::string& line : splitLines(mimeapps)) {
        if (const auto name = groupHeader(line)) {
            inDefaults = *name == kDefaultGroup;
            continue;
        }
        const std::size_t from = inDefaults ? valueStart(line, mimeType) : std::string_view::npos;
        if (from != std::string_view::npos)
            return listIds(line, from);
    }
    return {};
}

std::string FindDesktopEntry(std::string_view desktopId)
{
    if (desktopId.empty() || desktopId.find('/') != std::string_view::npos)
        return std::string();
    std::vector<std::string> folders{UserDataFolder()};
    for (const std::string& folder : SystemDataFolders())
        folders.push_back(folder);
    // An entry in a subfolder has the subfolder's name and '-' before its own in its id.
    std::string nested(desktopId);
    const std::size_t dash = nested.find('-');
    if (dash != std::string::npos)
        nested[dash] = '/';
    for (const std::string& folder : folders) {
        for (const std::string& name : {std::string(desktopId), nested}) {
            if (isRegularFile(folder + "applications/" + name))
                return folder + "applications/" + name;
        }
    }
    return std::string();
}

std::string DefaultApplicationOf(std::string_view mimeType)
{
    std::vector<std::string> folders{UserConfigFolder()};
    for (const std::string& folder : SystemConfigFolders())
        folders.push_back(folder);
    folders.push_back(UserDataFolder() + "applications/");
    for (const std::string& folder : SystemDataFolders())
        folders.push_back(folder + "applications/");

    for (const std::string& folder : folders) {
        std::vector<std::string> files;
        for (const std::string& desktop : CurrentDesktops())
            files.push_back(folder + desktop + "-mimeapps.list");
        files.push_back(folder + "mimeapps.list");
        for (const std::string& file : files) {
            std::string text;
            try {
                text = readIfPresent(file);
            } catch (const Failure&) {
                continue; // the desktop cannot read it either
            }
            for (const std::string& id : DefaultApplicationsIn(text, mimeType)) {
                if (!FindDesktopEntry(id).empty())
                    return id;
            }
        }
    }
    return std::string();
}

std::string ProgramOfDesktopEntry(const std::string& file)
{
    std::string text;
    try {
        text = ReadSettingsFile(file);
    } catch (const Failure&) {
        return std::string();
    }
    bool inEntry = false;
    for (const std::string& line : splitLines(text)) {
        if (const auto name = groupHeader(line)) {
            inEntry = *name == "Desktop Entry";
            continue;
        }
        const std::size_t from = inEntry ? valueStart(line, "Exec") : std::string_view::npos;
        if (from == std::string_view::npos)
            continue;
        const std::vector<std::string> arguments =
            SplitDesktopExec(trimmed(std::string_view(line).substr(from)));
        return arguments.empty() ? std::string() : arguments.front();
    }
    return std::string();
}

void InstallDesktopAssociation(std::string_view mimeType, std::string_view openCommand,
                               std::string_view description)
{
    const std::string exec = DesktopExecOfCommand(openCommand);
    if (exec.empty())
        return;
    const std::string folder = UserDataFolder() + "applications/";
    const std::string entryPath = folder + kDesktopEntryId;
    if (!MakeFolders(folder))
        throw Failure("Cannot create file " + entryPath);
    std::string entry = "[Desktop Entry]\n"
                        "Type=Application\n"
                        "Name=Log Viewer\n";
    if (!description.empty())
        entry += "Comment=" + escapedValue(description) + "\n";
    entry += "Exec=" + exec + "\n";
    // The user's entry hides an installed one of the same id from the menus: it keeps its icon.
    entry += "Icon=tlgview\n";
    entry += "Terminal=false\n";
    entry += "MimeType=" + std::string(mimeType) + ";\n";
    entry += "Categories=Utility;\n";
    WriteFileAtomically(entryPath, entry);

    const auto makeDefault = [&](const std::string& text) {
        return WithDefaultApplication(text, mimeType, kDesktopEntryId);
    };
    editListFile(UserConfigFolder() + "mimeapps.list", true, makeDefault);
    // A desktop's own list overrides the plain one; where it names a default of its own, the
    // viewer must come first there too, or the desktop would not use it.
    for (const std::string& file : desktopListFiles()) {
        editListFile(file, false, [&](const std::string& text) {
            return DefaultApplicationsIn(text, mimeType).empty() ? text : makeDefault(text);
        });
    }
}

void RemoveDesktopAssociation(std::string_view mimeType)
{
    // The entry goes first: a list that still names it afterwards (when it cannot be
    // rewritten) then names an entry that is not installed, which the desktop passes over.
    // Only the user's own entry: one in a system data folder is the package's, which only
    // the package manager removes.
    const std::vector<std::string> system = SystemDataFolders();
    if (std::find(system.begin(), system.end(), UserDataFolder()) == system.end())
        ::unlink((UserDataFolder() + "applications/" + kDesktopEntryId).c_str());
    std::vector<std::string> files = desktopListFiles();
    files.push_back(UserConfigFolder() + "mimeapps.list");
    for (const std::string& file : files) {
        editListFile(file, false, [&](const std::string& text) {
            return WithoutDefaultApplication(text, mimeType, kDesktopEntryId);
        });
    }
}

void RefreshDesktopDatabase()
{
    std::string folder = UserDataFolder() + "applications";
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return;
    // Found here, from this thread's environment, which the run's thread must not read.
    const std::string program = programOnPath("update-desktop-database");
    if (program.empty())
        return; // not installed: the desktop reads the entries themselves

    RefreshState& state = refreshState();
    std::unique_lock lock(state.mutex);
    if (state.running) {
        // The run under way may have read the folder before this change: one more follows it.
        state.again = RefreshRun{program, folder};
        return;
    }
    Executor& executor = Executor::shared();
    if (executor.stopping().load())
        return; // the program ends: nothing would run it
    state.running = true;
    // The thread before has returned (running was false): letting it go waits for nothing.
    state.thread.reset();
    state.thread = executor.startDedicated("tlg-desktopdb", [run = RefreshRun{program, folder}](
                                                                const std::atomic<bool>& stop) mutable {
        RefreshState& state = refreshState();
        for (;;) {
            runRefresh(run, stop);
            std::lock_guard guard(state.mutex);
            if (!state.again || stop.load()) {
                state.again.reset();
                state.running = false;
                state.idle.notify_all();
                return;
            }
            run = std::move(*state.again);
            state.again.reset();
        }
    });
}

bool WaitForDesktopDatabaseRefresh(int milliseconds)
{
    RefreshState& state = refreshState();
    std::unique_lock lock(state.mutex);
    return state.idle.wait_for(lock, std::chrono::milliseconds(milliseconds), [&state] { return !state.running; });
}

} // namespace tlg
