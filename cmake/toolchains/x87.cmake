# Code generation of the two x86 builds (.mexglx and .mexw32), shared so that both carry the same
# arithmetic. x87 results depend on where the compiler keeps intermediates in 80-bit registers and
# where it spills them to 64-bit memory, so everything that decides that is pinned here rather than
# left to compiler defaults or to flags in the environment:
#   -march=i686      the ISA every 32-bit x86 host has; no SSE2 code paths behind our back
#   -mtune=generic   scheduling and register allocation do not follow the build machine
#   -mfpmath=387     doubles are computed on the x87 stack, in extended precision
#   -mno-sse         no SSE registers at all, so no loop is vectorised into 64-bit arithmetic
# The optimisation level comes from the build type, which the presets fix (Release).
set(TOOLBOX_X87_FLAGS "-march=i686 -mtune=generic -mfpmath=387 -mno-sse")
