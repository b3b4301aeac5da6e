# Whether this machine executes 32-bit x86 programs, asked once per configuration of a 32-bit
# build (cmake/toolchains/probe-i386.sh; TOOLBOX_RUN_I386=yes|no forces the answer). The answer is
# kept in the environment, so that the re-reads of the toolchain file by CMake's own checks, and
# the builds that scripts/all-targets.sh runs after its one probe, do not ask again.
# Sets TOOLBOX_I386_RUNS to ON or OFF.
execute_process(COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/probe-i386.sh"
                OUTPUT_VARIABLE _answer OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE _probe_failed)
if(_probe_failed)
  message(FATAL_ERROR "the 32-bit probe failed: TOOLBOX_RUN_I386 must be yes or no")
endif()
set(ENV{TOOLBOX_RUN_I386} "${_answer}")
if(_answer STREQUAL "yes")
  set(TOOLBOX_I386_RUNS ON)
else()
  set(TOOLBOX_I386_RUNS OFF)
endif()
