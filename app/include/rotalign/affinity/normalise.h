// The normalised affinity D^(-1/2) A D^(-1/2) that the eigen-step takes, D the degrees.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rotalign {

// Turns the affinity A (n-by-n by columns, diagonal cleared) in place into D^(-1/2) A D^(-1/2),
// D the degrees (column sums). Entry (i, j) becomes A(i, j) * (s_i * s_j): the product of the two
// scale factors is formed first, so that a symmetric A stays exactly symmetric. Throws
// input_error naming the first point whose degree is not a positive finite number.
void normalise(double* a, std::size_t n);

// The same on a sparse symmetric affinity, on its pattern: column j holds the values
// values[starts[j]] .. values[starts[j + 1] - 1] in the rows rows[...]. The degrees are the sums
// of the stored values of each column, in order; unstored entries stay zero.
void normalise(std::size_t n, const std::int32_t* starts, const std::int32_t* rows, double* values);

}  // namespace rotalign
