# Compiler warnings, sanitizers and the fuzzing flags, applied to every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic)
# GCC 12 reports impossible overlaps (-Wrestrict) inside libstdc++'s string concatenation at
# -O3 (GCC bug 105329); the warning says nothing about this project's code there.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options(-Wno-restrict)
endif()
if(HUSHWELL_WERROR)
    add_compile_options(-Werror)
endif()

# HUSHWELL_SANITIZE picks the sanitizers: address (or ON) for address and undefined behaviour,
# thread for ThreadSanitizer; the two cannot be combined in one build.
string(TOLOWER "${HUSHWELL_SANITIZE}" hushwell_sanitize)
if(hushwell_sanitize MATCHES "^(on|yes|true|1|address)$")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(hushwell_sanitize STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT hushwell_sanitize MATCHES "^(off|no|false|0|)$")
    message(FATAL_ERROR "HUSHWELL_SANITIZE must be OFF, address or thread, not '${HUSHWELL_SANITIZE}'")
endif()

if(HUSHWELL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "HUSHWELL_FUZZ needs clang (CXX=clang++)")
    endif()
    # Libraries are instrumented for coverage; only the fuzz executables link the fuzzer main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# hushwell_add_tests(NAME SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable; every test case becomes a ctest test.
function(hushwell_add_tests name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT ARG_SOURCES)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} hushwell_test_support GTest::gtest GTest::gmock
                                          GTest::gtest_main)
    set(props)
    if(ARG_LABELS)
        set(props PROPERTIES LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES ${props})
endfunction()
