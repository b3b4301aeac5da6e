// The normalised affinity D^(-1/2) A D^(-1/2) that the eigen-step takes, D the degrees.
#pragma once

#include <cstddef>

namespace rotalign {

// Turns the affinity A (n-by-n by columns, diagonal cleared) in place into D^(-1/2) A D^(-1/2),
// D the degrees (column sums). Entry (i, j) becomes A(i, j) * (s_i * s_j): the product of the two
// scale factors is formed first, so that a symmetric A stays exactly symmetric. Throws
// input_error naming the first point whose degree is not a positive finite number.
void normalise(double* a, std::size_t n);

}  // namespace rotalign
