// What the dense and the sparse eigen-step share: the bound below which an entry joins no
// piece, and the step that solves a matrix piece by piece and merges the pieces' pairs.
#pragma once

#include "graph/sparse_graph.h"
#include "rotalign/eigen/eigen.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace rotalign {

// Entries of magnitude at most drop_budget / n join no piece and are left out of the Lanczos
// products: the matrix applied then differs from M by E with ||E||_2 <= max column sum of |E|
// <= drop_budget (no column holds more than n of them), so every eigenvalue moves by at most
// that (Weyl), well below the solvers' tolerance.
constexpr double drop_budget = 1e-12;

inline double negligible_at(std::size_t n) { return drop_budget / static_cast<double>(n); }

// The leading pairs of one piece: values descending, vectors size-by-wanted by columns in the
// piece's own numbering.
struct piece_pairs {
    std::vector<double> values;
    std::vector<double> vectors;
};

// Gives the `wanted` leading pairs of piece p (wanted is at most the piece's size).
using piece_solver = std::function<piece_pairs(std::size_t p, std::size_t wanted)>;

// The `count` leading pairs of an n-by-n matrix whose graph falls into `pieces`. A single
// Krylov run cannot be relied on there: each piece brings its own copy of an eigenvalue (1 for
// every piece of an affinity graph), and a Krylov space grown from one start vector holds only
// one direction of a repeated eigenvalue. So each piece gives its own leading pairs, and the
// largest values over all pieces win, equal values in the order of the pieces; each vector lies
// on its piece, zero elsewhere. A single piece's pairs are the result as they come. Sets n,
// count, values and vectors of the result.
eigenpairs leading_over_pieces(std::size_t n, std::size_t count, const graph_pieces& pieces,
                               const piece_solver& solve);

}  // namespace rotalign
