list(APPEND TLG_CORE_SOURCES
    format/formatfile.cpp
)
list(APPEND TLG_GUI_SOURCES
    format/colouring.cpp
    format/formateditor.cpp
)
