#pragma once

// The check values of a text read from a file: an xxHash (XXH3, 64 bits) of each whole block of
// its bytes, and one of the bytes after the last whole block. A read of the file compared with
// them tells whether the file still holds what was indexed. A copy shares the values with the
// one it was copied from (ClaimedEntries) and may take values on from where that one stood.

#include "document/growonlybuffer.h"
#include "document/positions.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tlg {

class CheckValues {
public:
    // Values of blocks of `block` bytes, room for a text of about `textBytes`.
    explicit CheckValues(std::size_t block = 64u << 10, std::size_t textBytes = 0);
    CheckValues(const CheckValues& other);
    CheckValues& operator=(const CheckValues& other);
    CheckValues(CheckValues&&) noexcept;
    CheckValues& operator=(CheckValues&&) noexcept;
    ~CheckValues();

    std::size_t block() const { return m_block; }
    // The text's next bytes.
    void add(const char* bytes, std::size_t length);
    // Takes the value of the bytes after the last whole block, and gives back what was claimed
    // and not used. Call before the values are copied for a document, or read.
    void finish();
    // A copy for a text of the bytes so far while this one goes on taking values: the copy has
    // the value of the bytes after the last whole block, and never claims more room.
    CheckValues snapshot() const;
    // Drops the values of the bytes from `stable` on and of the block that holds it: the bytes
    // of that block before `stable` are to be added again.
    void truncate(ByteOffset stable);

    // Whether `bytes`, read from `start` (a block's start) in a text of `size` bytes, are the
    // bytes the values were taken of: each whole block, and the bytes after the last whole
    // block when `bytes` reaches the text's end.
    bool matches(ByteOffset start, std::string_view bytes, ByteOffset size) const;
    // The bytes block `index` holds in a text of `size` bytes (those after the last whole block
    // for the last), and whether `bytes` are those.
    std::size_t blockLength(std::size_t index, ByteOffset size) const;
    bool matchesBlock(std::size_t index, std::string_view bytes) const;

    // The values in the form they are kept in, and the same read back for a text of `size`
    // bytes (false when the form does not fit: the values are then to be thrown away).
    void write(std::string& out) const;
    bool read(std::string_view& in, ByteOffset size);

    // Bytes of memory the values take.
    std::size_t memory() const { return m_values.count * sizeof(std::uint64_t); }

private:
    struct Tail;

    std::size_t m_block;
    ClaimedEntries<std::uint64_t> m_values; // of the whole blocks
    // The state over the bytes after the last whole block, and its value once finished.
    std::unique_ptr<Tail> m_tail;
    std::uint64_t m_tailValue = 0;
};

} // namespace tlg
