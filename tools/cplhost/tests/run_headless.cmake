# Runs cplhost headless on a script in a fresh state root and compares the
# transcript with the expected one.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(ENV{SANPROV_ROOT} ${WORK})
execute_process(COMMAND ${HOST} --list ${APPLET} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT listing STREQUAL "0\ticon 1006\tZarvo VDS Hardware Provider\tConfigures Zarvo VDS Hardware Provider\n")
  message(FATAL_ERROR "cplhost --list gave ${rc}: ${listing}")
endif()
execute_process(COMMAND ${HOST} --ui=headless --script ${SCRIPT} --transcript ${WORK}/transcript ${APPLET}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cplhost exited with ${rc}")
endif()
file(READ ${WORK}/transcript actual)
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "transcript differs:\n${actual}")
endif()
