// The sparse symmetric matrix of the eigen-step as a graph: its checks, its product, its
// connected pieces and each piece as a matrix of its own.
#pragma once

#include "rotalign/support/sparse_view.h"
#include "support/disjoint_sets.h"

#include <cstdint>
#include <vector>

namespace rotalign {

// Throws input_error unless m is well formed (offsets from 0, never decreasing; rows within
// 0 .. n - 1 and strictly ascending in each column; finite values) and exactly symmetric, in
// pattern and in values. One pass over the entries with n offsets of scratch.
void check_symmetric(const sparse_view& m);

// y = m x, both triangles stored: row j of m is its column j, so each y[j] is one gathered sum.
void multiply(const sparse_view& m, const double* x, double* y);

// Y = m X for k vectors stored point by point (entry c of point i at i * k + c): each stored
// entry then reads the k values of its row together, one cache line instead of k.
void multiply_rows(const sparse_view& m, const double* x, std::size_t k, double* y);

// A matrix that owns its arrays, with a view of them.
struct sparse_matrix {
    std::size_t n = 0;
    std::vector<std::int32_t> starts, rows;
    std::vector<double> values;

    sparse_view view() const { return {n, starts.data(), rows.data(), values.data()}; }
};

// The connected pieces of the graph whose edges are the entries of magnitude above `least`:
// the points of piece p are members[first[p]] .. members[first[p + 1] - 1], ascending, and the
// pieces are ordered by their first point. Point i lies in piece piece_of[i] at position
// position[i].
struct graph_pieces {
    std::vector<std::size_t> first;
    std::vector<std::int32_t> members, piece_of, position;

    std::size_t count() const { return first.size() - 1; }
    std::size_t size(std::size_t p) const { return first[p + 1] - first[p]; }
    const std::int32_t* points(std::size_t p) const { return members.data() + first[p]; }
};

graph_pieces connected_pieces(const sparse_view& m, double least);

// The pieces of n points that the links joined in `sets` (rooted at their least points) make.
graph_pieces pieces_of(detail::disjoint_sets& sets, std::size_t n);

// Piece p of m as a matrix of its own, its points renumbered by their position. The entries that
// join it to other pieces, all negligible, are left out.
sparse_matrix submatrix(const sparse_view& m, const graph_pieces& pieces, std::size_t p);

// The piece as an n-by-n dense matrix by columns.
std::vector<double> dense_copy(const sparse_view& m);

}  // namespace rotalign
