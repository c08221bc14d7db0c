tlg_core_test(document_core_tests
    document/append_test.cpp
    document/encoding_test.cpp
    document/keptlines_test.cpp
    document/logdocument_test.cpp
    document/mergedlines_test.cpp
    document/pageddocument_test.cpp
    document/positions_test.cpp
    document/textload_test.cpp
    document/timeindex_test.cpp
    document/timestamps_test.cpp
    document/transcoded_test.cpp
    document/unicode_test.cpp
)

tlg_core_test(compressed_core_tests
    document/compressed_test.cpp
)
