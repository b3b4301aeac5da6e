# A call fails on rank 1 alone (CALL, through the test copy of rotalign-mpi) while the other rank
# waits for it inside collective work. The run must end every rank with a non-zero status within
# LIMIT seconds, printing MATCH exactly once. The points and the neighbour count are such that
# the graph is one piece per moon, each solved by shift-invert through the distributed factor.
# With SWEEP, every call of that name fails in turn, the first, the second and so on, until a run
# makes fewer calls than the one that would fail and ends well.
include("${CMAKE_CURRENT_LIST_DIR}/moons_points.cmake")
write_moons_points(5000)
set(ENV{ROTALIGN_TEST_FAILING_CALL} "${CALL}")

# Runs the program with the NTH call failing (the script's default when NTH is empty); sets
# `ended_well` when the run succeeded, and stops the test when it neither succeeded nor failed as
# it should.
function(run_failing nth)
  if(nth)
    set(ENV{ROTALIGN_TEST_FAILING_NTH} "${nth}")
  endif()
  string(TIMESTAMP started "%s" UTC)
  execute_process(COMMAND ${LAUNCH} cluster "${csv}" --graph knn --graph-neighbours 8 --plugins "${PLUGINS}"
                          --output "${WORK}/groups.txt"
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 100)
  string(TIMESTAMP ended "%s" UTC)
  math(EXPR took "${ended} - ${started}")
  set(ended_well OFF PARENT_SCOPE)
  if(nth AND status STREQUAL "0")
    set(ended_well ON PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCHALL "${MATCH}" found "${out}${err}")
  list(LENGTH found times)
  # A rank that destroyed its factor on the way out, while the other still used it, would make the
  # factor's library report mismatched calls.
  string(FIND "${out}${err}" "ERROR RETURN" mismatched)
  if(status STREQUAL "0" OR NOT status MATCHES "^[0-9]+$" OR NOT times EQUAL 1 OR took GREATER LIMIT
     OR NOT mismatched EQUAL -1)
    message(FATAL_ERROR "${CALL} (call ${nth}) failing on rank 1: expected a non-zero status and '${MATCH}' once "
                        "within ${LIMIT} s; got status '${status}', ${times} times, after ${took} s, mismatched "
                        "calls at ${mismatched}\nstandard output:\n${out}\nstandard error:\n${err}")
  endif()
endfunction()

if(NOT SWEEP)
  run_failing("")
  return()
endif()
foreach(nth RANGE 1 200)
  run_failing(${nth})
  if(ended_well AND nth EQUAL 1)
    message(FATAL_ERROR "the run made no call of ${CALL}")
  elseif(ended_well)
    math(EXPR calls "${nth} - 1")
    message(STATUS "each of the ${calls} calls of ${CALL} failed in turn, and every run ended as it should")
    return()
  endif()
endforeach()
message(FATAL_ERROR "${CALL} failed in each of its first 200 calls and the run never ended well")
