# One helper per kind of test.
find_package(GTest REQUIRED)
include(GoogleTest)

# chimewise_add_gtest(NAME name SOURCES a.cpp b.cpp LIBS lib1 lib2 [ENV VAR=VALUE ...])
# Builds a GoogleTest binary and registers each of its tests with CTest. Every test runs
# headless, in UTC-free local time (a zone with daylight saving) and with a private HOME.
function(chimewise_add_gtest)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  chimewise_warnings(${T_NAME})
  # The variables are one list for CTest. Its separators pass through three rounds of CMake
  # argument parsing on their way into the discovered tests, hence the deep escape.
  set(env QT_QPA_PLATFORM=offscreen TZ=Europe/Berlin CHIMEWISE_SOURCE_DIR=${PROJECT_SOURCE_DIR}
      CHIMEWISE_BINARY_DIR=${PROJECT_BINARY_DIR} ${T_ENV})
  string(REPLACE ";" "\\\\\\\\\\\\\\\\;" env "${env}")
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${env}")
endfunction()

# chimewise_add_script_test(NAME name COMMAND cmd args...) runs a shell or Python script as a test.
function(chimewise_add_script_test)
  cmake_parse_arguments(T "" "NAME" "COMMAND" ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;TZ=Europe/Berlin;CHIMEWISE_SOURCE_DIR=${PROJECT_SOURCE_DIR};CHIMEWISE_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
