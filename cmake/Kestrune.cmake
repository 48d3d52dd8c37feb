# Small helpers so that adding a test, a benchmark or a fuzz target is one line.

find_package(GTest REQUIRED)
find_package(benchmark QUIET)

# add_kestrune_test(NAME SOURCES a.cpp b.cpp LIBS kestrune_document [LABELS slow])
function(add_kestrune_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} kestrune_testsupport GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}")
endfunction()

# add_kestrune_bench(NAME SOURCES a.cpp LIBS ...): a plain program that bench/run calls.
function(add_kestrune_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

include(GoogleTest)
