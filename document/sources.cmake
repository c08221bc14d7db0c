# Data without widgets: the documents and their line index, check values, loading, encodings.
# A paged log's check values: xxHash.
find_package(PkgConfig REQUIRED)
pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)
list(APPEND TLG_CORE_LIBRARIES PkgConfig::XXHASH)

list(APPEND TLG_CORE_SOURCES
    document/blockcache.cpp
    document/checkvalues.cpp
    document/encoding.cpp
    document/filestorage.cpp
    document/growonlybuffer.cpp
    document/keptlines.cpp
    document/layoutcache.cpp
    document/lineindex.cpp
    document/lineindexer.cpp
    document/linelayout.cpp
    document/linesource.cpp
    document/logdocument.cpp
    document/memorystorage.cpp
    document/mergedlines.cpp
    document/pagedstorage.cpp
    document/pipespool.cpp
    document/savetext.cpp
    document/textcheck.cpp
    document/textload.cpp
    document/textstorage.cpp
    document/timeindex.cpp
    document/timestamps.cpp
    document/transcodedstorage.cpp
    document/transcodedtext.cpp
    document/unicode.cpp
)

# Compressed logs read in place: zlib, liblzma, libbz2, libzstd; archives' members: libarchive.
pkg_check_modules(ZLIB_PC REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(LZMA REQUIRED IMPORTED_TARGET liblzma)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
find_package(BZip2 REQUIRED)
list(APPEND TLG_CORE_LIBRARIES PkgConfig::ZLIB_PC PkgConfig::LZMA PkgConfig::ZSTD PkgConfig::LIBARCHIVE BZip2::BZip2)
list(APPEND TLG_CORE_SOURCES
    document/archivedecoder.cpp
    document/archivereader.cpp
    document/bzip2decoder.cpp
    document/compresseddecoder.cpp
    document/compressedindexcache.cpp
    document/compressedstorage.cpp
    document/compressedtext.cpp
    document/decompression.cpp
    document/gzipdecoder.cpp
    document/sniffing.cpp
    document/xzblockdecoder.cpp
    document/xzdecoder.cpp
    document/zstddecoder.cpp
)
