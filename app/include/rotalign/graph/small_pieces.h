// Points that lie in pieces of the affinity graph too small to be a group, and the normalised
// affinity without them.
//
// A piece of the graph (points linked to nothing outside it) brings its own eigenvalue 1, so a
// handful of duplicated or stray points would take one of the counts on their own. They are set
// aside before the eigen-step instead. Since no entry links them to the rest, every other point
// keeps its degree: the principal submatrix of the normalised affinity on the kept points is the
// normalised affinity of the kept points' graph, and nothing needs computing again.
#pragma once

#include "mexhost/host.h"

#include <cstddef>
#include <vector>

namespace rotalign {

// For the normalised affinity l (n-by-n host matrix, dense or sparse): 1 for every point of a
// connected piece with fewer than min_size points, 0 for the others. Entries of magnitude at most
// 1e-12 / n link nothing, as in the eigen-step. Empty when no piece is that small.
std::vector<char> points_in_small_pieces(const mxArray* l, std::size_t min_size);

// The piece of every point of l, named by its least point; linked as above.
std::vector<std::size_t> piece_roots(const mxArray* l);

// The principal submatrix of l on the points with left_out[i] == 0, dense or sparse as l is.
mexhost::array_ptr without_points(const mxArray* l, const std::vector<char>& left_out);

// The default smallest group for n points: 1% of them, at least 2.
std::size_t default_min_group_size(std::size_t n);

}  // namespace rotalign
