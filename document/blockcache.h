#pragma once

// The open file a paged text reads its bytes from, shared by the texts grown from one another,
// with a small cache of the blocks of shown bytes read last and of the stretches across blocks
// read last (each at most kSpanLimit bytes), and whether a read found the file changed.
//
// Texts of one file share their shown bytes up to the stable end of each (a transcoded text may
// end with bytes that a growth changes), so a kept block or stretch serves a text when the bytes
// asked for lie within both stable ends, or when it was read for the same file size.

#include "core/fileops.h"
#include "document/pagingsizes.h"
#include "document/positions.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tlg {

class BlockCache {
public:
    // The longest stretch across blocks kept, and what the kept stretches take at most.
    static constexpr std::size_t kSpanLimit = 4u << 20;
    static constexpr std::size_t kSpanBytes = 16u << 20;
    static constexpr std::size_t kSpans = 64;

    // Reads `file` (invalid for a text read otherwise: compressed), with the sizes made whole:
    // a cache block holds whole hash blocks, so that it can be checked when read.
    BlockCache(FileHandle file, std::string path, const PagingSizes& sizes);

    int fd() const { return m_file.fd(); }
    const std::string& path() const { return m_path; }
    const PagingSizes& sizes() const { return m_sizes; }

    // A kept block `index` that holds [its start, to) for a text with this stable end and file
    // size; null when there is none.
    std::shared_ptr<const std::string> block(std::size_t index, ByteOffset to, ByteOffset stable,
                                             std::int64_t fileSize);
    void keepBlock(std::size_t index, std::shared_ptr<const std::string> bytes, ByteOffset stable,
                   std::int64_t fileSize);
    // A kept stretch across blocks that holds [from, to), and where it starts; null when none.
    std::shared_ptr<const std::string> span(ByteOffset from, ByteOffset to, ByteOffset stable, std::int64_t fileSize,
                                            ByteOffset& start);
    // Keeps a stretch just read, when it is no longer than kSpanLimit; the oldest go while the
    // stretches take more than kSpanBytes.
    void keepSpan(ByteOffset from, std::shared_ptr<const std::string> bytes, ByteOffset stable,
                  std::int64_t fileSize);
    // The bytes the blocks and the stretches kept hold.
    std::size_t keptBytes();

    // A read found that the file no longer holds what was indexed.
    void markStale() { m_stale.store(true, std::memory_order_relaxed); }
    bool stale() const { return m_stale.load(std::memory_order_relaxed); }

private:
    struct Kept {
        ByteOffset from;
        std::shared_ptr<const std::string> bytes;
        ByteOffset stableTo; // the bytes before this are those of every text of the file
        std::int64_t fileSize;
        std::uint64_t used;
    };
    static void fixStable(Kept& kept, ByteOffset stable);
    static bool serves(const Kept& kept, ByteOffset to, ByteOffset stable, std::int64_t fileSize);
    static std::vector<Kept>::iterator oldest(std::vector<Kept>::iterator begin, std::vector<Kept>::iterator end);

    FileHandle m_file;
    std::string m_path;
    PagingSizes m_sizes;
    std::mutex m_mutex;
    std::vector<Kept> m_entries; // guarded by m_mutex
    std::vector<Kept> m_spans;   // guarded by m_mutex, the newest last
    std::uint64_t m_clock = 0;   // guarded by m_mutex
    std::atomic<bool> m_stale{false};
};

} // namespace tlg
