#include "support/freed_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#include <unistd.h>
#endif

namespace rotalign::mpi {
namespace {

#if defined(__GLIBC__)
double resident_mib() {
    std::ifstream statm("/proc/self/statm");
    double size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}
#endif

// With the C library told, as a transport library may tell it, never to map a block apart nor to
// trim its heap, arrays of every size from 1 MiB to 64 MiB that are filled and freed leave the
// resident memory again once return_freed_memory has run.
TEST(FreedMemory, LeavesTheResidentMemoryOnceReturned) {
#if defined(__GLIBC__)
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
    return_freed_memory();
    const double before = resident_mib();
    for (std::size_t mib : {1u, 3u, 8u, 64u}) {
        std::vector<std::vector<char>> arrays;
        for (std::size_t filled = 0; filled < 256; filled += mib) arrays.emplace_back(mib << 20, '\1');
        EXPECT_GT(resident_mib(), before + 200) << mib << " MiB arrays";
        arrays.clear();
        EXPECT_LT(resident_mib(), before + 32) << mib << " MiB arrays";
    }
#else
    GTEST_SKIP() << "only glibc is told how to return memory";
#endif
}

}  // namespace
}  // namespace rotalign::mpi
