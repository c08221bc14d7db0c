#pragma once

#include <cstddef>

namespace tlg {

// How a document read from a file holds it. Tests make them tiny to cross every boundary.
struct PagingSizes {
    std::size_t cacheBlock = 256u << 10; // bytes the block cache reads at a time
    std::size_t cacheBlocks = 32;        // blocks the cache keeps
    std::size_t hashBlock = 64u << 10;   // bytes a check value covers
    // Bytes a whole-file read takes at a time: small enough that fifty logs opening at once
    // hold little, large enough that a read costs few calls.
    std::size_t readChunk = 1u << 20;
    // Bytes of text between the restart points of a compressed file.
    std::size_t restartEvery = 4u << 20;
    // Bytes of text after which a compressed file's pass tells its first lines again, besides
    // every quarter of a second; 0: by the time alone.
    std::size_t partialEvery = 0;
};

} // namespace tlg
