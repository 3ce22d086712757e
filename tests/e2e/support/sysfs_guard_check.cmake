# cmake -DMODE=control|empty -DGUARD=<preload library> -DLOG=<its log> [-DPYTHON=<python3>] -P sysfs_guard_check.cmake
#   control: a process that opens a file under /sys for writing is refused and
#            logged (the probe's path cannot be created in a real sysfs either);
#            the shared log starts empty.
#   empty:   no end-to-end test process opened a file under /sys for writing.
if(MODE STREQUAL "control")
  file(REMOVE "${LOG}")
  set(probe_log "${LOG}.probe")
  file(REMOVE "${probe_log}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env LD_PRELOAD=${GUARD} SANPROV_SYSFS_GUARD_LOG=${probe_log}
            ${PYTHON} -c "open('/sys/sanprov-sysfs-guard-probe', 'w')"
    RESULT_VARIABLE result ERROR_VARIABLE error)
  if(result EQUAL 0 OR NOT error MATCHES "PermissionError")
    message(FATAL_ERROR "the guard let a write under /sys through: ${error}")
  endif()
  file(READ "${probe_log}" logged)
  file(REMOVE "${probe_log}")
  if(NOT logged MATCHES "/sys/sanprov-sysfs-guard-probe")
    message(FATAL_ERROR "the guard did not log the refused open: '${logged}'")
  endif()
elseif(MODE STREQUAL "empty")
  if(EXISTS "${LOG}")
    file(READ "${LOG}" logged)
    if(NOT logged STREQUAL "")
      message(FATAL_ERROR "end-to-end test processes opened files under /sys for writing:\n${logged}")
    endif()
  endif()
else()
  message(FATAL_ERROR "MODE must be control or empty")
endif()
