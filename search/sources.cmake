# Looking through a document: the find text, the filter's patterns, the colour rules' labels
# and the overview strip's line marks.
# The filter's regular expressions: PCRE2 with its JIT. The overview strip looks for every label
# in one pass: Vectorscan (the Hyperscan API).
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(HS REQUIRED IMPORTED_TARGET libhs)
list(APPEND TLG_CORE_LIBRARIES PkgConfig::PCRE2 PkgConfig::HS)

list(APPEND TLG_CORE_SOURCES
    search/casefolding.h
    search/colourrules.cpp
    search/filterstack.cpp
    search/linefilter.cpp
    search/overview.cpp
    search/regexsearch.cpp
    search/textsearch.cpp
    search/timehistogram.cpp
)
