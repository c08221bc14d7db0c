#include "shell/associate.h"

#include "shell/desktopshell.h"
#include "shell/keystore.h"

#include <unistd.h>
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

StoredOpener storedOpener(const KeyStore& root, const std::string& extension)
{
    StoredOpener opener;
    // A command kept directly under the extension wins over the file type's.
    if (RegistryKey key = root.openKey("." + extension + "\\shell\\open\\command", false);
        key.isOpen()) {
        opener.command = key.readString();
        opener.hasCommand = true;
        return opener;
    }
    RegistryKey key = root.openKey("." + extension, false);
    if (!key.isOpen())
        return opener;
    opener.fileType = key.readString();
    key.close();
    if (opener.fileType.empty())
        return opener;
    if (RegistryKey command = root.openKey(opener.fileType + "\\shell\\open\\command", false);
        command.isOpen()) {
        opener.command = command.readString();
        opener.hasCommand = true;
    }
    return opener;
}

void writeDefaultValue(const KeyStore& root, const std::string& path, const std::string& value)
{
    RegistryKey key = root.openKey(path, true);
    key.writeString("", value);
    key.close();
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
    const KeyStore root = ClassesRoot();
    writeDefaultValue(root, extension, fileType);
    writeDefaultValue(root, fileType, description);
    writeDefaultValue(root, fileType + "\\DefaultIcon", exePath + "," + std::to_string(iconIndex));
    writeDefaultValue(root, fileType + "\\Shell\\Open", "&Open");
    writeDefaultValue(root, fileType + "\\Shell\\Open\\Command", "\"" + exePath + "\" \"%1\"");
    if (notify)
        NotifyAssociationChanged();
}

void UnregisterFileType(const std::string& extension, const std::string& fileType, bool notify)
{
    const KeyStore root = ClassesRoot();
    DeleteKeyTree(root, extension);
    DeleteKeyTree(root, fileType);
    if (notify)
        NotifyAssociationChanged();
}

std::string GetFileTypeOpener(const std::string& extension)
{
    const StoredOpener stored = storedOpener(ClassesRoot(), extension);
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
    RegistryKey key = root.openKey(keyPath, false);
    if (!key.isOpen())
        return;
    for (const std::string& name : key.subkeyNames())
        DeleteKeyTree(root, keyPath + "\\" + name);
    root.deleteKey(keyPath);
    key.close();
}

void NotifyAssociationChanged()
{
    // The desktop knows MIME types rather than extensions, and the viewer deals with .log only.
    const KeyStore root = ClassesRoot();
    const StoredOpener stored = storedOpener(root, kLogExtensionWithoutDot);
    const std::string mimeType = MimeTypeOfExtension(kLogExtensionWithoutDot);
    try {
        if (stored.hasCommand && !DesktopExecOfCommand(stored.command).empty()) {
            const std::string description = stored.fileType.empty()
                                                ? std::string()
                                                : root.openKey(stored.fileType, false).readString();
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
