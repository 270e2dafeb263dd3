# Included by ctest after the discovered test lists (TEST_INCLUDE_FILES in CMakeLists.txt).
# Tests that need two runs of a program a predictable time apart run alone: tests beside them
# stretch and scatter the programs' start-up by seconds on a busy machine.
set(qm_run_alone
  integration_tests DiscoveryIntegration.ALateAnswerToThePreviousRunIsNotTakenByTheNext)
list(LENGTH qm_run_alone qm_count)
math(EXPR qm_last "${qm_count} - 1")
foreach(qm_index RANGE 0 ${qm_last} 2)
  math(EXPR qm_name_index "${qm_index} + 1")
  list(GET qm_run_alone ${qm_index} qm_program)
  list(GET qm_run_alone ${qm_name_index} qm_test)
  # Only where the program was built and lists the test.
  list(FIND ${qm_program}_TESTS "${qm_test}" qm_found)
  if(NOT qm_found EQUAL -1)
    set_tests_properties("${qm_test}" PROPERTIES RUN_SERIAL TRUE)
  endif()
endforeach()
