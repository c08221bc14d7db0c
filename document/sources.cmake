# Data without widgets: the documents and their line index, check values, loading, encodings.
# A paged log's check values: xxHash.
find_package(PkgConfig REQUIRED)
pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)
list(APPEND TLG_CORE_LIBRARIES PkgConfig::XXHASH)
# The systemd journal: sd-journal.
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
list(APPEND TLG_CORE_LIBRARIES PkgConfig::LIBSYSTEMD)

list(APPEND TLG_CORE_SOURCES
    document/encoding.cpp
    document/journallines.cpp
    document/journalreader.cpp
    document/keptlines.cpp
    document/linesource.cpp
    document/logdocument.cpp
    document/mergedlines.cpp
    document/pipespool.cpp
    document/savetext.cpp
    document/textcheck.cpp
    document/textload.cpp
    document/timeindex.cpp
    document/timestamps.cpp
    document/transcodedtext.cpp
    document/unicode.cpp
)
