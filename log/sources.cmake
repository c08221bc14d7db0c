# A paged log's check values: xxHash. The overview strip looks for every label in one pass:
# Vectorscan (the Hyperscan API).
find_package(PkgConfig REQUIRED)
pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)
pkg_check_modules(HS REQUIRED IMPORTED_TARGET libhs)
list(APPEND TLG_CORE_LIBRARIES PkgConfig::XXHASH PkgConfig::HS)

list(APPEND TLG_CORE_SOURCES
    log/encoding.cpp
    log/linelayout.cpp
    log/logdocument.cpp
    log/overview.cpp
    log/recentlogs.cpp
    log/textcheck.cpp
    log/textload.cpp
    log/textsearch.cpp
    log/unicode.cpp
    log/watchstate.cpp
)
list(APPEND TLG_GUI_SOURCES
    log/linerenderer.cpp
    log/logfollower.cpp
    log/logview.cpp
    log/opening.cpp
    log/overviewstrip.cpp
    log/unicodestep.cpp
    log/watcher.cpp
)
