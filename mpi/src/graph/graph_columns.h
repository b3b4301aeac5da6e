// This rank's columns of the symmetrised nearest-neighbour graph of all points.
#pragma once

#include "graph/local_rows.h"
#include "input/local_points.h"
#include "rotalign/neighbours/neighbours.h"

namespace rotalign::mpi {

// The columns of this rank's points (indices among all points) of the graph that build_graph
// makes in one process: column j holds the squared distances to j's listed neighbours and to the
// points that list j, rows ascending, no diagonal, a duplicate point's 0 stored (a collective:
// the entries of lists that name another rank's point travel to that rank).
local_rows graph_columns(const rank_context& c, const local_points& p, const neighbour_lists& lists);

}  // namespace rotalign::mpi
