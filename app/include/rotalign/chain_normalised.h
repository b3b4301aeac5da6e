// The chain from a normalised affinity on, for front ends that build that matrix their own way
// (across several processes): small pieces, eigen-step, rotations, count and groups.
#pragma once

#include "rotalign/chain.h"

namespace rotalign {

// The chain of cluster_points after the normalisation, on the N-by-N normalised affinity `l`
// (dense or sparse, as normalise leaves it) of the points, with the options that built it.
// `facts` carries what the earlier stages found (graph, neighbours, entries, local scales, stage
// times); the result adds the rest. Throws what cluster_points throws in those stages.
cluster_result cluster_normalised(toolbox& plugins, mexhost::array_ptr l, const cluster_options& options,
                                  cluster_result facts);

}  // namespace rotalign
