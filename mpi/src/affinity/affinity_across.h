// The affinities of this rank's graph columns through the plug-ins, and their normalisation
// across the ranks.
#pragma once

#include "graph/local_rows.h"
#include "input/local_points.h"
#include "rotalign/affinity/local_scales.h"
#include "rotalign/chain.h"

namespace rotalign::mpi {

// The columns of the cleared affinity (the affinity plug-in of the options, then nimbrel) of the
// graph whose own columns are `graph` and whose lists are `lists`, bit for bit those of one
// process (a collective). A point's local scale comes from its own column, so the plug-ins get
// a host matrix of this rank's columns together with the columns of the other ranks' points
// that its columns touch (ghosts): each ghost column holds the first K entries of the ghost's
// list, which is all its local scale reads; the affinities of ghost columns are dropped.
// `scales`, when given, receives the summary of the local scales of all points (on rank 0). The
// result takes over the graph's arrays, its values replaced.
local_rows affinities_across(const rank_context& c, toolbox& plugins, const local_points& p,
                             const neighbour_lists& lists, local_rows graph, const cluster_options& options,
                             local_scale_summary* scales);

// D^(-1/2) A D^(-1/2) in place, D the degrees (column sums, each added down its column in
// order as normalise does), the ghosts' degrees from their ranks; bit for bit normalise's.
// Throws input_error naming the first point without affinity, as normalise does.
void normalise_across(const rank_context& c, local_rows& a);

}  // namespace rotalign::mpi
