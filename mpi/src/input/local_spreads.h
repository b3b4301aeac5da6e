// Column facts over the points of all ranks: the spreads (for the warning on units) and the
// standardised coordinates.
#pragma once

#include "input/local_points.h"

#include <vector>

namespace rotalign::mpi {

// The population standard deviation of every coordinate over all points (a collective), equal to
// column_spreads of all points bit for bit: the sums run through the ranks' blocks in point order.
std::vector<double> column_spreads_across(const rank_context& c, const local_points& p);

// This rank's points with every column shifted to zero mean and divided by its spread over all
// points (a column of zero spread only shifted), equal to this rank's rows of standardised of all
// points bit for bit.
local_points standardised_across(const rank_context& c, const local_points& p);

}  // namespace rotalign::mpi
