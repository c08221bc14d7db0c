list(APPEND TLG_CORE_SOURCES
    filelist/filelist.cpp
    filelist/mastercomputer.cpp
)
list(APPEND TLG_GUI_SOURCES
    filelist/addtofilelistdialog.cpp
    filelist/filelistpanel.cpp
)
