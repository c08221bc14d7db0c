# One source per open log: what it reads, its text, its encoding and following it. Its
# operations run on a thread of its own; it uses Qt Core for its signals only.
find_package(Qt6 REQUIRED COMPONENTS Core)
list(APPEND TLG_CORE_LIBRARIES Qt6::Core)
list(APPEND TLG_CORE_SOURCES
    source/recentlogs.cpp
    source/session.cpp
    source/textoperations.cpp
    source/filterstore.cpp
    source/journalsource.cpp
    source/linemarks.cpp
    source/perlogfile.cpp
    source/logsource.cpp
    source/pipetext.cpp
    source/textsaver.cpp
    source/mergedsource.cpp
    source/sharedfilewatcher.cpp
    source/watchstate.cpp
)
