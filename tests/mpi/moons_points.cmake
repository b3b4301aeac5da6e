# Writes COUNT points of the generated set NAME (seed 4) as CSV to ${WORK}/points.csv with the
# program ONE, and sets csv to that file.
function(write_generated_points name count)
  set(file "${WORK}/points.csv")
  file(MAKE_DIRECTORY "${WORK}")
  execute_process(COMMAND "${ONE}" generate ${name} --points ${count} --seed 4 OUTPUT_FILE "${file}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "rotalign generate failed: ${status}")
  endif()
  set(csv "${file}" PARENT_SCOPE)
endfunction()

# The same for two moons.
function(write_moons_points count)
  write_generated_points(moons ${count})
  set(csv "${csv}" PARENT_SCOPE)
endfunction()
