# The log view: paints what is in sight, its layout and renderer, and the overview strip.
list(APPEND TLG_GUI_SOURCES
    view/linerenderer.cpp
    view/logview.cpp
    view/overviewstrip.cpp
    view/caretplacement.cpp
)
