// brenmoss: local scaling of a distance matrix, with the geometric mean of the local scales.
//
//   [scaled, affinities, scales] = brenmoss(D, K)
//
// D  N-by-N double matrix of distances, dense or sparse; further pages and imaginary parts are
//    carried over unchanged, only the real values of the first N-by-N page are transformed.
// K  neighbour count: 0 to N-1 for dense D (point j's local scale sigma_j is the (K+1)-th
//    smallest value of column j), at least 1 for sparse D (the K-th smallest stored value, or
//    the largest when fewer are stored, or 0 for an empty column).
// With s = max(sqrt(sigma_i * sigma_j), 0.004) at every stored position (a NaN s stays):
// scaled = D ./ s, affinities = exp(-D ./ s), scales = s. One to three outputs; a sparse D keeps
// its exact pattern in each.

#include "local_scale.h"

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Dense and sparse input take the same formula.
    local_scaling<geometric_scale, exponential_affinity>(nlhs, plhs, nrhs, prhs);
}
