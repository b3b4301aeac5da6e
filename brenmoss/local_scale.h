/* local_scale.h: what the two local-scaling plug-ins share, everything but the dense formula.
 *
 *   [scaled, affinities, scales] = plugin(D, K)
 *
 * D  N-by-N double matrix of distances, dense or sparse; further pages and imaginary parts are
 *    carried over unchanged, only the real values of the first N-by-N page are read and written.
 * K  neighbour count, the first element of any numeric array, truncated toward zero. Dense D
 *    needs 0 <= K <= N-1: point j's local scale is the value at index K of its sorted column.
 *    Sparse D needs K >= 1: the value at index K-1 of the column's sorted stored values, or the
 *    largest one when fewer are stored, or 0 for a column without stored values.
 * Each output is a copy of D whose stored values are replaced: the distances divided by their
 * pairwise scale, the affinities and the pairwise scales. A sparse D keeps its exact pattern.
 * On sparse D both plug-ins form the scale sqrt(sigma_i * sigma_j), at least 0.004, and the
 * affinity exp(-d/s); each plug-in names its own formula for dense D.
 *
 * Included once, by the plug-in's single source file; everything here is file-local to it.
 */
#ifndef BRENMOSS_LOCAL_SCALE_H
#define BRENMOSS_LOCAL_SCALE_H

#include "column_sort.h"
#include "exponential.h"
#include "frame.h"
#include "wide_vectors.h"

#include <cmath>
#include <cstddef>

enum { IN_D = 0, IN_K, IN_COUNT };
enum { OUT_SCALED = 0, OUT_AFFINITIES, OUT_SCALES, OUT_COUNT };

static const char* const msg_dense_count = "Neighbour count must be from 0 to N-1 for a dense distance matrix";
static const char* const msg_sparse_count = "Neighbour count must be at least 1 for a sparse distance matrix";

/* The pairwise scale of points i and j from their local scales, and the affinity of a scaled
 * distance q. */
typedef double (*scale_formula)(double sigma_i, double sigma_j);
typedef double (*affinity_formula)(double q);

/* Geometric mean of the two local scales, bounded below by 0.004. A NaN root (from a negative
 * or NaN product) is not less than the bound and stays. */
static inline double geometric_scale(double sigma_i, double sigma_j)
{
    const double g = std::sqrt(sigma_i * sigma_j);
    return g < 0.004 ? 0.004 : g;
}

/* exp(-q); far pairs (q >= 746) give +0 without the library's underflow path. */
static inline double exponential_affinity(double q)
{
    return exponential(-q);
}

/* Dense local scales: sigma[j] is the value at index k (0 <= k < n) of column j of the n-by-n
 * matrix d once sorted. One scratch column, taken and released here, serves every column. */
static void dense_local_scales(const double* d, mwSize n, mwSize k, double* sigma)
{
    double* scratch = static_cast<double*>(mxCalloc(static_cast<std::size_t>(n), sizeof(double)));
    for (mwSize j = 0; j < n; ++j)
        sigma[j] = order_statistic(d + static_cast<std::size_t>(j) * static_cast<std::size_t>(n), n, k, scratch);
    mxFree(scratch);
}

/* Sparse local scales for the n columns given by jc and the stored values d: the value at
 * index k-1 (k >= 1) of the column's sorted stored values, the largest one when the column
 * stores fewer than k, and 0 (the zero fill of sigma) when it stores none. Each column's
 * scratch is sized to it and released right after use. */
static void sparse_local_scales(const mwIndex* jc, const double* d, mwSize n, mwSize k, double* sigma)
{
    for (mwSize j = 0; j < n; ++j) {
        const mwSize count = jc[j + 1] - jc[j];
        if (count == 0) continue;
        double* scratch = static_cast<double*>(mxCalloc(static_cast<std::size_t>(count), sizeof(double)));
        sigma[j] = order_statistic(d + jc[j], count, std::min(k, count) - 1, scratch);
        mxFree(scratch);
    }
}

/* Stores the scaled distance d / s of the entry at offset `at`, and its scale s when the
 * scales are requested (scales non-null). */
static inline void scale_entry(std::size_t at, double d, double s, double* scaled, double* scales)
{
    scaled[at] = d / s;
    if (scales != nullptr) scales[at] = s;
}

/* The affinities of the entries at offsets first .. last-1, from their scaled distances
 * already stored. Run per column after the scaled distances, so that the arithmetic loop is
 * not broken by library calls. */
static inline void affinity_run(std::size_t first, std::size_t last, affinity_formula affinity,
                                const double* scaled, double* affinities)
{
    for (std::size_t at = first; at < last; ++at) affinities[at] = affinity(scaled[at]);
}

