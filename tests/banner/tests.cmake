tlg_core_test(banner_core_tests
    banner/bannerpages_test.cpp
    banner/httpmessage_test.cpp
)
tlg_gui_test(banner_http_tests banner/tst_httpclient.cpp)
tlg_gui_test(banner_frame_tests banner/tst_banner.cpp)
