# One helper per kind of test.
find_package(GTest REQUIRED)

# chimewise_add_gtest(NAME name SOURCES a.cpp b.cpp LIBS lib1 lib2 [ENV VAR=VALUE ...] [SPEAKS])
# Builds a GoogleTest binary and registers it with CTest as one entry that runs the binary whole,
# as one process: a crash at exit (a thread outliving what it uses, a static destroyed too soon)
# or a test leaking into the next shows there, where one process per test would hide it. A
# binary whose tests speak (a speech thread, sound outputs) runs twice in a row. Every run is
# headless, in local time with daylight saving (Europe/Berlin) and with a private HOME.
function(chimewise_add_gtest)
  cmake_parse_arguments(T "SPEAKS" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  chimewise_warnings(${T_NAME})
  # Under the sanitizers each binary runs once: that pass is slow already, and it sees more.
  if(T_SPEAKS AND NOT CHIMEWISE_SANITIZE)
    add_test(NAME ${T_NAME} COMMAND sh -c "\"$0\" && \"$0\" --gtest_brief=1" $<TARGET_FILE:${T_NAME}>)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  endif()
  # The long binaries start first, so that two run side by side to the end.
  if(T_SPEAKS)
    set_tests_properties(${T_NAME} PROPERTIES COST 100)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT 900 ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;TZ=Europe/Berlin;CHIMEWISE_SOURCE_DIR=${PROJECT_SOURCE_DIR};CHIMEWISE_BINARY_DIR=${PROJECT_BINARY_DIR};${T_ENV}")
endfunction()

# chimewise_add_script_test(NAME name COMMAND cmd args...) runs a shell or Python script as a test.
function(chimewise_add_script_test)
  cmake_parse_arguments(T "" "NAME" "COMMAND" ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;TZ=Europe/Berlin;CHIMEWISE_SOURCE_DIR=${PROJECT_SOURCE_DIR};CHIMEWISE_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
