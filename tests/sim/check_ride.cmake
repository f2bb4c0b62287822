# skorva-sim riding a script: a good one runs to its end and traces every tic; a bad line is
# reported with its number and ends the run with status 2.
#   cmake -DSIM=... -DSCRIPTS=... -DWORK=... -P check_ride.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
# The ride leaves the gate long before it drops: the practice track in the home directory as
# "tracks/open", its gate places without starting-gate pieces.
set(open $ENV{XDG_DATA_HOME}/Skorva/tracks/open)
file(REMOVE_RECURSE ${open})
file(COPY $ENV{SK_HOME}/tracks/practice/ DESTINATION ${open})
file(READ ${open}/timing_gates gates)
string(FIND "${gates}" "checkpoints:" split)
string(SUBSTRING "${gates}" 0 ${split} head)
string(SUBSTRING "${gates}" ${split} -1 tail)
string(REGEX REPLACE "(\\[[^\n]*)\n" "\\1 null null null\n" head "${head}")
file(WRITE ${open}/timing_gates "${head}${tail}")
set(trace ${WORK}/trace.txt)
execute_process(
  COMMAND ${SIM} --track tracks/open --bikes 2 --tics 640 --script ${SCRIPTS}/ride.script
          --setup ${SCRIPTS}/crf450.setup --trace 0 --trace-file ${trace} --quiet
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the ride ended with ${rc}: ${out}${err}")
endif()
file(STRINGS ${trace} lines)
list(LENGTH lines count)
if(NOT count EQUAL 641)
  message(FATAL_ERROR "expected a header and 640 lines, got ${count} lines")
endif()
list(GET lines 0 header)
if(NOT header MATCHES "^# tic mph rpm gear throttle clutch front_brake rear_brake fork fork_speed swingarm shock_speed front_slip rear_slip front_contact rear_contact x y z")
  message(FATAL_ERROR "unexpected header: ${header}")
endif()
# The script's tics: the throttle opens at 128 and shuts at 384, when the front brake comes on.
list(GET lines 128 at127)
list(GET lines 129 at128)
list(GET lines 385 at384)
if(NOT at127 MATCHES "^127 [^ ]+ [^ ]+ [0-9]+ 0.000 " OR NOT at128 MATCHES "^128 [^ ]+ [^ ]+ [0-9]+ 1.000 "
   OR NOT at384 MATCHES "^384 [^ ]+ [^ ]+ [0-9]+ 0.000 [^ ]+ 1.000 0.000 ")
  message(FATAL_ERROR "the script's channels did not reach the bike:\n${at127}\n${at128}\n${at384}")
endif()

foreach(case "bad_tics.script:3:" "bad_value.script:2:")
  string(REPLACE ":" ";" parts ${case})
  list(GET parts 0 script)
  list(GET parts 1 line)
  execute_process(
    COMMAND ${SIM} --track tracks/practice --bikes 1 --tics 16 --script ${SCRIPTS}/${script}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 2)
    message(FATAL_ERROR "${script}: expected status 2, got ${rc}")
  endif()
  if(NOT err MATCHES "${script}:${line}:")
    message(FATAL_ERROR "${script}: the message does not name line ${line}: ${err}")
  endif()
endforeach()
