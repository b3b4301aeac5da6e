# What the two Windows builds share: the mingw-w64 cross compilers of the posix thread model
# (GoogleTest needs std::mutex, which the win32 model of GCC 12 lacks) and Wine to run the
# programs. Set TOOLBOX_MINGW_TRIPLE before including this file.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOOLBOX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLBOX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLBOX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${TOOLBOX_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for Windows binaries")

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLBOX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and DLLs share one folder, where Windows looks for a program's DLLs first.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

# ctest and custom commands run the programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")

# The error exit of the stand-in host throws a C++ exception from libmex through the plug-in's
# gateway to the loader. 32-bit mingw code unwinds with DWARF tables that each copy of libgcc
# keeps for itself, so the host's DLLs and programs all use the one shared libgcc (and
# libstdc++). Plug-ins link both statically (add_mex_plugin); when loaded into a process that has
# the shared libgcc, their start-up code registers their unwind tables with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-shared-libgcc")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-shared-libgcc")
