list(APPEND TLG_GUI_SOURCES
    filelist/addtofilelistdialog.cpp
)
