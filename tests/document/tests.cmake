tlg_core_test(document_core_tests
    document/append_test.cpp
    document/encoding_test.cpp
    document/logdocument_test.cpp
    document/pageddocument_test.cpp
    document/textload_test.cpp
    document/unicode_test.cpp
)
