// tarvik: rotates an eigenvector matrix so that its rows line up with the coordinate axes, and
// groups the rows by the axis each one ends up closest to.
//
//   [groups, quality, rotated] = tarvik(X)
//   [groups, quality, rotated] = tarvik(X, method)
//
// X        n-by-c dense double matrix, one row per data point, one column per eigenvector; only
//          the real values are read. c*(c-1) must fit a 32-bit signed integer.
// method   scalar, truncated toward zero: 2 searches the angles in steps of 0.1 rad, every other
//          value (NaN and infinities included), or no method, follows the gradient.
// groups   1-by-c cell; element g lists, ascending and 1-based, the rows whose largest squared
//          entry lies in column g (ties go to the later column; a row of zeros to the last one).
// quality  alignment quality of `rotated`, between 1/c and 1; NaN when a row is all zero.
// rotated  X times the c-by-c rotation found, built from c*(c-1)/2 Givens factors.
//
// Every matrix product is the host's "mtimes". The search stops once the quality has gained less
// than 0.001 over two sweeps (from the third sweep on), and after 200 sweeps at the latest.

#include "frame.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

enum { IN_X = 0, IN_METHOD, IN_COUNT };
enum { OUT_GROUPS = 0, OUT_QUALITY, OUT_ROTATED, OUT_COUNT };

static const char* const msg_not_double = "Eigenvector matrix must be of class double";
static const char* const msg_sparse = "Eigenvector matrix must not be sparse";
static const char* const msg_too_many_rows = "Eigenvector matrix has too many rows";
static const char* const msg_too_many_columns = "Eigenvector matrix has too many columns";
static const char* const msg_empty_page = "Eigenvector matrix has fewer values than rows times columns";

static const int method_numerical = 2;
static const double numerical_step = 0.1;
static const double stop_gain = 0.001;
static const int max_sweeps = 200;

// Terms of a running sum are formed this many at a time, so that their divisions overlap while
// the additions stay one chain in the original order.
static const std::size_t term_block = 256;

// The start of column j of a matrix with `rows` rows; offsets in 64 bits.
static const double* column(const double* data, std::size_t rows, int j)
{
    return data + rows * static_cast<std::size_t>(j);
}

static double* column(double* data, std::size_t rows, int j)
{
    return data + rows * static_cast<std::size_t>(j);
}

// ---- Givens rotation products -----------------------------------------------------------------

// U(a, b) = G_a * G_(a+1) * ... * G_b as a new dim-by-dim matrix (the identity when b < a),
// where G_k rotates columns pair_lo[k] < pair_hi[k] by theta[k]. Each factor is applied from the
// right as an update of two columns. The caller destroys the result.
static mxArray* build_Uab(const mxArray* theta, int a, int b, const int* pair_lo, const int* pair_hi, int dim)
{
    mxArray* u_array = mxCreateDoubleMatrix(dim, dim, mxREAL);
    double* u = mxGetPr(u_array);
    const auto order = static_cast<std::size_t>(dim);
    for (std::size_t i = 0; i < order; ++i) u[i * (order + 1)] = 1.0;
    if (b < a) return u_array;

    const double* angles = mxGetPr(theta);
    for (int k = a; k <= b; ++k) {
        const double ct = std::cos(angles[k]);
        const double st = std::sin(angles[k]);
        double* up = column(u, order, pair_lo[k]);
        double* uq = column(u, order, pair_hi[k]);
        for (std::size_t r = 0; r < order; ++r) {
            const double x = up[r];
            const double y = uq[r];
            uq[r] = st * x + ct * y;
            up[r] = ct * x - st * y;
        }
    }
    return u_array;
}

// P * Q through the host's "mtimes"; neither argument is changed. The caller destroys the result.
static mxArray* matrix_mult(const mxArray* p, const mxArray* q)
{
    mxArray* in[2] = {const_cast<mxArray*>(p), const_cast<mxArray*>(q)};
    mxArray* out[1] = {nullptr};
    mexCallMATLAB(1, out, 2, in, "mtimes");
    return out[0];
}

// X * R(theta) for the n-by-dim matrix X and all K angles: a new n-by-dim matrix that the caller
// destroys. The rotation is rebuilt from the angles on every call.
static mxArray* rotate_givens(const mxArray* x, const mxArray* theta, const int* pair_lo, const int* pair_hi,
                              int K, int dim)
{
    mxArray* u = build_Uab(theta, 0, K - 1, pair_lo, pair_hi, dim);
    mxArray* y = matrix_mult(x, u);
    mxDestroyArray(u);
    return y;
}

