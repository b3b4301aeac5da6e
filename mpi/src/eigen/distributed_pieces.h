// The connected pieces of a symmetric matrix whose rows are spread over the ranks in contiguous
// blocks, found as the one-process eigen-step finds them: edges are the entries of magnitude
// above a bound, pieces are numbered in the order of their first (least) points and a point's
// position in its piece is its rank among the piece's points.
#pragma once

#include "eigen/ghost_columns.h"
#include "graph/local_rows.h"

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign::mpi {

struct distributed_pieces {
    // Every piece, the same on every rank: its first point and its size.
    std::vector<std::int64_t> first_point, size;
    // Per own row and per ghost column: the piece it lies in and its position there.
    std::vector<std::int64_t> own_piece, own_position, ghost_piece, ghost_position;

    std::size_t count() const { return first_point.size(); }
};

// Joins the entries of magnitude above `least` (the diagonal aside) by a union-find over each
// rank's own rows, then joins the rank-local sets that entries across ranks connect: every rank
// gathers those links (deduplicated) and resolves them the same way. Collective.
distributed_pieces find_pieces(MPI_Comm comm, const local_rows& m, const ghost_columns& ghosts, double least);

}  // namespace rotalign::mpi
