#include "document/unicode.h"

#include "core/errors.h"
#include "core/fields.h"
#include "core/fileops.h"

#include <sys/stat.h>

namespace tlg {

namespace {

// Reads the file dropping NULs: all of it, or after the mark only the bytes at offsets 2 to
// size - 2. The open is exclusive in spirit: it fails while any other program holds a lock on
// the file.
std::string readDroppingNuls(const std::string& path, bool afterMark)
{
    const FileHandle file = OpenForReading(path);
    struct stat st {};
    if (!file.valid() || ::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode))
        throw Failure("Cannot open file " + path);
    if (LockHeldOnFile(file.fd(), /*writeOnly=*/false))
        throw Failure("File is locked by another program: " + path);
    std::string bytes;
    if (!ReadToEnd(file.fd(), static_cast<std::size_t>(st.st_size), bytes))
        throw Failure("Cannot read file " + path);
    if (!afterMark)
        return DropNuls(bytes);
    if (bytes.size() <= 3)
        return std::string();
    return DropNuls(std::string_view(bytes).substr(2, bytes.size() - 3));
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

std::string DropNuls(std::string_view text)
{
    std::string kept;
    kept.reserve(text.size());
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t nul = text.find('\0', start);
        const std::size_t end = nul == std::string_view::npos ? text.size() : nul;
        kept.append(text.substr(start, end - start));
        start = end + 1;
    }
    return kept;
}

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

UnicodeKind ClassifyLoadedText(std::string_view loaded)
{
    return ClassifyLoadedText(loaded, true);
}

UnicodeKind ClassifyLoadedText(std::string_view loaded, bool holdsNul)
{
    if (holdsNul && trimBlanks(loaded).find('\0') != std::string_view::npos)
        return UnicodeKind::NulBytes;
    char first[2] = {};
    std::size_t found = 0;
    for (std::size_t i = 0; i < loaded.size() && found < 2; ++i) {
        if (loaded[i] != '\0')
            first[found++] = loaded[i];
    }
    if (found == 2 && first[0] == '\xFF' && first[1] == '\xFE')
        return UnicodeKind::ByteOrderMark;
    return UnicodeKind::SingleByte;
}

UnicodeKind ClassifyLoadedText(const LogDocument& loaded)
{
    constexpr std::size_t kChunk = 1u << 20;
    if (loaded.holdsNul()) {
        // A NUL between the first and the last byte that is not blank.
        ByteOffset first = -1;
        loaded.forEachChunk(0, loaded.size(), kChunk, 0, [&](ByteOffset at, std::string_view bytes) {
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (!isBlank(bytes[i])) {
                    first = at + static_cast<ByteOffset>(i);
                    return false;
                }
            }
            return true;
        });
        ByteOffset last = -1;
        loaded.forEachChunkBackwards(0, loaded.size(), kChunk, 0, [&](ByteOffset at, std::string_view bytes) {
            for (std::size_t i = bytes.size(); i-- > 0;) {
                if (!isBlank(bytes[i])) {
                    last = at + static_cast<ByteOffset>(i);
                    return false;
                }
            }
            return true;
        });
        bool nul = false;
        if (first >= 0 && last > first) {
            loaded.forEachChunk(first, last, kChunk, 0, [&](ByteOffset, std::string_view bytes) {
                nul = bytes.find('\0') != std::string_view::npos;
                return !nul;
            });
        }
        if (nul)
            return UnicodeKind::NulBytes;
    }
    char firstTwo[2] = {};
    std::size_t found = 0;
    loaded.forEachChunk(0, loaded.size(), kChunk, 0, [&](ByteOffset, std::string_view bytes) {
        for (std::size_t i = 0; i < bytes.size() && found < 2; ++i) {
            if (bytes[i] != '\0')
                firstTwo[found++] = bytes[i];
        }
        return found < 2;
    });
    if (found == 2 && firstTwo[0] == '\xFF' && firstTwo[1] == '\xFE')
        return UnicodeKind::ByteOrderMark;
    return UnicodeKind::SingleByte;
}

} // namespace tlg
