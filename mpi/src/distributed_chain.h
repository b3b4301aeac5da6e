// The clustering chain across the ranks: the same decisions and results as cluster_points in one
// process, with each rank holding its own block of the points.
#pragma once

#include "input/local_points.h"
#include "rotalign/chain.h"

namespace rotalign::mpi {

// How the run went across the ranks.
enum class distributed_route {
    gathered,  // few points (or the dense graph): rank 0 ran the chain on all of them
    sampled,   // the automatic graph on a sample at rank 0; each rank grouped its own points
    knn,       // the nearest-neighbour graph across the ranks
};

struct distributed_result {
    cluster_result result;  // complete on rank 0 (groups of all points); the others hold no groups
    distributed_route route = distributed_route::gathered;
};

// Runs the chain on the points of all ranks (a collective). `plugins` is each rank's own loader.
// Throws what cluster_points throws for the options, on the lowest failing rank; the others
// throw failed_elsewhere (see together).
distributed_result cluster_across(const rank_context& c, toolbox& plugins, const local_points& p,
                                  const cluster_options& options);

}  // namespace rotalign::mpi