// dG_k / dtheta_k as a new dim-by-dim matrix: zero except its four entries at rows and columns
// pair_lo[k], pair_hi[k]. The caller destroys it.
static mxArray* gradU(const mxArray* theta, int k, const int* pair_lo, const int* pair_hi, int dim)
{
    mxArray* v_array = mxCreateDoubleMatrix(dim, dim, mxREAL);
    double* v = mxGetPr(v_array);
    const auto order = static_cast<std::size_t>(dim);
    const double t = mxGetPr(theta)[k];
    const auto p = static_cast<std::size_t>(pair_lo[k]);
    const auto q = static_cast<std::size_t>(pair_hi[k]);
    v[p + p * order] = -std::sin(t);
    v[p + q * order] = std::cos(t);
    v[q + p * order] = -std::cos(t);
    v[q + q * order] = -std::sin(t);
    return v_array;
}

// X * (U1 * (V * U2)), associated from the right so that the n-row X takes part in one product
// only. The two intermediate products are destroyed here; the caller destroys the result.
static mxArray* buildA(const mxArray* x, const mxArray* u1, const mxArray* v, const mxArray* u2)
{
    mxArray* t1 = matrix_mult(v, u2);
    mxArray* t2 = matrix_mult(u1, t1);
    mxDestroyArray(t1);
    mxArray* a = matrix_mult(x, t2);
    mxDestroyArray(t2);
    return a;
}

// ---- Alignment quality and gradient -----------------------------------------------------------

// For each of the n rows of the n-by-c data y: square[r] receives the largest y*y of the row, 0
// for a row of zeros or of NaNs; square[] must arrive zeroed. Branch-free, so that the result does
// not depend on how predictable the data are.
static void lead_squares(const double* y, std::size_t n, int c, double* square)
{
    for (int j = 0; j < c; ++j) {
        const double* col = column(y, n, j);
        for (std::size_t r = 0; r < n; ++r) {
            // The square replaces the one held when it is at least as large; a NaN never does.
            // (Equal squares are the same value, as neither can be -0.)
            const double s = col[r] * col[r];
            square[r] = square[r] < s ? s : square[r];
        }
    }
}

// For each row: lead[r] receives the last column whose square reaches square[r] (the row's
// largest square from lead_squares), or -1 when there is none, for a row of NaNs. Scanning the
// columns in order and taking every square at least as large as the one held ends in the same
// column, so ties go to the later column.
static void lead_columns(const double* y, std::size_t n, int c, const double* square, int* lead)
{
    for (std::size_t r = 0; r < n; ++r) lead[r] = -1;
    for (int j = 0; j < c; ++j) {
        const double* col = column(y, n, j);
        for (std::size_t r = 0; r < n; ++r) lead[r] = col[r] * col[r] >= square[r] ? j : lead[r];
    }
}

// sum + y[0]^2 / square[0] + y[1]^2 / square[1] + ..., added one term at a time in row order.
static double add_ratios(double sum, const double* y, const double* square, std::size_t n)
{
    double terms[term_block];
    for (std::size_t start = 0; start < n; start += term_block) {
        const std::size_t count = n - start < term_block ? n - start : term_block;
        const double* ys = y + start;
        const double* ss = square + start;
        for (std::size_t i = 0; i < count; ++i) terms[i] = (ys[i] * ys[i]) / ss[i];
        for (std::size_t i = 0; i < count; ++i) sum = sum + terms[i];
    }
    return sum;
}

// The alignment quality 1 - (J/n - 1)/c of the n-by-c matrix Y, where J sums every Y[r,j]^2
// divided by the largest square of row r, column by column in one running sum. 1 when each row
// has one non-zero entry; NaN when a row is all zero.
static double evqual(const mxArray* y_array, int c, int n)
{
    const double* y = mxGetPr(y_array);
    const auto rows = static_cast<std::size_t>(n);
    auto* square = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    lead_squares(y, rows, c, square);
    double cost = 0.0;
    for (int j = 0; j < c; ++j) cost = add_ratios(cost, column(y, rows, j), square, rows);
    mxFree(square);
    return 1.0 - (cost / n - 1.0) / c;
}

