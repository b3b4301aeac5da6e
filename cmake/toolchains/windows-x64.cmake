# Windows x86-64 (.mexw64) with the mingw-w64 cross compiler; programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOOLBOX_MINGW_TRIPLE x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw.cmake")
