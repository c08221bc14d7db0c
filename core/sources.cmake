# The ground: utilities that every subsystem uses and that include nothing else of ours.
list(APPEND TLG_CORE_SOURCES
    core/beside.cpp
    core/cp1252.cpp
    core/executor.cpp
    core/fields.cpp
    core/faststrings.cpp
    core/fileops.cpp
    core/piecerelay.cpp
    core/serialqueue.cpp
    core/timetext.cpp
)
list(APPEND TLG_GUI_SOURCES
    core/controls.cpp
    core/messages.cpp
)
