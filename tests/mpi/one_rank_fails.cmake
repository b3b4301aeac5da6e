# A call fails on rank 1 alone (CALL, through the test copy of rotalign-mpi) while the other rank
# waits for it inside collective work. The run must end every rank with a non-zero status within
# LIMIT seconds, printing MATCH exactly once. The points and the neighbour count are such that
# the graph is one piece per moon, each solved by shift-invert through the distributed factor.
include("${CMAKE_CURRENT_LIST_DIR}/moons_points.cmake")
write_moons_points(5000)
set(ENV{ROTALIGN_TEST_FAILING_CALL} "${CALL}")
string(TIMESTAMP started "%s" UTC)
execute_process(COMMAND ${LAUNCH} cluster "${csv}" --graph knn --graph-neighbours 8 --plugins "${PLUGINS}" --output "${WORK}/groups.txt"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 100)
string(TIMESTAMP ended "%s" UTC)
math(EXPR took "${ended} - ${started}")
string(REGEX MATCHALL "${MATCH}" found "${out}${err}")
list(LENGTH found times)
# A rank that destroyed its factor on the way out, while the other still used it, would make the
# factor's library report mismatched calls.
string(FIND "${out}${err}" "ERROR RETURN" mismatched)
if(status STREQUAL "0" OR NOT status MATCHES "^[0-9]+$" OR NOT times EQUAL 1 OR took GREATER LIMIT
   OR NOT mismatched EQUAL -1)
  message(FATAL_ERROR "${CALL} failing on rank 1: expected a non-zero status and '${MATCH}' once within ${LIMIT} s; "
                      "got status '${status}', ${times} times, after ${took} s, mismatched calls at ${mismatched}\n"
                      "standard output:\n${out}\nstandard error:\n${err}")
endif()
