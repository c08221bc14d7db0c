tlg_core_test(shell_core_tests
    shell/associate_test.cpp
    shell/desktopshell_test.cpp
    shell/desktoptools_test.cpp
    shell/installedentry_test.cpp
    shell/keystore_test.cpp
)
tlg_gui_test(shell_gui_tests shell/tst_associationcheck.cpp)
tlg_gui_test(shell_viewer_tests shell/tst_viewerassociation.cpp)
