# Loads run beside the GUI thread.
find_package(Qt6 REQUIRED COMPONENTS Concurrent)
list(APPEND TLG_GUI_LIBRARIES Qt6::Concurrent)

list(APPEND TLG_CORE_SOURCES
    app/cp1252.cpp
    app/fields.cpp
    app/faststrings.cpp
    app/fileops.cpp
    app/mastercomputer.cpp
)
list(APPEND TLG_GUI_SOURCES
    app/background.cpp
    app/icons.cpp
    app/mainwindow.cpp
    app/messages.cpp
    app/timetext.cpp
    app/viewer.cpp
)
