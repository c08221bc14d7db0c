# One source per open log: what it reads, its document, its encoding and following it.
list(APPEND TLG_CORE_SOURCES
    source/recentlogs.cpp
    source/watchstate.cpp
)
list(APPEND TLG_GUI_SOURCES
    source/logfollower.cpp
    source/opening.cpp
    source/unicodestep.cpp
    source/watcher.cpp
)
