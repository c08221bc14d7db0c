#include "document/blockcache.h"

#include <algorithm>

namespace tlg {

BlockCache::BlockCache(FileHandle file, std::string path, const PagingSizes& sizes)
    : m_file(std::move(file)), m_path(std::move(path)), m_sizes(sizes)
{
    m_sizes.hashBlock = std::max<std::size_t>(m_sizes.hashBlock, 1);
    m_sizes.cacheBlock = std::max<std::size_t>(m_sizes.cacheBlock / m_sizes.hashBlock, 1) * m_sizes.hashBlock;
    m_sizes.cacheBlocks = std::max<std::size_t>(m_sizes.cacheBlocks, 1);
    m_sizes.readChunk = std::max<std::size_t>(m_sizes.readChunk, 1);
}

std::shared_ptr<const std::string> BlockCache::block(std::size_t index, ByteOffset to, ByteOffset stable,
                                                     std::int64_t fileSize)
{
    const auto start = static_cast<ByteOffset>(index * m_sizes.cacheBlock);
    const std::lock_guard lock(m_mutex);
    for (Kept& entry : m_entries) {
        if (entry.from == start && serves(entry, to, stable, fileSize)) {
            entry.used = ++m_clock;
            return entry.bytes;
        }
    }
    return nullptr;
}

void BlockCache::keepBlock(std::size_t index, std::shared_ptr<const std::string> bytes, ByteOffset stable,
                           std::int64_t fileSize)
{
    const auto start = static_cast<ByteOffset>(index * m_sizes.cacheBlock);
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [start](const Kept& entry) { return entry.from == start; });
    if (m_entries.size() >= m_sizes.cacheBlocks)
        m_entries.erase(oldest(m_entries.begin(), m_entries.end()));
    m_entries.push_back({start, std::move(bytes), std::min(stable, start), fileSize, ++m_clock});
    fixStable(m_entries.back(), stable);
}

std::shared_ptr<const std::string> BlockCache::span(ByteOffset from, ByteOffset to, ByteOffset stable,
                                                    std::int64_t fileSize, ByteOffset& start)
{
    const std::lock_guard lock(m_mutex);
    for (Kept& kept : m_spans) {
        if (kept.from <= from && serves(kept, to, stable, fileSize)) {
            kept.used = ++m_clock;
            start = kept.from;
            return kept.bytes;
        }
    }
    return nullptr;
}

void BlockCache::keepSpan(ByteOffset from, std::shared_ptr<const std::string> bytes, ByteOffset stable,
                          std::int64_t fileSize)
{
    if (bytes->size() > kSpanLimit)
        return;
    const std::lock_guard lock(m_mutex);
    m_spans.push_back({from, std::move(bytes), 0, fileSize, ++m_clock});
    fixStable(m_spans.back(), stable);
    auto total = [this] {
        std::size_t sum = 0;
        for (const Kept& kept : m_spans)
            sum += kept.bytes->size();
        return sum;
    };
    while (m_spans.size() > kSpans || total() > kSpanBytes)
        m_spans.erase(oldest(m_spans.begin(), m_spans.end() - 1));
}

std::size_t BlockCache::keptBytes()
{
    const std::lock_guard lock(m_mutex);
    std::size_t sum = 0;
    for (const Kept& kept : m_entries)
        sum += kept.bytes->size();
    for (const Kept& kept : m_spans)
        sum += kept.bytes->size();
    return sum;
}

void BlockCache::fixStable(Kept& kept, ByteOffset stable)
{
    kept.stableTo = std::min(stable, kept.from + static_cast<ByteOffset>(kept.bytes->size()));
}

bool BlockCache::serves(const Kept& kept, ByteOffset to, ByteOffset stable, std::int64_t fileSize)
{
    if (to > kept.from + static_cast<ByteOffset>(kept.bytes->size()))
        return false;
    return kept.fileSize == fileSize || to <= std::min(kept.stableTo, stable);
}

std::vector<BlockCache::Kept>::iterator BlockCache::oldest(std::vector<Kept>::iterator begin,
                                                           std::vector<Kept>::iterator end)
{
    return std::min_element(begin, end, [](const Kept& a, const Kept& b) { return a.used < b.used; });
}

} // namespace tlg
