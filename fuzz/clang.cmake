# Toolchain for the fuzz build: clang, whose libFuzzer drives the fuzz programs.
#
# The fuzz programs load the host libraries and the plug-ins as shared objects, and all of them
# carry the sanitizers; they must share one sanitizer runtime, so everything links the shared one,
# and every program finds it through its run path.

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-shared-libsan")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-shared-libsan")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-shared-libsan")

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-x86_64.so
                OUTPUT_VARIABLE _toolbox_asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_toolbox_runtime_dir "${_toolbox_asan_runtime}" DIRECTORY)
set(CMAKE_BUILD_RPATH "${_toolbox_runtime_dir}")
