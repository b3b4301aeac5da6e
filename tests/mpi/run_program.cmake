# Runs LAUNCH followed by ARGS; the run must end with status STATUS, and MATCH must occur exactly
# once in what it printed (both streams): one message, not one per rank.
execute_process(COMMAND ${LAUNCH} ${ARGS} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 100)
string(REGEX MATCHALL "${MATCH}" found "${out}${err}")
list(LENGTH found times)
if(NOT status STREQUAL STATUS OR NOT times EQUAL 1)
  message(FATAL_ERROR "expected status ${STATUS} and '${MATCH}' once; got status ${status}, ${times} times\n"
                      "standard output:\n${out}\nstandard error:\n${err}")
endif()
