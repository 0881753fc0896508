# Compiler settings shared by every target of the project: warnings, and optionally sanitizers.
add_library(ludex_options INTERFACE)
target_compile_options(ludex_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
# GCC 12 at -O3 reports overlapping copies inside std::string's own operator+ and erase that
# cannot happen (GCC bugs 105329 and 105651); later versions no longer do.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(ludex_options INTERFACE -Wno-restrict)
endif()
# Every symbol is bound when the program starts: the lazy binder saves all vector registers on the
# stack at a function's first call, and a password or memo that a string function had just held
# in one would stay there.
target_link_options(ludex_options INTERFACE -Wl,-z,now)
if(LUDEX_WERROR)
    target_compile_options(ludex_options INTERFACE -Werror)
endif()
if(LUDEX_SANITIZE)
    target_compile_options(ludex_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                                                   -fno-omit-frame-pointer)
    target_link_options(ludex_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# ludex_add_test(NAME SOURCES ... [LIBS ...] [NO_MAIN]): a GoogleTest executable registered with
# CTest. NO_MAIN leaves out GoogleTest's main, for tests that bring their own (the GUI tests).
function(ludex_add_test name)
    cmake_parse_arguments(ARG "NO_MAIN" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(NOT ARG_NO_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${name} PRIVATE ludex_core ${ARG_LIBS} GTest::gtest GTest::gmock ludex_options)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE LUDEX_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
                                               LUDEX_BIN_DIR="${LUDEX_BIN_DIR}")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# ludex_add_bench(NAME SOURCES ... [LIBS ...]): a Google Benchmark executable (not run by CTest).
function(ludex_add_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ludex_core ${ARG_LIBS} benchmark::benchmark ludex_options)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# ludex_add_fuzzer(NAME SOURCES ...): a libFuzzer target built with clang.
function(ludex_add_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ludex_core ${ARG_LIBS} ludex_options)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()
