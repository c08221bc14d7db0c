# The roof: the main window that builds the controls and wires the subsystems, and the start.
# A second start hands its logs to the running viewer over a local socket.
find_package(Qt6 REQUIRED COMPONENTS Network)
list(APPEND TLG_GUI_SOURCES
    app/archivememberdialog.cpp
    app/commandline.cpp
    app/logpresenter.cpp
    app/logtab.cpp
    app/logtabs.cpp
    app/logsaving.cpp
    app/openlogdialog.cpp
    app/icons.cpp
    app/mainwindow.cpp
    app/navigationcommands.cpp
    app/recentmenu.cpp
    app/sessionkeeper.cpp
    app/singleviewer.cpp
    app/switchbinding.cpp
    app/viewer.cpp
    app/windowcontrols.cpp
    app/windowsettings.cpp
)
list(APPEND TLG_GUI_LIBRARIES Qt6::Network)
