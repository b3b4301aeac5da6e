// nimbrel: a copy of a square matrix with its diagonal set to zero.
//
//   Z = nimbrel(M)
//
// M  N-by-N double matrix, dense or sparse; further pages and imaginary parts are carried over.
// Z  a copy of M whose diagonal values are +0.0; every other value is M's. A sparse M keeps its
//    exact pattern: a stored diagonal value stays stored as an explicit zero.

#include "frame.h"

#include <cstddef>

enum { IN_M = 0, IN_COUNT };
enum { OUT_Z = 0, OUT_COUNT };

static const char* const msg_not_square = "Input matrix must be square";
static const char* const msg_not_double = "Input matrix must be of class double";

// Dense: the N diagonal positions of the first page, at offsets i*(N+1).
static void clear_dense_diagonal(double* z, mwSize n)
{
    const std::size_t step = static_cast<std::size_t>(n) + 1;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) z[i * step] = 0.0;
}

// Sparse: each stored value whose row equals its column.
static void clear_sparse_diagonal(const mwIndex* ir, const mwIndex* jc, double* z, mwSize n)
{
    for (mwSize j = 0; j < n; ++j)
        for (mwIndex k = jc[j]; k < jc[j + 1]; ++k)
            if (ir[k] == static_cast<mwIndex>(j)) z[k] = 0.0;
}

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Check counts.
    check_counts(nlhs, OUT_COUNT, OUT_COUNT, nrhs, IN_COUNT, IN_COUNT);

    // Read inputs.
    const mxArray* m = prhs[IN_M];
    if (!is_square(m)) fail(msg_not_square);
    if (!mxIsDouble(m)) fail(msg_not_double);
    const mwSize n = mxGetDimensions(m)[0];

    // Create the output as a copy of M: every off-diagonal value is already M's.
    plhs[OUT_Z] = mxDuplicateArray(m);

    // Compute; an N-by-N-by-0 M has no value, and Z is its empty copy.
    if (mxIsSparse(m))
        clear_sparse_diagonal(mxGetIr(m), mxGetJc(m), mxGetPr(plhs[OUT_Z]), n);
    else if (has_first_page(m))
        clear_dense_diagonal(mxGetPr(plhs[OUT_Z]), n);
}
