# corvane_add_test(NAME SOURCES src... [LIBS lib...])
# A GoogleTest program for Windows; ctest lists and runs its tests through Wine.
function(corvane_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gmock)
  # Test programs are console programs that also drive windows.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT 300)
endfunction()
