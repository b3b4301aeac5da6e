// Column facts over the points of all ranks: the spreads (for the warning on units) and the
// standardised coordinates.
#pragma once

#include "input/local_points.h"

#include <vector>

namespace rotalign::mpi {

// The population standard deviation of every coordinate over all points (a collective), as
// column_spreads gives it up to rounding: the sums run per rank, then across the ranks.
std::vector<double> column_spreads_across(const rank_context& c, const local_points& p);

// This rank's points with every column shifted to zero mean and divided by its spread over all
// points (a column of zero spread only shifted), as standardised does up to rounding.
local_points standardised_across(const rank_context& c, const local_points& p);

}  // namespace rotalign::mpi
