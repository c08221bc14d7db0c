# A large text is searched beside the GUI thread.
find_package(Qt6 REQUIRED COMPONENTS Concurrent)
list(APPEND TLG_GUI_LIBRARIES Qt6::Concurrent)
# The filter's regular expressions: PCRE2 with its JIT.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
list(APPEND TLG_CORE_LIBRARIES PkgConfig::PCRE2)

list(APPEND TLG_CORE_SOURCES
    navigate/linefilter.cpp
)
list(APPEND TLG_GUI_SOURCES
    navigate/filterpane.cpp
    navigate/finddialog.cpp
    navigate/finder.cpp
    navigate/gotolinedialog.cpp
    navigate/positionindicator.cpp
)
