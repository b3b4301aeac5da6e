// Freed memory that goes back to the system, so that a rank's peak is what its stages hold.
#pragma once

namespace rotalign::mpi {

// Call after MPI_Init. After it the C library was found never to map a large block apart nor to
// trim its heap: transport libraries that Open MPI loads at start may switch that off (the
// InfiniPath and PSM2 libraries call mallopt). Every array freed after a stage then stays
// resident, and a rank's peak becomes the sum of its stages (on 10^6 points, 1.2 GB resident after
// the affinities where 0.6 GB was held). This puts the C library's defaults back: blocks of
// 1 MiB and more are mapped apart and unmapped when freed, and the heap is trimmed. Nothing
// where the C library is not glibc.
void return_freed_memory();

}  // namespace rotalign::mpi
