# The systemd journal read through sd-journal: its entries as lines, a line source over them.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
list(APPEND TLG_CORE_LIBRARIES PkgConfig::LIBSYSTEMD)
list(APPEND TLG_CORE_SOURCES
    journal/journallines.cpp
    journal/journalreader.cpp
)
