#include "support/freed_memory.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace rotalign::mpi {

void return_freed_memory() {
#if defined(__GLIBC__)
    // glibc's own defaults, except that the threshold for mapping a block apart is fixed at
    // 1 MiB instead of growing with the largest block freed: the stages' arrays of tens of MB
    // then always go back when freed.
    mallopt(M_MMAP_MAX, 65536);
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
#endif
}

}  // namespace rotalign::mpi
