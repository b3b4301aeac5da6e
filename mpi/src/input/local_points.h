// Each rank's own block of the points of one file.
#pragma once

#include "rotalign/input/points.h"
#include "support/ranks.h"
#include "support/row_blocks.h"

#include <string>

namespace rotalign::mpi {

// Points [first, first + own.count) of `total`, the block of this rank (see row_blocks).
struct local_points {
    std::size_t total = 0;
    std::size_t first = 0;
    points own;
};

// Reads this rank's block of the points at `path` (a collective). A .npy file is read by every
// rank at once, each its own rows; CSV text (or standard input, "-") is read by rank 0 and handed
// out in blocks. The checks and messages are those of read_points_file; a failure on any rank
// leaves every rank (see together).
local_points read_local_points(const rank_context& c, const std::string& path);

// Rank 0 receives all the points in point order; the others get no points.
points gather_points(const rank_context& c, const local_points& p);

}  // namespace rotalign::mpi
