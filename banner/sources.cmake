# The banner frame, the HTTP client that fetches its pages, and the link and build labels.
find_package(Qt6 REQUIRED COMPONENTS Network)
list(APPEND TLG_CORE_SOURCES
    banner/bannerpages.cpp
    banner/downloadfile.cpp
    banner/httpmessage.cpp
)
list(APPEND TLG_GUI_SOURCES
    banner/banner.qrc
    banner/bannerframe.cpp
    banner/buildlabel.cpp
    banner/homepage.cpp
    banner/httpclient.cpp
    banner/powersock.cpp
    banner/urllabel.cpp
)
list(APPEND TLG_GUI_LIBRARIES Qt6::Network)
