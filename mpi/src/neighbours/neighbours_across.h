// Exact nearest neighbours over the points of all ranks.
#pragma once

#include "input/local_points.h"
#include "rotalign/neighbours/neighbours.h"
#include "rotalign/support/affinity_kind.h"

namespace rotalign::mpi {

// The lists of this rank's points (indices among all points), exactly as nearest_neighbours gives
// them in one process, duplicates included (a collective). The points first move to the rank of
// their cell (see cells), so that each rank searches for points that lie together; the cells'
// points then travel round the ring of ranks, and each rank offers every cell to its lists
// (offer_block), its own first, so that the later searches are pruned by nearly final lists and
// a point far from a cell skips it. The lists then go back to the ranks that own their points.
// Throws input_error on every rank as nearest_neighbours does for points whose squared distances
// overflow, and for more points than 32-bit indices number; a failure of one rank after that
// ends the whole run (collective_section).
neighbour_lists neighbours_across(const rank_context& c, const local_points& p, std::size_t per_point);

// neighbours_for_share over all points (a collective), with its answer on every rank. It
// measures only where the budget `most` exceeds the lists' length, that is on few points: rank 0
// then gathers the points and lists and measures as one process does; a failure there is thrown
// on every rank.
std::size_t neighbours_for_share_across(const rank_context& c, const local_points& p, const neighbour_lists& lists,
                                        const affinity_kernel& kernel, std::size_t most);

}  // namespace rotalign::mpi
