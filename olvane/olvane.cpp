// olvane: local scaling of a distance matrix, with the arithmetic mean of the local scales on
// dense input.
//
//   [scaled, affinities, scales] = olvane(D, K)
//
// D  N-by-N double matrix of distances, dense or sparse; further pages and imaginary parts are
//    carried over unchanged, only the real values of the first N-by-N page are transformed.
// K  neighbour count: 0 to N-1 for dense D (point j's local scale sigma_j is the (K+1)-th
//    smallest value of column j), at least 1 for sparse D (the K-th smallest stored value, or
//    the largest when fewer are stored, or 0 for an empty column).
// Dense D: s = (sigma_i + sigma_j) * 0.5 with no lower bound, scaled = D ./ s,
// affinities = exp(-(scaled .^ 2)), scales = s; a zero scale follows IEEE division.
// Sparse D: exactly as brenmoss, s = max(sqrt(sigma_i * sigma_j), 0.004) and exp(-D ./ s), at
// the stored positions only. One to three outputs.

#include "local_scale.h"

// Arithmetic mean of the two local scales.
static double mean_scale(double sigma_i, double sigma_j)
{
    return (sigma_i + sigma_j) * 0.5;
}

// Gaussian affinity of a scaled distance q.
static double squared_affinity(double q)
{
    return exponential(-(q * q));
}

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Only the dense formula differs from brenmoss.
    local_scaling<mean_scale, squared_affinity>(nlhs, plhs, nrhs, prhs);
}
