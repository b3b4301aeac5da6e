// The program's large arrays on 2 MiB pages, where the kernel leaves such pages to be asked for.
#pragma once

#include <optional>
#include <string>

namespace rotalign {

// The stages fill arrays of hundreds of MB that are new each time (neighbour lists, affinity
// columns, the Cholesky factor, eigenvectors), and every 4 KiB page faults on its first touch.
// Where faults are costly (virtual machines), 2 MiB pages cut them 512-fold: on 10^6 points with
// the knn graph the whole command took 22-23 s instead of 28-30 s, two MPI ranks 29-41 s instead
// of 45-50 s, at the same peak. glibc asks for them (madvise) when its tunable
// glibc.malloc.hugetlb is 1, and reads its tunables only when a program starts: so the program
// starts itself once more with the tunable set, before it has done anything else.
//
// What GLIBC_TUNABLES should become, or nothing where the restart would not help: the kernel
// gives huge pages always or never (`thp_mode`, the text of
// /sys/kernel/mm/transparent_hugepage/enabled, whose chosen word is in brackets), glibc is older
// than 2.35 and ignores the tunable, or the tunable is set already (by the restart itself, or
// by a user who chose; glibc.malloc.hugetlb=0 keeps 4 KiB pages).
std::optional<std::string> tunables_for_huge_pages(const std::string& thp_mode, const char* tunables,
                                                   int glibc_major, int glibc_minor);

// Restarts the running program with the tunable set where tunables_for_huge_pages says so;
// returns where it does not, or where the restart fails (the program then runs as it is). Call
// first thing in main, before any thread, file or MPI starts. Not under valgrind, whose
// programs would leave it at the restart.
void restart_with_huge_pages(char** argv);

}  // namespace rotalign