// sum + the terms (y*a)/m^2 - (y^2*b)/m^3 of one column, in row order, where y and a are the
// column of Y and of dY/dtheta_k, and per row m is the signed leading entry, m2 = m*m,
// m3 = m*(m*m) and b the entry of dY/dtheta_k in the leading column.
static double add_gradient_terms(double sum, const double* y, const double* a, const double* m2,
                                 const double* m3, const double* b, std::size_t n)
{
    double terms[term_block];
    for (std::size_t start = 0; start < n; start += term_block) {
        const std::size_t count = n - start < term_block ? n - start : term_block;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t r = start + i;
            terms[i] = (y[r] * a[r]) / m2[r] - ((y[r] * y[r]) * b[r]) / m3[r];
        }
        for (std::size_t i = 0; i < count; ++i) sum = sum + terms[i];
    }
    return sum;
}

// The derivative of the alignment cost J/(n*c) with respect to angle k, at the angles theta, for
// the unrotated n-by-c matrix X: minus the derivative of the quality. Each row's leading column
// is held fixed. NaN when a rotated row is all zero. Everything it creates is released here.
static double evqualitygrad(const mxArray* x, const mxArray* theta, const int* pair_lo, const int* pair_hi,
                            int K, int k, int c, int n)
{
    mxArray* v = gradU(theta, k, pair_lo, pair_hi, c);
    mxArray* u1 = build_Uab(theta, 0, k - 1, pair_lo, pair_hi, c);
    mxArray* u2 = build_Uab(theta, k + 1, K - 1, pair_lo, pair_hi, c);
    mxArray* a_array = buildA(x, u1, v, u2);
    mxDestroyArray(v);
    mxDestroyArray(u1);
    mxDestroyArray(u2);
    mxArray* y_array = rotate_givens(x, theta, pair_lo, pair_hi, K, c);

    const double* y = mxGetPr(y_array);
    const double* a = mxGetPr(a_array);
    const auto rows = static_cast<std::size_t>(n);
    // Per row: the largest square, which becomes m*m, then m*m*m, then the leading derivative b.
    auto* m2 = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    auto* m3 = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    auto* b = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    auto* lead = static_cast<int*>(mxCalloc(rows, sizeof(int)));
    lead_squares(y, rows, c, m2);
    lead_columns(y, rows, c, m2, lead);
    for (std::size_t r = 0; r < rows; ++r) {
        // A row of NaNs keeps the start values: leading entry +0 in column 0.
        const int p = lead[r] < 0 ? 0 : lead[r];
        const double m = lead[r] < 0 ? 0.0 : column(y, rows, p)[r];
        m2[r] = m * m;
        m3[r] = m * (m * m);
        b[r] = column(a, rows, p)[r];
    }
    double s = 0.0;
    for (int j = 0; j < c; ++j) s = add_gradient_terms(s, column(y, rows, j), column(a, rows, j), m2, m3, b, rows);
    mxFree(m2);
    mxFree(m3);
    mxFree(b);
    mxFree(lead);
    mxDestroyArray(y_array);
    mxDestroyArray(a_array);
    return (s + s) / n / c;
}

// ---- Cluster assignment -----------------------------------------------------------------------

// A new 1-by-c cell whose element g is a 1-by-s double row of the 1-based indices of the rows of
// the n-by-c matrix Y whose largest square lies in column g, ascending. Ties go to the later
// column; a row of NaNs goes nowhere. The cell and its elements pass to the caller.
static mxArray* cluster_assign(const mxArray* y_array, int c, int n)
{
    const double* y = mxGetPr(y_array);
    const auto rows = static_cast<std::size_t>(n);
    auto* square = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    auto* group = static_cast<int*>(mxCalloc(rows, sizeof(int)));
    auto* size = static_cast<int*>(mxCalloc(static_cast<std::size_t>(c), sizeof(int)));
    lead_squares(y, rows, c, square);
    lead_columns(y, rows, c, square, group);
    for (std::size_t r = 0; r < rows; ++r)
        if (group[r] >= 0) ++size[group[r]];

    mxArray* groups = mxCreateCellMatrix(1, c);
    for (int g = 0; g < c; ++g) {
        mxArray* members = mxCreateDoubleMatrix(1, size[g], mxREAL);
        double* index = mxGetPr(members);
        std::size_t filled = 0;
        for (std::size_t r = 0; r < rows; ++r)
            if (group[r] == g) index[filled++] = static_cast<double>(r + 1);
        mxSetCell(groups, g, members);
    }
    mxFree(square);
    mxFree(group);
    mxFree(size);
    return groups;
}

// ---- Gateway ----------------------------------------------------------------------------------

// Whether a dimension that the host reports can serve as a 32-bit count.
static bool fits_int(std::int64_t value)
{
    return value >= 0 && value <= INT32_MAX;
}

