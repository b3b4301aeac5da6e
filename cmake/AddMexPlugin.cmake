# add_mex_plugin(<name> SOURCES <files>...)
#
# Builds a plug-in as the host loads it: a module with no prefix and the platform's suffix,
# hidden symbols, and only the gateway exported. On Linux a version script exports mexFunction
# under node MEX; the Linux x86 build also carries and exports mexVersion. On Windows the
# plug-in carries its own C and C++ runtime, so that it needs no DLL beyond the host's and the
# system's.

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

# The plug-ins that each platform ships.
toolbox_mex_suffix(TOOLBOX_MEX_SUFFIX)
if(TOOLBOX_MEX_SUFFIX STREQUAL ".mexglx")
  set(TOOLBOX_PLATFORM_PLUGINS tarvik brenmoss pellor nimbrel)
elseif(TOOLBOX_MEX_SUFFIX STREQUAL ".mexw32")
  set(TOOLBOX_PLATFORM_PLUGINS tarvik brenmoss pellor)
else()
  set(TOOLBOX_PLATFORM_PLUGINS tarvik brenmoss olvane pellor nimbrel)
endif()

function(add_mex_plugin name)
  cmake_parse_arguments(PLUGIN "" "" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${PLUGIN_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX "${TOOLBOX_MEX_SUFFIX}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY "${TOOLBOX_PLUGIN_DIR}"
    RUNTIME_OUTPUT_DIRECTORY "${TOOLBOX_PLUGIN_DIR}")
  target_link_libraries(${name} PRIVATE toolbox_frame mexhost_mx mexhost_mex)
  if(NOT WIN32 AND NOT APPLE)
    set(map "${PROJECT_SOURCE_DIR}/cmake/mex.map")
    if(TOOLBOX_MEX_SUFFIX STREQUAL ".mexglx")
      target_sources(${name} PRIVATE "${PROJECT_SOURCE_DIR}/frame/mex_version.cpp")
      set(map "${PROJECT_SOURCE_DIR}/cmake/mexglx.map")
    endif()
    target_link_options(${name} PRIVATE "LINKER:--version-script=${map}" "LINKER:--no-undefined")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${map}")
  elseif(WIN32)
    target_link_options(${name} PRIVATE -static-libgcc -static-libstdc++ "LINKER:--no-undefined")
  endif()
  set_property(GLOBAL APPEND PROPERTY TOOLBOX_PLUGINS ${name})
endfunction()
