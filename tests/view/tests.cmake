tlg_gui_test(view_gui_tests view/tst_logview.cpp)
