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

// The start of column j of a matrix with `rows` rows; offsets in 64 bits.
static const double* column(const double* data, std::size_t rows, int j)
{
    return data + rows * static_cast<std::size_t>(j);
}

static double* column(double* data, std::size_t rows, int j)
{
    return data + rows * static_cast<std::size_t>(j);
}

// Columns j to j+3 of data with `rows` rows, for passes that take four columns at a time.
struct column_quad {
    const double* at[4];
};

static column_quad four_columns(const double* data, std::size_t rows, int j)
{
    return {{column(data, rows, j), column(data, rows, j + 1), column(data, rows, j + 2), column(data, rows, j + 3)}};
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

// The passes below are bound by their divisions and by one running sum each. Where the loader
// can choose between versions of a function (GNU ifunc on x86-64), they also come in a version
// for 256-bit vectors, which divides four values at a time; division is exactly rounded at any
// width and the sums keep their order, so both versions give the same bits.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
#define WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_VECTORS
#endif

// v*v as a double. The x87 builds keep a product in extended precision until it is stored, and
// the largest square of a row is stored: comparing a fresh extended square with it would find no
// column at all for a row whose largest square was rounded up. Storing the square rounds it.
static inline double square_of(double v)
{
#if defined(__i386__) && !defined(__SSE2_MATH__)
    volatile double square = v * v;
    return square;
#else
    return v * v;
#endif
}

// The larger of the square held and v*v, by the rule that a square at least as large replaces
// the one held: a NaN never does, and equal squares are the same value (neither can be -0).
static inline double larger_square(double held, double v)
{
    const double square = square_of(v);
    return held < square ? square : held;
}

// For each of the n rows of the n-by-c data y: square[r] receives the largest y*y of the row, 0
// for a row of zeros or of NaNs; square[] must arrive zeroed. Branch-free, so that the time does
// not depend on the data. Columns are taken four at a time, in order within each row, so that a
// row's square is loaded and stored once per four columns.
WIDE_VECTORS static void lead_squares(const double* y, std::size_t n, int c, double* square)
{
    int j = 0;
    for (; j + 4 <= c; j += 4) {
        const column_quad yq = four_columns(y, n, j);
        for (std::size_t r = 0; r < n; ++r) {
            const double held = larger_square(larger_square(square[r], yq.at[0][r]), yq.at[1][r]);
            square[r] = larger_square(larger_square(held, yq.at[2][r]), yq.at[3][r]);
        }
    }
    for (; j < c; ++j) {
        const double* yj = column(y, n, j);
        for (std::size_t r = 0; r < n; ++r) square[r] = larger_square(square[r], yj[r]);
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
        const double* yj = column(y, n, j);
        for (std::size_t r = 0; r < n; ++r) lead[r] = square_of(yj[r]) >= square[r] ? j : lead[r];
    }
}

// For each row of the n-by-c data y and its derivative a: m[r] receives the row's leading entry,
// signed, and b[r] the entry of a in the same column. Scanning the columns in order, an entry
// whose square is at least m[r]*m[r] takes over, so ties go to the later column and a NaN never
// takes over; a row of NaNs keeps the start values, m = +0 in column 0. m[] must arrive zeroed.
// Columns are taken four at a time, in order within each row.
WIDE_VECTORS static void lead_entries(const double* y, const double* a, std::size_t n, int c,
                                      double* __restrict m, double* __restrict b)
{
    for (std::size_t r = 0; r < n; ++r) b[r] = a[r];
    int j = 0;
    for (; j + 4 <= c; j += 4) {
        const column_quad yq = four_columns(y, n, j);
        const column_quad aq = four_columns(a, n, j);
        for (std::size_t r = 0; r < n; ++r) {
            // Every entry is loaded whatever the outcome, so that the choices compile to selects.
            const double v0 = yq.at[0][r], v1 = yq.at[1][r], v2 = yq.at[2][r], v3 = yq.at[3][r];
            const double d0 = aq.at[0][r], d1 = aq.at[1][r], d2 = aq.at[2][r], d3 = aq.at[3][r];
            double mr = m[r];
            double br = b[r];
            br = v0 * v0 >= mr * mr ? d0 : br;
            mr = v0 * v0 >= mr * mr ? v0 : mr;
            br = v1 * v1 >= mr * mr ? d1 : br;
            mr = v1 * v1 >= mr * mr ? v1 : mr;
            br = v2 * v2 >= mr * mr ? d2 : br;
            mr = v2 * v2 >= mr * mr ? v2 : mr;
            b[r] = v3 * v3 >= mr * mr ? d3 : br;
            m[r] = v3 * v3 >= mr * mr ? v3 : mr;
        }
    }
    for (; j < c; ++j) {
        const double* yj = column(y, n, j);
        const double* aj = column(a, n, j);
        for (std::size_t r = 0; r < n; ++r) {
            const double v = yj[r];
            const double d = aj[r];
            const double mr = m[r];
            b[r] = v * v >= mr * mr ? d : b[r];
            m[r] = v * v >= mr * mr ? v : mr;
        }
    }
}

// The alignment cost J of the n-by-c data y: every y[r,j]^2 divided by the largest square of
// row r, added column by column to one running sum.
WIDE_VECTORS static double alignment_cost(const double* y, const double* square, std::size_t n, int c)
{
    double cost = 0.0;
    for (int j = 0; j < c; ++j) {
        const double* yj = column(y, n, j);
        for (std::size_t r = 0; r < n; ++r) cost = cost + (yj[r] * yj[r]) / square[r];
    }
    return cost;
}

// alignment_cost of two matrices at once. Each cost is still one running sum in its own order,
// but the two chains of dependent additions run side by side, in little more time than one.
WIDE_VECTORS static void alignment_costs(const double* y1, const double* square1, const double* y2,
                                         const double* square2, std::size_t n, int c, double* cost1, double* cost2)
{
    double sum1 = 0.0;
    double sum2 = 0.0;
    for (int j = 0; j < c; ++j) {
        const double* y1j = column(y1, n, j);
        const double* y2j = column(y2, n, j);
        for (std::size_t r = 0; r < n; ++r) {
            sum1 = sum1 + (y1j[r] * y1j[r]) / square1[r];
            sum2 = sum2 + (y2j[r] * y2j[r]) / square2[r];
        }
    }
    *cost1 = sum1;
    *cost2 = sum2;
}

// The quality 1 - (J/n - 1)/c for the alignment cost J of an n-by-c matrix, in that order.
static double quality_of(double cost, int c, int n)
{
    return 1.0 - (cost / n - 1.0) / c;
}

// The alignment quality of the n-by-c matrix Y: 1 when each row has one non-zero entry, down to
// 1/c when all entries of each row have the same magnitude; NaN when a row is all zero.
static double evqual(const mxArray* y_array, int c, int n)
{
    const double* y = mxGetPr(y_array);
    const auto rows = static_cast<std::size_t>(n);
    auto* square = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    lead_squares(y, rows, c, square);
    const double cost = alignment_cost(y, square, rows, c);
    mxFree(square);
    return quality_of(cost, c, n);
}

// evqual of two n-by-c matrices, *q1 for Y1 and *q2 for Y2, computed side by side.
static void evqual_pair(const mxArray* y1_array, const mxArray* y2_array, int c, int n, double* q1, double* q2)
{
    const double* y1 = mxGetPr(y1_array);
    const double* y2 = mxGetPr(y2_array);
    const auto rows = static_cast<std::size_t>(n);
    auto* square1 = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    auto* square2 = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    lead_squares(y1, rows, c, square1);
    lead_squares(y2, rows, c, square2);
    double cost1 = 0.0;
    double cost2 = 0.0;
    alignment_costs(y1, square1, y2, square2, rows, c, &cost1, &cost2);
    mxFree(square1);
    mxFree(square2);
    *q1 = quality_of(cost1, c, n);
    *q2 = quality_of(cost2, c, n);
}

// Half the derivative of J for the n-by-c rotated matrix y and its derivative a, with each row's
// leading column held fixed: the terms (y*a)/m^2 - (y^2*b)/m^3 added column by column to one
// running sum, where per row m is the signed leading entry and b the derivative of it. The sign
// of m matters in the second term.
WIDE_VECTORS static double gradient_sum(const double* y, const double* a, const double* m, const double* b,
                                        std::size_t n, int c)
{
    double sum = 0.0;
    for (int j = 0; j < c; ++j) {
        const double* yj = column(y, n, j);
        const double* aj = column(a, n, j);
        for (std::size_t r = 0; r < n; ++r)
            sum = sum + ((yj[r] * aj[r]) / (m[r] * m[r]) - ((yj[r] * yj[r]) * b[r]) / (m[r] * (m[r] * m[r])));
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
    // Per row: the signed leading entry m and its derivative b.
    auto* m = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    auto* b = static_cast<double*>(mxCalloc(rows, sizeof(double)));
    lead_entries(y, a, rows, c, m, b);
    const double sum = gradient_sum(y, a, m, b, rows, c);
    mxFree(m);
    mxFree(b);
    mxDestroyArray(y_array);
    mxDestroyArray(a_array);
    return (sum + sum) / n / c;
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
    // Check counts: three outputs, X and an optional method.
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
    // A further dimension of 0 leaves fewer values than the first two promise (64-bit product,
    // as a 32-bit size_t could wrap).
    const std::uint64_t values = mxGetNumberOfElements(x);
    if (values < static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(c)) fail(msg_empty_page);
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
                // Both directions, the increase first; their qualities are taken together.
                trial[k] = angle[k] + numerical_step;
                mxArray* y_up = rotate_givens(x, theta_trial, pair_lo, pair_hi, K, c);
                trial[k] = angle[k] - numerical_step;
                mxArray* y_down = rotate_givens(x, theta_trial, pair_lo, pair_hi, K, c);
                double up = 0.0;
                double down = 0.0;
                evqual_pair(y_up, y_down, c, n, &up, &down);
                mxDestroyArray(y_up);
                mxDestroyArray(y_down);
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
