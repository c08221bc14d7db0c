# The log view: paints what is in sight, its renderer, colours and gutter, and the overview strip.
list(APPEND TLG_GUI_SOURCES
    view/linecolours.cpp
    view/linegutter.cpp
    view/linerenderer.cpp
    view/logview.cpp
    view/overviewstrip.cpp
    view/caretplacement.cpp
)
