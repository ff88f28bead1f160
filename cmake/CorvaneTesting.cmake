# corvane_add_test(NAME SOURCES src... [LIBS lib...] [LABELS label...])
# A GoogleTest program for Windows; ctest lists and runs its tests through Wine. LABELS wow64:
# its tests run again in the 64-bit prefix (scripts/test.sh).
function(corvane_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gmock)
  # Test programs are console programs that also drive windows.
  set(properties TIMEOUT 300)
  if(T_LABELS)
    list(APPEND properties LABELS ${T_LABELS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${properties})
endfunction()
