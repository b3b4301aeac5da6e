# Installs the build tree into a fresh prefix and runs the installed program from elsewhere:
# it has to find the plug-ins and the host libraries beside itself, with no help from the
# environment or the build tree.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P installed.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
set(program "${PREFIX}/bin/rotalign")
execute_process(COMMAND "${program}" generate blobs --points 60 --seed 2
                OUTPUT_FILE "${PREFIX}/blobs.csv" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installed rotalign generate failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=ROTALIGN_PLUGINS
                        "${program}" cluster blobs.csv --max-groups 4 --quiet
                WORKING_DIRECTORY "${PREFIX}"
                OUTPUT_VARIABLE groups ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installed rotalign cluster failed: ${errors}")
endif()
string(REGEX MATCHALL "\n" lines "${groups}")
list(LENGTH lines count)
if(NOT count EQUAL 60)
  message(FATAL_ERROR "installed rotalign gave ${count} groups for 60 points")
endif()
file(REMOVE_RECURSE "${PREFIX}")
