// How the points are shared out among the ranks: contiguous blocks in point order.
#pragma once

#include <cstddef>

namespace rotalign::mpi {

// Rank r owns the points [first(r), first(r + 1)); the blocks differ in size by at most one point,
// the larger ones first. Every rank computes the same blocks from (points, ranks) alone.
struct row_blocks {
    std::size_t points = 0;
    int ranks = 1;

    // The first point of `rank`, for rank 0 .. ranks (first(ranks) == points).
    std::size_t first(int rank) const;
    std::size_t count(int rank) const { return first(rank + 1) - first(rank); }
    // The rank that owns `point` (point < points).
    int owner(std::size_t point) const;
};

}  // namespace rotalign::mpi