// The search method selected by the optional second input.
static int read_method(int nrhs, const mxArray* const prhs[])
{
    int method = 1;
    if (nrhs > IN_METHOD && !truncate_count(mxGetScalar(prhs[IN_METHOD]), &method)) method = 1;
    return method;
}

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Check counts.
    check_counts(nlhs, OUT_COUNT, OUT_COUNT, nrhs, IN_METHOD, IN_COUNT);

    // Read inputs. X is read as dense double storage of n*c values, so it has to be that; only
    // its first two dimensions count.
    const mxArray* x = prhs[IN_X];
    if (!mxIsDouble(x)) fail(msg_not_double);
    if (mxIsSparse(x)) fail(msg_sparse);
    const mwSize* dims = mxGetDimensions(x);
    if (!fits_int(dims[0])) fail(msg_too_many_rows);
    if (!fits_int(dims[1]) || !fits_int(static_cast<std::int64_t>(dims[1]) * (dims[1] - 1)))
        fail(msg_too_many_columns);
    const int n = static_cast<int>(dims[0]);
    const int c = static_cast<int>(dims[1]);
    if (mxGetNumberOfElements(x) < static_cast<std::size_t>(n) * static_cast<std::size_t>(c))
        fail(msg_empty_page);
    const int K = c * (c - 1) / 2;
    const int method = read_method(nrhs, prhs);

    // Create the angles, accepted and on trial, and the column pair of every angle.
    mxArray* theta = mxCreateDoubleMatrix(1, K, mxREAL);
    auto* pair_lo = static_cast<int*>(mxCalloc(static_cast<std::size_t>(K), sizeof(int)));
    auto* pair_hi = static_cast<int*>(mxCalloc(static_cast<std::size_t>(K), sizeof(int)));
    for (int i = 0, k = 0; i < c - 1; ++i)
        for (int j = i + 1; j < c; ++j, ++k) {
            pair_lo[k] = i;
            pair_hi[k] = j;
        }
    mxArray* theta_trial = mxDuplicateArray(theta);
    double* angle = mxGetPr(theta);
    double* trial = mxGetPr(theta_trial);

    // Compute: sweep the angles in pair order; a change stays only if the quality strictly rises.
    double quality = evqual(x, c, n);
    double quality_prev = quality;
    double quality_prev2 = quality;
    for (int sweep = 1;; ++sweep) {
        for (int k = 0; k < K; ++k) {
            if (method == method_numerical) {
                trial[k] = angle[k] + numerical_step;
                mxArray* y = rotate_givens(x, theta_trial, pair_lo, pair_hi, K, c);
                const double up = evqual(y, c, n);
                mxDestroyArray(y);
                trial[k] = angle[k] - numerical_step;
                y = rotate_givens(x, theta_trial, pair_lo, pair_hi, K, c);
                const double down = evqual(y, c, n);
                mxDestroyArray(y);
                if (up > quality || down > quality) {
                    // Equal gains take the decrease.
                    if (up > down) {
                        angle[k] = angle[k] + numerical_step;
                        quality = up;
                    } else {
                        angle[k] = angle[k] - numerical_step;
                        quality = down;
                    }
                }
                trial[k] = angle[k];
            } else {
                // A step of the full derivative, downhill in the cost and so uphill in quality.
                const double g = evqualitygrad(x, theta, pair_lo, pair_hi, K, k, c, n);
                trial[k] = angle[k] - g;
                mxArray* y = rotate_givens(x, theta_trial, pair_lo, pair_hi, K, c);
                const double moved = evqual(y, c, n);
                if (moved > quality) {
                    angle[k] = trial[k];
                    quality = moved;
                } else {
                    trial[k] = angle[k];
                }
                mxDestroyArray(y);
            }
        }
        // The gain over the last two sweeps; a NaN gain never stops the search.
        if (sweep > 2 && quality - quality_prev2 < stop_gain) break;
        quality_prev2 = quality_prev;
        quality_prev = quality;
        if (sweep == max_sweeps) break;
    }

    // Create the outputs from the accepted angles, which the trial angles equal again.
    mxArray* rotated = rotate_givens(x, theta_trial, pair_lo, pair_hi, K, c);
    plhs[OUT_GROUPS] = cluster_assign(rotated, c, n);
    plhs[OUT_QUALITY] = mxCreateDoubleMatrix(1, 1, mxREAL);
    mxGetPr(plhs[OUT_QUALITY])[0] = quality;
    plhs[OUT_ROTATED] = rotated;

    // Release scratch. theta is left to the host, which reclaims it when the call returns.
    mxFree(pair_lo);
    mxFree(pair_hi);
    mxDestroyArray(theta_trial);
}
