# libvorn_io must reach the motor side only through the vendor's soname. (That
# it uses nothing the simulation alone defines, the package test checks on the
# installed files.)
#   -DLIBRARY=... -DREADELF=...
execute_process(COMMAND "${READELF}" -d "${LIBRARY}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]]*\\]" needed "${dynamic}")
set(motor_side "")
foreach(entry IN LISTS needed)
  string(REGEX REPLACE ".*\\[([^]]*)\\]" "\\1" name "${entry}")
  if(name MATCHES "motor|sim")
    list(APPEND motor_side "${name}")
  endif()
endforeach()
if(NOT motor_side STREQUAL "libvorn_motor.so.1")
  message(FATAL_ERROR "motor-side NEEDED entries of ${LIBRARY}: '${motor_side}', expected 'libvorn_motor.so.1'\n${dynamic}")
endif()
