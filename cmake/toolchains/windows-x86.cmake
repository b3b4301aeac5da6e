# Windows x86 (.mexw32) with the mingw-w64 cross compiler, x87 arithmetic as on Linux x86;
# programs run under Wine's 32-bit part. Wine's 32-bit loader is itself a 32-bit Linux program
# and does not start under qemu-i386, so on a machine that does not execute 32-bit programs the
# plug-ins and tests are still built and the exports checked, but the test programs are not run.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLBOX_MINGW_TRIPLE i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/x87.cmake")
set(CMAKE_C_FLAGS_INIT "${TOOLBOX_X87_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TOOLBOX_X87_FLAGS}")

include("${CMAKE_CURRENT_LIST_DIR}/i386-probe.cmake")
if(NOT TOOLBOX_I386_RUNS)
  set(TOOLBOX_TESTS_NOT_RUN "this machine cannot execute 32-bit programs, so Wine's 32-bit part cannot start")
elseif(NOT EXISTS /usr/lib/wine/wine)
  # The package comes from another architecture's index, which a mirror can hold back.
  set(TOOLBOX_TESTS_NOT_RUN "Wine's 32-bit part (Debian's wine32:i386) is not installed")
endif()
