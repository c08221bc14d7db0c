#include "filelist/mastercomputer.h"

#include "core/fileops.h"

namespace tlg {

std::string ReadOrCreateMasterComputerName(const std::string& folder)
{
    const std::string existing = FindSettingsFile(folder, kMasterComputerFileName);
    if (AgeStamp(existing) != -1) {
        const std::string content = ReadWholeFile(existing);
        return content.substr(0, content.find_first_of("\r\n"));
    }
    const std::string name = LocalComputerName();
    WriteFileAtomically(folder + kMasterComputerFileName, name + "\r\n");
    return name;
}

} // namespace tlg
