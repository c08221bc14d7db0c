#pragma once

// The line index and restart points of compressed logs, kept in the cache folder so that a
// second open of the same file costs a read of them rather than a decompression. A kept index is
// used only for the very file it was made of: the same device, inode, size and modification time
// (to the nanosecond), and the same check values of its first and last 64 KiB. The kept indexes
// take at most a bound together (1 GiB unless told otherwise); the least recently used go first.

#include <cstdint>
#include <string>
#include <string_view>

namespace tlg {

// What identifies the file a kept index was made of.
struct KeptIndexKey {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::uint64_t headCheck = 0;
    std::uint64_t tailCheck = 0;
    bool operator==(const KeptIndexKey&) const = default;
};

inline constexpr std::uint64_t kKeptIndexLimit = 1ull << 30;

// The key of the open file; `valid` false when it cannot be read.
KeptIndexKey KeptIndexKeyOf(int fd, bool& valid);

// The index kept for the file of `key` in the cache folder (marked as used now); empty when
// there is none, or it was made of another file or state of it, or cannot be read.
std::string LoadKeptIndex(const KeptIndexKey& key);

// Keeps `index` for the file of `key`, replacing what was kept for it, then removes the least
// recently used kept indexes until they take at most `limit` bytes. Written to a temporary file
// renamed into place; a failure to write leaves nothing behind and is not reported (the index is
// made again at the next open).
void KeepIndex(const KeptIndexKey& key, std::string_view index, std::uint64_t limit = kKeptIndexLimit);

// Numbers in the kept form: fixed 64-bit, and 7 bits a byte for small ones.
void PutFixed(std::string& out, std::uint64_t value);
void PutVarint(std::string& out, std::uint64_t value);
// Take a number from the front of `in`; false when `in` is too short.
bool TakeFixed(std::string_view& in, std::uint64_t& value);
bool TakeVarint(std::string_view& in, std::uint64_t& value);

} // namespace tlg
