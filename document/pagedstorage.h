#pragma once

// What the texts read from a file on demand share: only the line index, a check value per hash
// block and a bounded cache of blocks stay in memory (BlockCache, CheckValues). Every byte read
// is compared, a hash block at a time (the bytes after the last whole block by the check value
// of exactly those bytes), with what was indexed: a difference, or bytes the file no longer
// holds (which read as spaces), make the text stale. How a stretch of shown bytes is made of the
// file is each kind's own (fetch).

#include "document/blockcache.h"
#include "document/checkvalues.h"
#include "document/textstorage.h"

#include <functional>

namespace tlg {

class PagedStorage : public TextStorage {
public:
    // Served from the cache a block at a time; a stretch across cache blocks is read straight
    // from the file and kept for the next call when it is at most BlockCache::kSpanLimit.
    TextSlice slice(ByteOffset from, ByteOffset to) const override;
    // Read straight from the file, never cached.
    TextSlice read(ByteOffset from, ByteOffset to) const override;
    std::string_view passBytes(ByteOffset start, std::size_t length, std::string& buffer) const override;
    // Each hash block of [from, to) read again from `fd` and compared by its check value.
    bool sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const override;
    std::size_t checkGranule() const override { return m_cache->sizes().hashBlock; }
    bool stale() const override { return m_cache->stale(); }
    // `more` must be the bytes the file holds after this text's end: only indexed and hashed.
    StoragePtr appended(LineIndexer& lines, std::string_view more) const override;
    bool paged() const override { return true; }
    std::size_t indexMemory() const override { return m_checks.memory(); }
    std::size_t cacheMemory() const override { return m_cache->keptBytes(); }

protected:
    PagedStorage(std::shared_ptr<BlockCache> cache, std::size_t textBytes)
        : m_cache(std::move(cache)), m_checks(m_cache->sizes().hashBlock, textBytes)
    {
    }
    PagedStorage(const PagedStorage&) = default;

    // Reads the shown bytes [start, start + length) from `fd` into out; `start` is at a hash
    // block and `length` is never 0. Returns the bytes the file gave (fewer when it is shorter),
    // or -1 on a read error.
    virtual std::int64_t fetch(int fd, ByteOffset start, std::size_t length, char* out) const = 0;
    // A copy of this text, to be grown into another.
    virtual std::shared_ptr<PagedStorage> copy() const = 0;
    // Ends a stretch of indexing: the index, the check values and the size. `whole`: the text
    // is all stable and made of as many bytes of its file (a transcoded text says its own).
    void finishText(LineIndexer& lines, bool whole);

    const void* source() const override { return m_cache.get(); }

    std::shared_ptr<BlockCache> m_cache;
    CheckValues m_checks;

private:
    // Reads [start, end), widened to whole hash blocks, into a buffer that `allocate(bytes)`
    // gives, checks it and returns where [start, end) lies in it.
    const char* readChecked(ByteOffset start, ByteOffset end, const std::function<char*(std::size_t)>& allocate) const;
    // Compares shown bytes read from hash block start `start` on with the check values; marks
    // the text stale on a difference.
    void verify(ByteOffset start, std::string_view bytes) const;
    // The cached block `index` holding [its start, to).
    std::shared_ptr<const std::string> cachedBlock(std::size_t index, ByteOffset to) const;
};

} // namespace tlg
