# zovevod_add_test(NAME SOURCES... [LIBS ...]): one GoogleTest executable, registered with CTest.
function(zovevod_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE zovevod_core GTest::gtest GTest::gtest_main ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE
    ZOVEVOD_CORPUS_DIR="${ZOVEVOD_CORPUS_DIR}"
    ZOVEVOD_TESTDATA_DIR="${ZOVEVOD_TESTDATA_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
