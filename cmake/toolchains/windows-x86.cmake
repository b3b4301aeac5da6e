# Windows x86 (.mexw32) with the mingw-w64 cross compiler, x87 arithmetic as on Linux x86;
# programs run under Wine's 32-bit part.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLBOX_MINGW_TRIPLE i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/x87.cmake")
set(CMAKE_C_FLAGS_INIT "${TOOLBOX_X87_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TOOLBOX_X87_FLAGS}")
