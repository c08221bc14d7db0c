# The roof: the main window that builds the controls and wires the subsystems, and the start.
list(APPEND TLG_GUI_SOURCES
    app/commandline.cpp
    app/logcontroller.cpp
    app/logtab.cpp
    app/logtabs.cpp
    app/openlogdialog.cpp
    app/icons.cpp
    app/mainwindow.cpp
    app/viewer.cpp
)
