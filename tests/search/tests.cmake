tlg_core_test(search_core_tests
    search/colourrules_test.cpp
    search/filterstack_test.cpp
    search/linefilter_test.cpp
    search/overview_test.cpp
    search/textsearch_test.cpp
    search/timehistogram_test.cpp
)
