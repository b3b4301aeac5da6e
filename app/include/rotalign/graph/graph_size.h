// How many nearest neighbours per point the sparse graph needs.
//
// The dense route gives every pair its affinity, and normalises by each point's sum over all of
// them. How far that sum reaches depends on the data: in two dimensions a point's affinity sits
// in a few dozen neighbours, in 60 dimensions distances crowd together and it spreads over most
// of the set. A graph that leaves out much of it clusters differently. So the graph takes, per
// point, enough neighbours to hold a given share of its affinity, measured on a sample of points,
// within a budget that keeps memory growing with N.
#pragma once

#include "rotalign/input/points.h"
#include "rotalign/neighbours/neighbours.h"
#include "rotalign/support/affinity_kind.h"

#include <cstddef>
#include <cstdint>

namespace rotalign {

struct graph_size_settings {
    double share = 0.99;        // of a point's affinity that its neighbours hold
    double quantile = 0.9;      // of the sampled points that must reach the share
    std::size_t sample = 300;   // points whose full rows are measured
    std::uint64_t seed = 1;
};

// The neighbours per point that hold `share` of the affinity for `quantile` of a seeded sample of
// points, between lists.per_point and `most` (at most count - 1). The lists give every point's
// local scale, so they must hold at least kernel.neighbours neighbours per point. Costs one full
// row of distances per sampled point, and nothing when `most` is not above lists.per_point.
std::size_t neighbours_for_share(const points& p, const neighbour_lists& lists, const affinity_kernel& kernel,
                                 std::size_t most, const graph_size_settings& settings = {});

// The most neighbours per point the automatic choice takes for N points: the graph stays within
// this many entries in all (before symmetrising), so its memory grows with N.
constexpr std::size_t graph_entry_budget = 1000000;

}  // namespace rotalign
