list(APPEND TLG_CORE_SOURCES
    shell/associate.cpp
    shell/desktopshell.cpp
    shell/keystore.cpp
    shell/xdgdirs.cpp
)
list(APPEND TLG_GUI_SOURCES
    shell/associationcheck.cpp
)
