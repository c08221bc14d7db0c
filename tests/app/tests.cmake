tlg_gui_test(app_gui_tests app/tst_viewer.cpp)
# The open logs kept, written in order on the executor.
tlg_gui_test(sessionkeeper_tests app/tst_sessionkeeper.cpp)
tlg_gui_test(histogram_gui_tests app/tst_histogram.cpp)
tlg_gui_test(app_commandline_tests app/tst_commandline.cpp)

# A start of the whole viewer that the start-up tests run from program folders of their own.
add_executable(settings_probe app/settingsprobe.cpp)
target_link_libraries(settings_probe PRIVATE tlgui)
tlg_core_test(app_start_tests app/settingsstart_test.cpp)
target_compile_definitions(app_start_tests PRIVATE TLG_SETTINGS_PROBE="$<TARGET_FILE:settings_probe>")
add_dependencies(app_start_tests settings_probe)
target_compile_definitions(app_commandline_tests PRIVATE TLG_PROGRAM="$<TARGET_FILE:tlgview>"
                                                         TLG_VERSION="${PROJECT_VERSION}")
add_dependencies(app_commandline_tests tlgview)
tlg_gui_test(comfort_gui_tests app/tst_comfort.cpp)
# A second start of the program hands its logs to the listening viewer.
tlg_gui_test(app_singleviewer_tests app/tst_singleviewer.cpp)
target_compile_definitions(app_singleviewer_tests PRIVATE TLG_PROGRAM="$<TARGET_FILE:tlgview>")
add_dependencies(app_singleviewer_tests tlgview)
tlg_gui_test(tabs_gui_tests app/tst_tabs.cpp)
tlg_gui_test(filterstack_gui_tests app/tst_filterstack.cpp)
tlg_gui_test(gototime_gui_tests app/tst_gototime.cpp)
# A log read from a pipe (standard input).
tlg_gui_test(pipe_gui_tests app/tst_pipe.cpp)
tlg_gui_test(merged_gui_tests app/tst_merged.cpp)
tlg_gui_test(journal_gui_tests app/tst_journal.cpp)
# Compressed logs opened in the viewer.
tlg_gui_test(compressed_gui_tests app/tst_compressed.cpp)
