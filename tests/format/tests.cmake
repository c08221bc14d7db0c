tlg_core_test(format_core_tests
    format/formatfile_test.cpp
)
tlg_gui_test(format_gui_tests format/tst_colouring.cpp)
