// pellor: turns a square distance matrix into affinities with one global scale.
//
//   A = pellor(D, sigma)
//
// D      N-by-N double matrix, dense or sparse; further pages and imaginary parts are carried
//        over unchanged, only the real values of the first N-by-N page are transformed.
// sigma  any numeric array; its first element is the scale (its sign does not matter).
// A      a copy of D with A(i,j) = exp(-D(i,j) / sigma^2) at every stored position; a sparse D
//        keeps its pattern, so an unstored position stays zero affinity.

#include "exponential.h"
#include "frame.h"

#include <cmath>
#include <cstddef>

enum { IN_D = 0, IN_SIGMA, IN_COUNT };
enum { OUT_A = 0, OUT_COUNT };

// The Gaussian kernel of one distance d, for the squared scale s2 (IEEE rules, no clamping);
// exponential() is std::exp bit for bit, without its underflow path for far pairs.
static double kernel(double d, double s2)
{
    return exponential(-d / s2);
}

// Dense walk: all N*N values of the first page, column by column.
static void transform_dense(const double* d, double* a, mwSize n, double s2)
{
    const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    for (std::size_t k = 0; k < count; ++k) a[k] = kernel(d[k], s2);
}

// Sparse walk: the stored values of each of the N columns, in storage order.
static void transform_sparse(const mwIndex* jc, const double* d, double* a, mwSize n, double s2)
{
    for (mwSize j = 0; j < n; ++j)
        for (mwIndex k = jc[j]; k < jc[j + 1]; ++k) a[k] = kernel(d[k], s2);
}

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Check counts.
    check_counts(nlhs, OUT_COUNT, OUT_COUNT, nrhs, IN_COUNT, IN_COUNT);

    // Read inputs: the squared scale first, then the shape and class of D.
    const double sigma = mxGetScalar(prhs[IN_SIGMA]);
    const double s2 = sigma * sigma;
    const mxArray* d = prhs[IN_D];
    if (!is_square(d)) fail(msg_distance_not_square);
    if (!mxIsDouble(d)) fail(msg_distance_not_double);
    const mwSize n = mxGetDimensions(d)[0];

    // Create the output as a copy of D, before D's values are read.
    plhs[OUT_A] = mxDuplicateArray(d);

    // Compute; an N-by-N-by-0 D has no value, and A is its empty copy.
    if (mxIsSparse(d))
        transform_sparse(mxGetJc(d), mxGetPr(d), mxGetPr(plhs[OUT_A]), n, s2);
    else if (has_first_page(d))
        transform_dense(mxGetPr(d), mxGetPr(plhs[OUT_A]), n, s2);
}
