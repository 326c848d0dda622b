# Runs the host program once against the recording double and once against
# the simulated stand-in, and checks that each time the library found through
# LD_LIBRARY_PATH is the one driving the lifter.
#   -DHOST=... -DDOUBLE_DIR=... -DSTANDIN_DIR=... -DVORN_IO_DIR=...

function(run_host library_dir out_var)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${library_dir}:${VORN_IO_DIR}" SPDLOG_STDOUT=true
            SPDLOG_SYSTEMD=false "${HOST}"
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE rc
    TIMEOUT 120)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "host against ${library_dir} failed (${rc}):\n${out}\n${err}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

function(expect out pattern what)
  string(REGEX MATCH "${pattern}" found "${out}")
  if(NOT found)
    message(FATAL_ERROR "expected ${what} (/${pattern}/) in:\n${out}")
  endif()
endfunction()

function(reject out pattern what)
  string(REGEX MATCH "${pattern}" found "${out}")
  if(found)
    message(FATAL_ERROR "did not expect ${what} (/${pattern}/) in:\n${out}")
  endif()
endfunction()

run_host("${DOUBLE_DIR}" with_double)
expect("${with_double}" "double: damiaoMotor\\(4340, 0, 0, 0, double-host, false, 15, 1\\)" "the double's constructor")
expect("${with_double}" "double: initMotor\\(\\)\ndouble: setZeroPosition\\(200\\)\ndouble: setEnable\\(true\\)"
       "the start-up calls in order")
# The double's torque reading (9.25) makes the lifter hold at the double's position (42).
expect("${with_double}" "Get max torque: 9.25, stop\\." "the lifter reacting to the double's torque")
expect("${with_double}" "double: setPosition\\(42\\)" "the hold at the double's position")
expect("${with_double}" "double: setEnable\\(false\\)\ndouble: getEnableState\\(\\)" "the shutdown")
expect("${with_double}" "double: ~damiaoMotor\\(\\)" "the release")
expect("${with_double}" "host: status 1" "the finished move")

run_host("${STANDIN_DIR}" with_standin)
reject("${with_standin}" "double:" "the double")
reject("${with_standin}" "Get max torque" "a torque hold from the free-running simulation")
expect("${with_standin}" "current torque: " "ticks of the lifter")
expect("${with_standin}" "host: status 1" "the finished move")
