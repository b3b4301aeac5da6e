# rotalign-mpi on RANKS ranks writes the same groups and summary (stage times aside) as rotalign
# cluster in one process, for CSV text handed out by rank 0 and for each set of OPTIONS given
# (separated by '|'), on 6,000 points of the generated set SET (two moons by default). A run
# that fails in one process fails alike on the ranks: the same message, once.
include("${CMAKE_CURRENT_LIST_DIR}/moons_points.cmake")
if(NOT SET)
  set(SET moons)
endif()
write_generated_points(${SET} 6000)
string(REPLACE "|" ";" runs "${OPTIONS}")
set(n 0)
foreach(run IN LISTS runs)
  separate_arguments(options UNIX_COMMAND "${run}")
  math(EXPR n "${n} + 1")
  execute_process(COMMAND "${ONE}" cluster "${csv}" ${options} --output "${WORK}/one${n}.txt"
                  OUTPUT_VARIABLE one_summary ERROR_VARIABLE one_errors RESULT_VARIABLE one_status)
  execute_process(COMMAND ${LAUNCH} cluster "${csv}" ${options} --output "${WORK}/many${n}.txt"
                  OUTPUT_VARIABLE many_summary ERROR_VARIABLE many_errors RESULT_VARIABLE many_status TIMEOUT 200)
  if(NOT one_status EQUAL 0)
    string(REGEX REPLACE "^rotalign: ([^\n]*).*" "\\1" message "${one_errors}")
    string(FIND "${many_errors}" "rotalign-mpi: ${message}" first)
    string(FIND "${many_errors}" "rotalign-mpi: ${message}" last REVERSE)
    if(NOT many_status EQUAL one_status OR first EQUAL -1 OR NOT first EQUAL last)
      message(FATAL_ERROR "options '${run}': one process ended with status ${one_status} and '${message}'; the ranks "
                          "with status ${many_status}:\n${many_errors}")
    endif()
    continue()
  endif()
  foreach(summary one_summary many_summary)
    string(REGEX REPLACE "stage times[^\n]*\n" "" ${summary} "${${summary}}")
  endforeach()
  file(READ "${WORK}/one${n}.txt" one_groups)
  file(READ "${WORK}/many${n}.txt" many_groups)
  if(NOT one_status EQUAL 0 OR NOT many_status EQUAL 0 OR NOT one_groups STREQUAL many_groups)
    message(FATAL_ERROR "options '${run}': status ${one_status} and ${many_status}, groups differ or missing\n${many_errors}")
  endif()
  # The eigen-step across ranks agrees with one process's to its tolerance, not to the last digit
  # of the separation of repeated eigenvalues.
  foreach(summary one_summary many_summary)
    string(REGEX REPLACE "clear cuts[^\n]*\n" "" ${summary} "${${summary}}")
    string(REGEX REPLACE "eigen-solver[^\n]*\n" "" ${summary} "${${summary}}")
  endforeach()
  if(NOT one_summary STREQUAL many_summary)
    message(FATAL_ERROR "options '${run}': the summaries differ\none process:\n${one_summary}\nranks:\n${many_summary}")
  endif()
endforeach()
