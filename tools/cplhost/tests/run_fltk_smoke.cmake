# Opens the applet in real windows on a virtual display and checks that a
# picture of each page, the dialog and a message box was saved.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/shots)
set(ENV{SANPROV_ROOT} ${WORK})
# Fontconfig keeps its caches to the end of the process; under the address
# sanitizer that is not ours to report.
set(ENV{LSAN_OPTIONS} "suppressions=${CMAKE_CURRENT_LIST_DIR}/fontconfig.supp")
# Parallel runs of xvfb-run can race for a display number: start from a
# random one and try again when the server was lost.
foreach(attempt 1 2 3)
  string(RANDOM LENGTH 3 ALPHABET 0123456789 display)
  math(EXPR display "${display} + 100")
  execute_process(COMMAND ${XVFB_RUN} -a -n ${display} ${HOST} --ui=fltk --script ${SCRIPT}
                          --screenshots ${WORK}/shots ${APPLET}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out TIMEOUT 120)
  if(rc EQUAL 0 OR NOT out MATCHES "display")
    break()
  endif()
endforeach()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cplhost under Xvfb exited with ${rc}: ${out}")
endif()
foreach(shot sheet-subsystems sheet-version dialog-subsystem-credentials message-1 message-2)
  set(png ${WORK}/shots/${shot}.png)
  if(NOT EXISTS ${png})
    message(FATAL_ERROR "no screenshot ${shot}.png")
  endif()
  file(READ ${png} head LIMIT 8 HEX)
  file(SIZE ${png} size)
  if(NOT head STREQUAL "89504e470d0a1a0a" OR size LESS 10000)
    message(FATAL_ERROR "${shot}.png is not a full picture (${size} bytes)")
  endif()
endforeach()
