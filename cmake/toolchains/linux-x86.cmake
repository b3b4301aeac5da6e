# Linux x86 (.mexglx): 32-bit code from the multilib GCC of the build machine, x87 arithmetic.
# The programs run natively where the machine executes 32-bit programs, and otherwise under
# qemu-i386, which emulates the x87 unit in full 80-bit precision.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)

include("${CMAKE_CURRENT_LIST_DIR}/x87.cmake")
set(CMAKE_C_FLAGS_INIT "-m32 ${TOOLBOX_X87_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "-m32 ${TOOLBOX_X87_FLAGS}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-m32")
endforeach()

# Only 32-bit libraries may be found; the 64-bit ones of the build machine would not link.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_SYSTEM_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)

include("${CMAKE_CURRENT_LIST_DIR}/i386-probe.cmake")
if(NOT TOOLBOX_I386_RUNS)
  find_program(TOOLBOX_QEMU_I386 qemu-i386)
  if(NOT TOOLBOX_QEMU_I386)
    message(FATAL_ERROR "this machine cannot execute 32-bit programs and qemu-i386 is missing "
                        "(scripts/install-deps.sh cross installs qemu-user)")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TOOLBOX_QEMU_I386}")
endif()
