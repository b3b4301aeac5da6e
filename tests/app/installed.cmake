# Installs the build tree once into a fresh prefix, then checks what the install is for:
# - the installed program, run from elsewhere, finds the plug-ins and the host libraries beside
#   itself, with no help from the environment or the build tree;
# - the install is a CMake package: a project of its own configures, builds and runs against it
#   (find_package(rotalign), rotalign::core), so the exported targets, their dependencies, the
#   headers and the plug-in folder are complete there.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DCONSUMER=... -DCXX=... [-DFLAGS=...] -P installed.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}/usr"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()

# The program.
set(program "${PREFIX}/usr/bin/rotalign")
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

# The package. The umbrella header includes every public header of the library.
set(include "${PREFIX}/usr/include")
file(READ "${include}/rotalign/rotalign.h" umbrella)
file(GLOB_RECURSE headers RELATIVE "${include}" "${include}/rotalign/*.h")
foreach(header IN LISTS headers)
  if(NOT header MATCHES "^rotalign/(host/|rotalign\\.h$)" AND NOT umbrella MATCHES "#include \"${header}\"")
    message(FATAL_ERROR "rotalign/rotalign.h does not include ${header}")
  endif()
endforeach()
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${CONSUMER}" -B "${PREFIX}/build" -DCMAKE_BUILD_TYPE=Release
                        "-DCMAKE_PREFIX_PATH=${PREFIX}/usr" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${FLAGS}"
                        "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring against the installed package failed:\n${out}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${PREFIX}/build" RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "building against the installed package failed:\n${out}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=ROTALIGN_PLUGINS "${PREFIX}/build/consumer"
                OUTPUT_VARIABLE out ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT out STREQUAL "3 groups, agreement 1\n")
  message(FATAL_ERROR "the program built against the installed package gave '${out}' (${status}): ${errors}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
