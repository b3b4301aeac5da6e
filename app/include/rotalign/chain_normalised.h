// The chain from a distance graph, a normalised affinity, or their eigenpairs, on: for front ends
// that build them their own way (across several processes).
#pragma once

#include "rotalign/chain.h"

namespace rotalign {

// The chain of cluster_points from the affinities on, on the N-by-N sparse graph of squared
// distances `d` that the knn route builds from the points' neighbour lists (pattern and values
// symmetric, a copy's distance stored as an explicit 0). `facts` as below.
cluster_result cluster_distance_graph(toolbox& plugins, mexhost::array_ptr d, const cluster_options& options,
                                      cluster_result facts);

// The chain of cluster_points after the normalisation, on the N-by-N normalised affinity `l`
// (dense or sparse, as normalise leaves it) of the points, with the options that built it.
// `facts` carries what the earlier stages found (graph, neighbours, entries, local scales, stage
// times); the result adds the rest. Throws what cluster_points throws in those stages.
cluster_result cluster_normalised(toolbox& plugins, mexhost::array_ptr l, const cluster_options& options,
                                  cluster_result facts);

// The chain of cluster_points after the eigen-step, from the leading eigenpairs `e` of the
// normalised affinity of n points (one more pair than the most groups tried, or all n) with no
// small pieces set aside, found elsewhere (across several processes); `components`: the graph's
// connected pieces. `facts` as above, with the solver and its method. Throws what cluster_points
// throws in the rotations and the count.
cluster_result cluster_eigenpairs(toolbox& plugins, std::size_t n, eigenpairs e, std::size_t components,
                                  const cluster_options& options, cluster_result facts);

}  // namespace rotalign
