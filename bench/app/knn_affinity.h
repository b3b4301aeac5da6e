// Normalised nearest-neighbour affinities of generated points, the matrices that the sparse
// eigen-step meets, built here with simple self-contained searches: a k-d tree in two
// dimensions, blocked brute force on BLAS above.
#pragma once

#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/input/points.h"

#include <cstdint>
#include <vector>

namespace bench {

struct sparse_affinity {
    std::size_t n = 0;
    std::vector<std::int32_t> starts, rows;
    std::vector<double> values;

    rotalign::sparse_view view() const { return {n, starts.data(), rows.data(), values.data()}; }
};

// `count` points of `dims` coordinates in `groups` Gaussian blobs of unit deviation, whose
// centres are drawn with deviation `spread` per coordinate.
rotalign::points gaussian_blobs(std::size_t count, std::size_t dims, std::size_t groups, double spread,
                                std::uint64_t seed);

// L = D^(-1/2) A D^(-1/2) on the symmetrised graph of each point's `neighbours` nearest other
// points: A_ij = exp(-d_ij / sqrt(s_i s_j)), d the squared distance, s_j the squared distance of
// point j's `scale_index`-th nearest other point (from 1).
sparse_affinity knn_affinity(const rotalign::points& p, std::size_t neighbours, std::size_t scale_index);

}  // namespace bench
