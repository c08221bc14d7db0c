# One log per open tab, one kind of log a class behind the Log interface: what it reads, its
# text, its encoding and following it. Its operations run in order on the executor; it uses Qt
# Core for its signals only.
find_package(Qt6 REQUIRED COMPONENTS Core)
list(APPEND TLG_CORE_LIBRARIES Qt6::Core)
list(APPEND TLG_CORE_SOURCES
    source/recentlogs.cpp
    source/session.cpp
    source/textoperations.cpp
    source/filterstore.cpp
    source/filelog.cpp
    source/follower.cpp
    source/journallog.cpp
    source/linemarks.cpp
    source/log.cpp
    source/logtimes.cpp
    source/onetextlog.cpp
    source/logoperations.cpp
    source/perlogfile.cpp
    source/logopening.cpp
    source/pipetext.cpp
    source/textsaver.cpp
    source/mergedlog.cpp
    source/pipelog.cpp
    source/sharedfilewatcher.cpp
    source/watchstate.cpp
)
