# The histogram strip's counts and the log's time stamps still run in pools of Qt's own (and so
# does the log view's colouring of a long line, in view/); the rest goes through the executor.
find_package(Qt6 REQUIRED COMPONENTS Concurrent)
list(APPEND TLG_GUI_LIBRARIES Qt6::Concurrent)
list(APPEND TLG_GUI_SOURCES
    navigate/fileslegend.cpp
    navigate/filterpane.cpp
    navigate/filterstackbar.cpp
    navigate/filterstackrunner.cpp
    navigate/findall.cpp
    navigate/finddialog.cpp
    navigate/finder.cpp
    navigate/gotolinedialog.cpp
    navigate/gototimedialog.cpp
    navigate/histogramstrip.cpp
    navigate/fieldspanel.cpp
    navigate/positionindicator.cpp
)