/* The scaled distances of one column of n entries (d, scaled and scales point at its first),
 * and its scales when requested (scales non-null), sigma_j the column's local scale. Bound by
 * the square roots and divisions, which WIDE_VECTORS takes four at a time where it can; one
 * loop for each case of scales, so that neither tests it. */
template <scale_formula scale>
WIDE_VECTORS static void dense_scaled_column(const double* d, const double* sigma, mwSize n, double sigma_j,
                                             double* scaled, double* scales)
{
    if (scales != nullptr) {
        for (mwSize i = 0; i < n; ++i)
            scale_entry(static_cast<std::size_t>(i), d[i], scale(sigma[i], sigma_j), scaled, scales);
    } else {
        for (mwSize i = 0; i < n; ++i)
            scale_entry(static_cast<std::size_t>(i), d[i], scale(sigma[i], sigma_j), scaled, nullptr);
    }
}

/* Dense walk: all n*n entries of the first page, column by column, rows in order. */
template <scale_formula scale, affinity_formula affinity>
static void dense_entries(const double* d, const double* sigma, mwSize n, double* scaled, double* affinities,
                          double* scales)
{
    for (mwSize j = 0; j < n; ++j) {
        const std::size_t first = static_cast<std::size_t>(j) * static_cast<std::size_t>(n);
        dense_scaled_column<scale>(d + first, sigma, n, sigma[j], scaled + first,
                                   scales != nullptr ? scales + first : nullptr);
        if (affinities != nullptr) affinity_run(first, first + static_cast<std::size_t>(n), affinity, scaled, affinities);
    }
}

/* Sparse walk: the stored entries of each column in storage order, with the geometric scale. */
static void sparse_entries(const mwIndex* ir, const mwIndex* jc, const double* d, const double* sigma, mwSize n,
                           double* scaled, double* affinities, double* scales)
{
    for (mwSize j = 0; j < n; ++j) {
        const std::size_t first = static_cast<std::size_t>(jc[j]), last = static_cast<std::size_t>(jc[j + 1]);
        for (std::size_t at = first; at < last; ++at)
            scale_entry(at, d[at], geometric_scale(sigma[ir[at]], sigma[j]), scaled, scales);
        if (affinities != nullptr) affinity_run(first, last, exponential_affinity, scaled, affinities);
    }
}

/* The gateway of a local-scaling plug-in; dense_scale and dense_affinity are its formula for
 * dense input. Sparse input always takes the geometric scale and exp(-d/s). */
template <scale_formula dense_scale, affinity_formula dense_affinity>
static void local_scaling(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Check counts.
    check_counts(nlhs, 1, OUT_COUNT, nrhs, IN_COUNT, IN_COUNT);

    // Read inputs: K first, then the shape and class of D; K is checked where a column is read.
    int k = 0;
    const bool k_read = truncate_count(mxGetScalar(prhs[IN_K]), &k);
    const mxArray* d = prhs[IN_D];
    if (!is_square(d)) fail(msg_distance_not_square);
    if (!mxIsDouble(d)) fail(msg_distance_not_double);
    const mwSize n = mxGetDimensions(d)[0];
    const bool sparse = mxIsSparse(d);
    // A D without values (0-by-0, or N-by-N-by-0) has no column to read: its copies are the
    // outputs, whatever K is.
    const bool has_values = n > 0 && has_first_page(d);
    if (has_values) {
        if (sparse && !(k_read && k >= 1)) fail(msg_sparse_count);
        if (!sparse && !(k_read && k >= 0 && k <= n - 1)) fail(msg_dense_count);
    }

    // Create the outputs as copies of D, in order, before any of D's values is read.
    for (int out = 0; out < nlhs; ++out) plhs[out] = mxDuplicateArray(d);
    if (!has_values) return;
    double* scaled = mxGetPr(plhs[OUT_SCALED]);
    double* affinities = nlhs > OUT_AFFINITIES ? mxGetPr(plhs[OUT_AFFINITIES]) : nullptr;
    double* scales = nlhs > OUT_SCALES ? mxGetPr(plhs[OUT_SCALES]) : nullptr;

    // Compute: the local scales, then every entry.
    double* sigma = static_cast<double*>(mxCalloc(static_cast<std::size_t>(n), sizeof(double)));
    if (sparse) {
        const mwIndex* jc = mxGetJc(d);
        sparse_local_scales(jc, mxGetPr(d), n, k, sigma);
        sparse_entries(mxGetIr(d), jc, mxGetPr(d), sigma, n, scaled, affinities, scales);
    } else {
        dense_local_scales(mxGetPr(d), n, k, sigma);
        dense_entries<dense_scale, dense_affinity>(mxGetPr(d), sigma, n, scaled, affinities, scales);
    }

    // Release scratch.
    mxFree(sigma);
}

#endif
