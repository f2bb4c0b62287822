# The layer checks refuse what they are there to refuse: a cycle, a simulation library that
# reaches a window library or links GL, and an upward #include.
# Run with -DSK_SOURCE_DIR=<source> -DWORK=<scratch folder>.
cmake_policy(SET CMP0057 NEW)
set(failures "")
foreach(case cycle window package)
  file(REMOVE_RECURSE ${WORK}/${case})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SK_SOURCE_DIR}/tests/layers -B ${WORK}/${case}
                          -DSK_SOURCE_DIR=${SK_SOURCE_DIR} -DLAYER_CASE=${case}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  set(want_cycle "Library cycle: sk_low -> sk_high -> sk_low")
  set(want_window "sk_sim is a simulation library but uses sk_window")
  set(want_package "sk_sim is a simulation library but links OpenGL::GL")
  string(FIND "${out}${err}" "${want_${case}}" at)
  if(rc EQUAL 0 OR at LESS 0)
    string(APPEND failures "  ${case}: configured with status ${rc}, wanted \"${want_${case}}\"\n${err}\n")
  endif()
endforeach()

file(WRITE ${WORK}/upward.map
  "A|sk_race|sk_race,sk_bike\nA|sk_driver|sk_driver,sk_race\n"
  "H|race/world.h|sk_race\nH|driver/loop.h|sk_driver\n"
  "F|${SK_SOURCE_DIR}/tests/layers/upward.cpp|sk_race\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DMAP=${WORK}/upward.map -DSTAMP=${WORK}/upward.stamp
                        -P ${SK_SOURCE_DIR}/cmake/check_includes.cmake
                ERROR_VARIABLE err RESULT_VARIABLE rc)
string(FIND "${err}" "sk_race includes \"driver/loop.h\" of sk_driver" at)
if(rc EQUAL 0 OR at LESS 0)
  string(APPEND failures "  upward include: status ${rc}\n${err}\n")
endif()
string(REPLACE "F|${SK_SOURCE_DIR}/tests/layers/upward.cpp|sk_race" "F|${SK_SOURCE_DIR}/tests/layers/upward.cpp|sk_driver"
       map "A|sk_race|sk_race,sk_bike\nA|sk_driver|sk_driver,sk_race\nH|race/world.h|sk_race\nH|driver/loop.h|sk_driver\nF|${SK_SOURCE_DIR}/tests/layers/upward.cpp|sk_race\n")
file(WRITE ${WORK}/downward.map "${map}")
execute_process(COMMAND ${CMAKE_COMMAND} -DMAP=${WORK}/downward.map -DSTAMP=${WORK}/downward.stamp
                        -P ${SK_SOURCE_DIR}/cmake/check_includes.cmake
                ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  string(APPEND failures "  the same includes from the driver were refused:\n${err}\n")
endif()
if(failures)
  message(FATAL_ERROR "The layer checks let through what they must refuse:\n${failures}")
endif()
