# zovevod_add_test(NAME SOURCES... [LIBS ...]): one GoogleTest executable, registered with CTest.
function(zovevod_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE zovevod_core zovevod_test_support GTest::gtest GTest::gtest_main ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE
    ZOVEVOD_CORPUS_DIR="${ZOVEVOD_CORPUS_DIR}"
    ZOVEVOD_TESTDATA_DIR="${ZOVEVOD_TESTDATA_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# zovevod_add_qt_tests(PREFIX LIBRARY): one Qt Test executable per test_*.cpp
# of the calling folder, linked with LIBRARY and run under the offscreen platform.
function(zovevod_add_qt_tests prefix library)
  find_package(Qt6 REQUIRED COMPONENTS Test Widgets)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(source ${sources})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${prefix}_${name} ${source})
    set_target_properties(${prefix}_${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${prefix}_${name} PRIVATE ${library} Qt6::Test)
    target_compile_definitions(${prefix}_${name} PRIVATE ZOVEVOD_TESTDATA_DIR="${ZOVEVOD_TESTDATA_DIR}"
                                                       ZOVEVOD_CORPUS_DIR="${ZOVEVOD_CORPUS_DIR}")
    add_test(NAME ${prefix}_${name} COMMAND ${prefix}_${name})
    set_tests_properties(${prefix}_${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
  endforeach()
endfunction()
