// The connected components of an affinity graph.
#pragma once

#include <cstddef>

namespace rotalign {

// The number of connected components of the graph on n points whose edges are the entries of the
// symmetric n-by-n matrix a (by columns, lower triangle read) above `least` in magnitude.
std::size_t count_components(const double* a, std::size_t n, double least);

}  // namespace rotalign
