tlg_gui_test(app_gui_tests app/tst_viewer.cpp)
