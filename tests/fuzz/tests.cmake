# Fuzz harnesses: each defines LLVMFuzzerTestOneInput over one parser and checks what must hold
# for any input. The normal build replays each one's seed corpus (with the reproducers of
# faults found) as a test through a plain main. With clang and TLG_FUZZ on, each is also built
# as a libFuzzer program over a copy of tlgcore built for fuzzing; scripts/fuzz.sh runs them.
set(TLG_FUZZ_HARNESSES
    colouring fields filelist findforward formatfile httpmessage keystore logdocument unicode)
option(TLG_FUZZ "Build the libFuzzer programs in tests/fuzz (needs clang)" OFF)

foreach(harness ${TLG_FUZZ_HARNESSES})
    add_executable(fuzz_replay_${harness} fuzz/${harness}_fuzz.cpp fuzz/replaymain.cpp)
    target_link_libraries(fuzz_replay_${harness} PRIVATE tlgcore)
    add_test(NAME fuzz_replay.${harness}
             COMMAND fuzz_replay_${harness} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${harness})
endforeach()

if(TLG_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "TLG_FUZZ needs clang (configure with CXX=clang++)")
    endif()
    set(fuzz_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    # The parsers only: the sources' Qt Core signals are left out.
    set(fuzz_sources ${TLG_CORE_SOURCES})
    list(FILTER fuzz_sources EXCLUDE REGEX "^source/logsource")
    list(TRANSFORM fuzz_sources PREPEND ${PROJECT_SOURCE_DIR}/)
    add_library(tlgcore_fuzz STATIC ${fuzz_sources})
    target_include_directories(tlgcore_fuzz PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(tlgcore_fuzz PRIVATE -fsanitize=fuzzer-no-link ${fuzz_flags})
    foreach(harness ${TLG_FUZZ_HARNESSES})
        add_executable(fuzz_${harness} fuzz/${harness}_fuzz.cpp)
        target_compile_options(fuzz_${harness} PRIVATE -fsanitize=fuzzer ${fuzz_flags})
        target_link_options(fuzz_${harness} PRIVATE -fsanitize=fuzzer ${fuzz_flags})
        target_link_libraries(fuzz_${harness} PRIVATE tlgcore_fuzz)
    endforeach()
endif()
