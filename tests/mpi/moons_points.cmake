# Writes COUNT two-moons points (seed 4) as CSV to ${WORK}/points.csv with the program ONE, and
# sets csv to that file.
function(write_moons_points count)
  set(file "${WORK}/points.csv")
  file(MAKE_DIRECTORY "${WORK}")
  execute_process(COMMAND "${ONE}" generate moons --points ${count} --seed 4 OUTPUT_FILE "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "rotalign generate failed: ${status}")
  endif()
  set(csv "${file}" PARENT_SCOPE)
endfunction()
