# Stages and packs the Octave package that `pkg install` builds and installs offline.
#
#   cmake -DSOURCE_DIR=<repository> -DSTAGE_DIR=<scratch> -DPACKAGE_NAME=<name>
#         -DPACKAGE_VERSION=<x.y.z> -DPLUGINS=<a,b,...> -DOUTPUT=<tarball> -P package.cmake
#
# Layout inside the tarball, under <name>-<version>/:
#   DESCRIPTION, COPYING, INDEX   what pkg reads
#   inst/<plug-in>.m              the help files
#   src/Makefile                  compiles src/<plug-in>/<plug-in>.cpp into inst/<plug-in>.mex
#   src/frame/, src/<plug-in>/    the sources, laid out as in the repository

foreach(var SOURCE_DIR STAGE_DIR PACKAGE_NAME PACKAGE_VERSION OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "package.cmake: ${var} is not set")
  endif()
endforeach()
string(REPLACE "," ";" PLUGINS "${PLUGINS}")

set(octave_dir "${SOURCE_DIR}/octave")
set(root "${STAGE_DIR}/${PACKAGE_NAME}-${PACKAGE_VERSION}")
file(REMOVE_RECURSE "${STAGE_DIR}")
file(MAKE_DIRECTORY "${root}/inst" "${root}/src/frame")

# Honours SOURCE_DATE_EPOCH, so that a release can be packed reproducibly.
string(TIMESTAMP PACKAGE_DATE "%Y-%m-%d" UTC)
configure_file("${octave_dir}/package/DESCRIPTION.in" "${root}/DESCRIPTION" @ONLY)
file(COPY "${octave_dir}/package/COPYING" DESTINATION "${root}")
file(COPY "${octave_dir}/package/Makefile" DESTINATION "${root}/src")

file(GLOB frame_headers "${SOURCE_DIR}/frame/*.h")
file(COPY ${frame_headers} DESTINATION "${root}/src/frame")

set(index "${PACKAGE_NAME} >> Spectral clustering\nSpectral clustering\n")
foreach(name IN LISTS PLUGINS)
  file(GLOB files "${SOURCE_DIR}/${name}/*.cpp" "${SOURCE_DIR}/${name}/*.h")
  file(COPY ${files} DESTINATION "${root}/src/${name}")
  file(COPY "${octave_dir}/help/${name}.m" DESTINATION "${root}/inst")
  string(APPEND index " ${name}\n")
endforeach()
# olvane compiles against brenmoss's column sort even when brenmoss itself is not packed.
file(GLOB brenmoss_headers "${SOURCE_DIR}/brenmoss/*.h")
if(brenmoss_headers)
  file(COPY ${brenmoss_headers} DESTINATION "${root}/src/brenmoss")
endif()
file(WRITE "${root}/INDEX" "${index}")

get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${output_dir}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E tar czf "${OUTPUT}" "${PACKAGE_NAME}-${PACKAGE_VERSION}"
  WORKING_DIRECTORY "${STAGE_DIR}"
  RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "package.cmake: packing ${OUTPUT} failed")
endif()
