# Small helpers so that every test and benchmark target is declared the same way.

# qm_add_gtest(NAME SOURCES ... [LIBS ...]): a GoogleTest executable, linked to the core,
# whose cases CTest lists one by one. Test data is reached through QM_TEST_DATA_DIR.
function(qm_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE quillmere::core GTest::gtest GTest::gmock GTest::gtest_main
                                        quillmere_warnings ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE QM_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
                                             QM_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # The data files come from where the tests say, never from a copy of Quillmere installed on
  # the machine (the programs also look in the XDG data folders).
  set(no_data ${CMAKE_BINARY_DIR}/tests/no-installed-data)
  # (Two properties of one value each: a list would not survive the test discovery.)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "XDG_DATA_HOME=${no_data}"
                                  ENVIRONMENT_MODIFICATION "XDG_DATA_DIRS=set:${no_data}")
endfunction()

# qm_add_benchmark(NAME SOURCES ...): a Google Benchmark executable; never part of CTest.
function(qm_add_benchmark name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE quillmere::core benchmark::benchmark
                                        benchmark::benchmark_main quillmere_warnings)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
