#pragma once

// Where a document's shown bytes are held: in memory (MemoryStorage), in its file read on
// demand (FileStorage), decoded from its file on demand (TranscodedStorage), or decompressed
// from its compressed file on demand (CompressedStorage). A storage never changes once its
// document is built; a grown document gets a storage of its own that shares with this one what
// it can (the buffer, the open file and its cache). A storage builds and grows the document's
// line index as it reads its bytes (LineIndexer), since only it knows where they come from.

#include "document/linesource.h"
#include "document/transcodedtext.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tlg {

class CompressedText;
class LineIndexer;
class TextStorage;
using StoragePtr = std::shared_ptr<const TextStorage>;

class TextStorage {
public:
    virtual ~TextStorage() = default;

    // The bytes held, those of them that stay when the source grows (a transcoded text may end
    // with bytes that its file's next bytes change), and the bytes of its file they were made
    // from (the bytes held, for a text in memory).
    ByteOffset size() const { return m_size; }
    ByteOffset stableEnd() const { return m_stable; }
    std::int64_t fileBytes() const { return m_fileSize; }

    // The bytes [from, to), which lie within the text, as LineSource::slice and read give
    // them, and passBytes for a pass.
    virtual TextSlice slice(ByteOffset from, ByteOffset to) const = 0;
    virtual TextSlice read(ByteOffset from, ByteOffset to) const = 0;
    virtual std::string_view passBytes(ByteOffset start, std::size_t length, std::string& buffer) const = 0;

    // Whether the open file `fd` holds these bytes over [from, to), a non-empty stretch within
    // the text; the size of the stretch compared at least; and whether a read found the file no
    // longer holding them (see LogDocument).
    virtual bool sameAsFile(int fd, const std::string& path, ByteOffset from, ByteOffset to) const = 0;
    virtual std::size_t checkGranule() const = 0;
    virtual bool stale() const = 0;

    // This text followed by `more`, indexed into `lines` (the index of this text, copied), or
    // this text grown to what its source now holds after its end (null when it holds nothing
    // more). A storage may read its source again whole: `lines` is then indexed anew. Failures
    // as LogDocument's appended and grown say.
    virtual StoragePtr appended(LineIndexer& lines, std::string_view more) const = 0;
    virtual StoragePtr grown(LineIndexer& lines, std::atomic<std::int64_t>* bytesRead,
                             const std::atomic<bool>* stop) const = 0;
    // Whether this text is `earlier` with bytes appended: the same source, no shorter, and
    // earlier's bytes all stable.
    bool grewFrom(const TextStorage& earlier) const;

    // Whether the bytes are read from a file rather than held in memory; what they are made of;
    // the compressed file they are decompressed from (null for any other text); whether they
    // are a compressed file's first lines, shown while its pass went on; whether its index was
    // read back from a kept one.
    virtual bool paged() const = 0;
    virtual Transcoding transcoding() const { return Transcoding::None; }
    virtual std::shared_ptr<const CompressedText> compressed() const { return nullptr; }
    virtual bool partial() const { return false; }
    virtual bool fromKeptIndex() const { return false; }

    // Bytes of memory the check values and the decoding points take, and those the cache
    // holds now (shared by the texts grown from one another).
    virtual std::size_t indexMemory() const { return 0; }
    virtual std::size_t cacheMemory() const { return 0; }

protected:
    // What the texts grown from one another share: only texts of the same source grow from
    // one another.
    virtual const void* source() const = 0;

    ByteOffset m_size = 0;
    ByteOffset m_stable = 0;
    std::int64_t m_fileSize = 0;
};

} // namespace tlg
