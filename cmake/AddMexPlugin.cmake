# add_mex_plugin(<name> SOURCES <files>...)
#
# Builds a plug-in as the host loads it: a module with no prefix and the platform's suffix,
# hidden symbols, and a version script that exports mexFunction alone under node MEX.

function(toolbox_mex_suffix out)
  if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(${out} ".mexw64" PARENT_SCOPE)
    else()
      set(${out} ".mexw32" PARENT_SCOPE)
    endif()
  elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(${out} ".mexglx" PARENT_SCOPE)
  else()
    set(${out} ".mexa64" PARENT_SCOPE)
  endif()
endfunction()

function(add_mex_plugin name)
  cmake_parse_arguments(PLUGIN "" "" "SOURCES" ${ARGN})
  toolbox_mex_suffix(suffix)
  add_library(${name} MODULE ${PLUGIN_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX "${suffix}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY "${TOOLBOX_PLUGIN_DIR}"
    RUNTIME_OUTPUT_DIRECTORY "${TOOLBOX_PLUGIN_DIR}")
  target_link_libraries(${name} PRIVATE toolbox_frame mexhost_mx mexhost_mex)
  if(NOT WIN32 AND NOT APPLE)
    set(map "${PROJECT_SOURCE_DIR}/cmake/mex.map")
    target_link_options(${name} PRIVATE "LINKER:--version-script=${map}" "LINKER:--no-undefined")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${map}")
  endif()
  set_property(GLOBAL APPEND PROPERTY TOOLBOX_PLUGINS ${name})
endfunction()
