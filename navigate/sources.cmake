# Find, the filter pane and stack, the time histogram and the fields panel; their work beside the
# GUI thread goes through the executor.
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
