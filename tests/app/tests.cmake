tlg_core_test(app_core_tests
    app/fields_test.cpp
    app/faststrings_test.cpp
    app/fileops_test.cpp
    app/mastercomputer_test.cpp
)
tlg_gui_test(app_gui_tests app/tst_viewer.cpp)
