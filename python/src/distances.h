// What the chain requires of a distance matrix given in place of points.
#pragma once

#include <cstddef>

namespace rotalign_python {

// Refuses (rotalign::input_error) an n-by-n matrix with a negative value, a diagonal value that
// is not zero, or two mirrored values that differ, as `rotalign cluster --distances` refuses such
// a file; the message names the first offending entry, 0-based, as X[i, j] of a matrix stored by
// rows (`by_rows`) or by columns. The values are assumed finite.
void check_distances(const double* values, std::size_t n, bool by_rows);

}  // namespace rotalign_python
