# Runs one GoogleTest program through the cross build's emulator. It passes only when the
# program exits with 0 and reports at least one passed test: an emulator that cannot start the
# program at all (Wine without its 32-bit part, for one) may still return 0 without a word.
# Usage: cmake -DEMULATOR=<program> -DPROGRAM=<file> -P run-emulated-test.cmake

execute_process(COMMAND ${EMULATOR} "${PROGRAM}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${rc}")
endif()
if(NOT out MATCHES "\\[  PASSED  \\] [1-9][0-9]* tests?\\.")
  message(FATAL_ERROR "${PROGRAM} reported no passed test")
endif()
