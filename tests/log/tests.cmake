tlg_core_test(log_core_tests
    log/append_test.cpp
    log/encoding_test.cpp
    log/logdocument_test.cpp
    log/pageddocument_test.cpp
    log/overview_test.cpp
    log/recentlogs_test.cpp
    log/textsearch_test.cpp
    log/textload_test.cpp
    log/unicode_test.cpp
    log/watchstate_test.cpp
)
tlg_gui_test(log_gui_tests log/tst_logview.cpp)
tlg_gui_test(watcher_gui_tests log/tst_watcher.cpp)
tlg_gui_test(follower_gui_tests log/tst_follower.cpp)
tlg_gui_test(opening_gui_tests log/tst_opening.cpp)
# Its open-dialog test waits for Qt's listing of a folder, which under a busy CPU (a test running
# beside it) was seen never to come: it runs alone.
set_tests_properties(opening_gui_tests PROPERTIES RUN_SERIAL TRUE)
tlg_gui_test(encoding_gui_tests log/tst_encoding.cpp)
