#include "log/textload.h"

#include "app/errors.h"
#include "app/fileops.h"

#include <sys/stat.h>

namespace tlg {

DocumentPtr LoadPlainText(const std::string& path)
{
    const FileHandle file = OpenForReading(path);
    if (!file.valid())
        throw Failure("Cannot open file " + path);
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0)
        throw Failure("Cannot open file " + path);
    if (S_ISDIR(st.st_mode))
        throw Failure("Cannot open file " + path + ": it is a folder");
    if (!S_ISREG(st.st_mode))
        throw Failure("Cannot open file " + path + ": it is not a regular file");
    if (LockHeldOnFile(file.fd(), /*writeOnly=*/true))
        throw Failure("File is locked by another program: " + path);

    // To the end, also when a writer appended since fstat.
    std::string bytes;
    if (!ReadToEnd(file.fd(), static_cast<std::size_t>(st.st_size), bytes))
        throw Failure("Cannot read file " + path);
    return LogDocument::fromBytes(std::move(bytes));
}

} // namespace tlg
