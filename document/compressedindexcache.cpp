#include "document/compressedindexcache.h"

#include "core/fileops.h"

#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tlg {

namespace {

constexpr std::size_t kEdge = 64u << 10;
constexpr std::string_view kMagic = "tlgview compressed index 1\n";

std::uint64_t checkOf(int fd, std::int64_t offset, std::size_t length, bool& valid)
{
    std::string bytes(length, '\0');
    if (ReadAt(fd, bytes.data(), length, offset) != static_cast<std::int64_t>(length)) {
        valid = false;
        return 0;
    }
    return XXH3_64bits(bytes.data(), length);
}

void putKey(std::string& out, const KeptIndexKey& key)
{
    for (std::uint64_t value : {key.device, key.inode, static_cast<std::uint64_t>(key.size),
                                static_cast<std::uint64_t>(key.modifiedSeconds),
                                static_cast<std::uint64_t>(key.modifiedNanoseconds), key.headCheck, key.tailCheck})
        PutFixed(out, value);
}

// One kept index per file: named by its device and inode.
std::string pathOf(const KeptIndexKey& key)
{
    char name[64];
    std::snprintf(name, sizeof name, "index-%016llx.idx",
                  static_cast<unsigned long long>(XXH3_64bits_withSeed(&key.inode, sizeof key.inode, key.device)));
    return CacheFolder() + name;
}

// Removes the least recently used kept indexes until they take at most `limit`.
void trim(std::uint64_t limit)
{
    namespace fs = std::filesystem;
    struct Kept {
        fs::path path;
        std::uint64_t size;
        fs::file_time_type used;
    };
    std::vector<Kept> kept;
    std::uint64_t total = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(CacheFolder(), error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("index-") || !name.ends_with(".idx"))
            continue;
        std::error_code ignored;
        const std::uint64_t size = entry.file_size(ignored);
        kept.push_back({entry.path(), size, entry.last_write_time(ignored)});
        total += size;
    }
    std::sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) { return a.used < b.used; });
    for (const Kept& oldest : kept) {
        if (total <= limit)
            break;
        std::error_code ignored;
        fs::remove(oldest.path, ignored);
        total -= oldest.size;
    }
}

} // namespace

void PutFixed(std::string& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

void PutVarint(std::string& out, std::uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<char>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

bool TakeFixed(std::string_view& in, std::uint64_t& value)
{
    if (in.size() < 8)
        return false;
    value = 0;
    for (int i = 0; i < 8; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[static_cast<std::size_t>(i)])) << (8 * i);
    in.remove_prefix(8);
    return true;
}

bool TakeVarint(std::string_view& in, std::uint64_t& value)
{
    value = 0;
    for (int shift = 0; shift < 64 && !in.empty(); shift += 7) {
        const auto byte = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

KeptIndexKey KeptIndexKeyOf(int fd, bool& valid)
{
    KeptIndexKey key;
    struct stat st {};
    valid = ::fstat(fd, &st) == 0;
    if (!valid)
        return key;
    key.device = st.st_dev;
    key.inode = st.st_ino;
    key.size = st.st_size;
    key.modifiedSeconds = st.st_mtim.tv_sec;
    key.modifiedNanoseconds = st.st_mtim.tv_nsec;
    const auto edge = static_cast<std::size_t>(std::min<std::int64_t>(st.st_size, kEdge));
    key.headCheck = checkOf(fd, 0, edge, valid);
    key.tailCheck = checkOf(fd, st.st_size - static_cast<std::int64_t>(edge), edge, valid);
    return key;
}

std::string LoadKeptIndex(const KeptIndexKey& key)
{
    const std::string path = pathOf(key);
    const FileHandle file = OpenForReading(path);
    std::string bytes;
    struct stat st {};
    if (!file.valid() || ::fstat(file.fd(), &st) != 0 || !ReadToEnd(file.fd(), static_cast<std::size_t>(st.st_size), bytes))
        return {};
    std::string expected(kMagic);
    putKey(expected, key);
    if (bytes.size() < expected.size() + 8 || bytes.compare(0, expected.size(), expected) != 0)
        return {};
    // The whole form is checked: a kept index cut short or damaged is made again.
    std::string_view body(bytes);
    body.remove_prefix(expected.size());
    std::uint64_t check = 0;
    TakeFixed(body, check);
    if (XXH3_64bits(body.data(), body.size()) != check)
        return {};
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0); // used now: the last to go
    bytes.erase(0, bytes.size() - body.size()); // (in place: an index may be tens of MiB)
    return bytes;
}

void KeepIndex(const KeptIndexKey& key, std::string_view index, std::uint64_t limit)
{
    const std::string path = pathOf(key);
    std::string head(kMagic);
    putKey(head, key);
    PutFixed(head, XXH3_64bits(index.data(), index.size()));
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemps(temporary.data(), 0, O_CLOEXEC);
    if (fd < 0)
        return;
    const bool written = WriteAll(fd, head) && WriteAll(fd, index);
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return;
    }
    trim(limit);
}

} // namespace tlg
