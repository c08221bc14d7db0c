#include "log/unicode.h"

#include "app/errors.h"
#include "app/fields.h"
#include "app/fileops.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {

namespace {

// Reads the file dropping NULs: all of it, or after the mark only the bytes at offsets 2 to
// size - 2. The open is exclusive in spirit: it fails while any other program holds a lock on
// the file.
std::string readDroppingNuls(const std::string& path, bool afterMark)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        throw Failure("Cannot open file " + path);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw Failure("Cannot open file " + path);
    if (LockHeldOnFile(fd, /*writeOnly=*/false))
        throw Failure("File is locked by another program: " + path);

    const std::int64_t from = afterMark ? 2 : 0;
    const std::int64_t to = afterMark ? st.st_size - 1 : -1;
    std::string text;
    text.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, st.st_size)));
    char buffer[65536];
    std::int64_t offset = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Failure("Cannot read file " + path);
        }
        if (n == 0)
            break;
        for (ssize_t i = 0; i < n; ++i, ++offset) {
            if (buffer[i] != '\0' && offset >= from && (to < 0 || offset < to))
                text.push_back(buffer[i]);
        }
    }
    return text;
}

// Compares two texts as the detection does: trimmed, with a to z upper-cased.
bool sameIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    a = trimBlanks(a);
    b = trimBlanks(b);
    if (a.size() != b.size())
        return false;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

} // namespace

std::string ReadDroppingNuls(const std::string& path)
{
    return readDroppingNuls(path, false);
}

std::string ReadAfterMark(const std::string& path)
{
    return readDroppingNuls(path, true);
}

UnicodeKind ClassifyUnicode(std::string_view loaded, std::string_view nulFree)
{
    if (!sameIgnoringAsciiCase(loaded, nulFree))
        return UnicodeKind::NulBytes;
    if (nulFree.size() >= 2 && nulFree[0] == '\xFF' && nulFree[1] == '\xFE')
        return UnicodeKind::ByteOrderMark;
    return UnicodeKind::SingleByte;
}

} // namespace tlg
