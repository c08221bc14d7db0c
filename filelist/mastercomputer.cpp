#include "filelist/mastercomputer.h"

#include "core/fileops.h"

namespace tlg {

std::string ReadOrCreateMasterComputerName(const std::string& folder)
{
    const std::string existing = FindSettingsFile(folder, kMasterComputerFileName);
    if (AgeStamp(existing) != -1) {
        const std::string content = ReadSettingsFile(existing);
        std::string name = content.substr(0, content.find_first_of("\r\n"));
        // It is put into every path of the file list that names it.
        if (name.size() > kMaxComputerNameLength)
            throw SettingsFileRefused("Settings file " + existing + " is not read: its first line is longer than " +
                                      std::to_string(kMaxComputerNameLength) +
                                      " bytes, more than any computer name");
        return name;
    }
    const std::string name = LocalComputerName();
    WriteFileAtomically(folder + kMasterComputerFileName, name + "\r\n");
    return name;
}

} // namespace tlg
