#include "shell/associate.h"

#include "shell/desktopshell.h"
#include "shell/keystore.h"

#include "core/errors.h"

#include <unistd.h>
#include <utility>
#include <vector>

namespace tlg {

namespace {

// What the store says opens files of an extension (without its dot).
struct StoredOpener
{
    std::string fileType;    // the default value of ".<ext>"
    std::string command;     // the open command's default value
    bool hasCommand = false; // an open command key was found
};

StoredOpener storedOpener(const KeyTree& tree, const std::string& extension)
{
    StoredOpener opener;
    // A command kept directly under the extension wins over the file type's.
    if (const std::string direct = "." + extension + "\\shell\\open\\command"; tree.hasKey(direct)) {
        opener.command = tree.value(direct, "");
        opener.hasCommand = true;
        return opener;
    }
    if (!tree.hasKey("." + extension))
        return opener;
    opener.fileType = tree.value("." + extension, "");
    if (opener.fileType.empty())
        return opener;
    if (const std::string command = opener.fileType + "\\shell\\open\\command"; tree.hasKey(command)) {
        opener.command = tree.value(command, "");
        opener.hasCommand = true;
    }
    return opener;
}

// The store's tree, or an empty one when it cannot be used: a lookup then finds nothing.
KeyTree treeOrEmpty(const KeyStore& store)
{
    try {
        return store.read();
    } catch (const Failure&) {
        return KeyTree();
    }
}

std::string fileTypeOpener(const KeyTree& tree, const std::string& extension)
{
    const StoredOpener stored = storedOpener(tree, extension);
    const std::string mimeType = MimeTypeOfExtension(extension);
    if (!mimeType.empty()) {
        const std::string id = DefaultApplicationOf(mimeType);
        if (!id.empty() && id != kDesktopEntryId) {
            const std::string program = ProgramOfDesktopEntry(FindDesktopEntry(id));
            return program.empty() ? id : program;
        }
    }
    return CleanOpenerCommand(stored.hasCommand ? stored.command : stored.fileType);
}

} // namespace

std::string ExecutablePath()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return std::string();
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

void RegisterFileType(const std::string& extension, const std::string& fileType,
                      const std::string& description, const std::string& exePath, int iconIndex,
                      bool notify)
{
    // One read and one write, however many keys.
    const KeyStore root = ClassesRoot();
    KeyTree tree = root.read();
    const Failure failure("Failed to set data for ''");
    const std::pair<std::string, std::string> keys[] = {
        {extension, fileType},
        {fileType, description},
        {fileType + "\\DefaultIcon", exePath + "," + std::to_string(iconIndex)},
        {fileType + "\\Shell\\Open", "&Open"},
        {fileType + "\\Shell\\Open\\Command", "\"" + exePath + "\" \"%1\""},
    };
    bool changed = false;
    for (const auto& [path, value] : keys) {
        if (!tree.createKey(path, &changed) || !tree.setValue(path, "", value, &changed)) {
            // The keys before it stay written.
            if (changed)
                root.write(tree);
            throw failure;
        }
    }
    if (changed) {
        try {
            root.write(tree);
        } catch (const Failure&) {
            throw failure;
        }
    }
    if (notify)
        NotifyAssociationChanged();
}

void UnregisterFileType(const std::string& extension, const std::string& fileType, bool notify)
{
    const KeyStore root = ClassesRoot();
    try {
        KeyTree tree = root.read();
        const bool removedExtension = tree.removeKey(extension);
        if (tree.removeKey(fileType) || removedExtension)
            root.write(tree);
    } catch (const Failure&) {
        // Passed over, as a key that cannot be deleted is.
    }
    if (notify)
        NotifyAssociationChanged();
}

std::string GetFileTypeOpener(const std::string& extension)
{
    return fileTypeOpener(treeOrEmpty(ClassesRoot()), extension);
}

std::string CleanOpenerCommand(std::string command)
{
    const std::size_t percent = command.find('%');
    if (percent != std::string::npos)
        command.erase(percent);
    if (!command.empty() && command.front() == '"')
        command.erase(0, 1);
    if (!command.empty() && command.back() == '"')
        command.pop_back();
    while (!command.empty() && (command.back() == ' ' || command.back() == '"'))
        command.pop_back();
    return command;
}

void DeleteKeyTree(const KeyStore& root, const std::string& keyPath)
{
    try {
        KeyTree tree = root.read();
        if (tree.removeKey(keyPath))
            root.write(tree);
    } catch (const Failure&) {
    }
}

void NotifyAssociationChanged()
{
    // The desktop knows MIME types rather than extensions, and the viewer deals with .log only.
    const KeyTree tree = treeOrEmpty(ClassesRoot());
    const StoredOpener stored = storedOpener(tree, kLogExtensionWithoutDot);
    const std::string mimeType = MimeTypeOfExtension(kLogExtensionWithoutDot);
    try {
        if (stored.hasCommand && !DesktopExecOfCommand(stored.command).empty()) {
            const std::string description = stored.fileType.empty()
                                                ? std::string()
                                                : tree.value(stored.fileType, "");
            InstallDesktopAssociation(mimeType, stored.command, description);
        } else {
            RemoveDesktopAssociation(mimeType);
        }
    } catch (...) {
        RefreshDesktopDatabase();
        throw;
    }
    RefreshDesktopDatabase();
}

bool OpensLogFiles(const std::string& exePath)
{
    return GetFileTypeOpener(kLogExtensionWithoutDot) == exePath;
}

bool OpensLogFiles(const KeyTree& tree, const std::string& exePath)
{
    return fileTypeOpener(tree, kLogExtensionWithoutDot) == exePath;
}

void AssociateWithLogFiles(const std::string& exePath)
{
    RegisterFileType(kLogExtension, kLogFileType, kLogFileTypeDescription, exePath, kLogIconIndex,
                     true);
}

void RemoveLogAssociation()
{
    UnregisterFileType(kLogExtension, kLogFileType, true);
}

} // namespace tlg
