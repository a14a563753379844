# Helpers that keep every module built the same way.

# zolm_add_plugin(<name> EXPORTS <version-script> SOURCES ...)
# A shared library loaded by path: no "lib" prefix, only the exports listed in the version script.
function(zolm_add_plugin name)
  cmake_parse_arguments(ARG "" "EXPORTS" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_compile_definitions(${name} PRIVATE ZOLM_BUILDING_LIBRARY)
  target_link_options(${name} PRIVATE "-Wl,--version-script=${ARG_EXPORTS}" -Wl,--no-undefined)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${ARG_EXPORTS})
endfunction()

# zolm_add_test(<name> SOURCES ... LIBS ...)
# A GoogleTest executable registered with CTest, test by test.
function(zolm_add_test name)
  if(NOT ZOLM_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${ARG_PROPERTIES})
endfunction()

# zolm_add_fuzzer(<name> CORPUS <dir> SOURCES ... LIBS ...)
# A fuzz target (LLVMFuzzerTestOneInput). With ZOLM_LIBFUZZER it links libFuzzer for long runs;
# otherwise a replay driver runs every file of the seed corpus, as a regression test under CTest.
function(zolm_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(ZOLM_LIBFUZZER)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/testing/fuzz_replay.cpp)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(ZOLM_BUILD_TESTS AND NOT ZOLM_LIBFUZZER)
    add_test(NAME ${name}.corpus COMMAND ${name} ${ARG_CORPUS})
  endif()
endfunction()
