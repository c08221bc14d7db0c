tlg_core_test(core_tests
    core/fields_test.cpp
    core/faststrings_test.cpp
    core/fileops_test.cpp
    core/piecerelay_test.cpp
    core/settingsfile_test.cpp
    core/settingsfolder_test.cpp
)
