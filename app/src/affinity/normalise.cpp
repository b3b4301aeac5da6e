#include "rotalign/affinity/normalise.h"

#include "rotalign/support/errors.h"

#include <cmath>
#include <string>
#include <vector>

namespace rotalign {
namespace {

// The column sums of the n-by-n matrix a, each added from zero down its column in order. Four
// columns are summed side by side: one chain of additions is bound by the latency of an
// addition, four independent ones are not.
std::vector<double> column_sums(const double* a, std::size_t n) {
    std::vector<double> sums(n);
    std::size_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const double *c0 = a + j * n, *c1 = c0 + n, *c2 = c1 + n, *c3 = c2 + n;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            s0 += c0[i];
            s1 += c1[i];
            s2 += c2[i];
            s3 += c3[i];
        }
        sums[j] = s0, sums[j + 1] = s1, sums[j + 2] = s2, sums[j + 3] = s3;
    }
    for (; j < n; ++j) {
        double s = 0.0;
        for (std::size_t i = 0; i < n; ++i) s += a[i + j * n];
        sums[j] = s;
    }
    return sums;
}

}  // namespace

namespace {

// 1 / sqrt(degree) of point j, or the message for a point that no affinity joins to the others.
double scale_factor(double degree, std::size_t j) {
    if (!(degree > 0.0) || !std::isfinite(degree))
        throw input_error("point " + std::to_string(j + 1) +
                          " has no affinity to any other point (try a larger scale or neighbour count)");
    return 1.0 / std::sqrt(degree);
}

}  // namespace

void normalise(std::size_t n, const std::int32_t* starts, const std::int32_t* rows, double* values) {
    std::vector<double> factor(n);
    for (std::size_t j = 0; j < n; ++j) {
        double degree = 0.0;
        for (std::int32_t k = starts[j]; k < starts[j + 1]; ++k) degree += values[k];
        factor[j] = scale_factor(degree, j);
    }
    for (std::size_t j = 0; j < n; ++j)
        for (std::int32_t k = starts[j]; k < starts[j + 1]; ++k)
            values[k] *= factor[static_cast<std::size_t>(rows[k])] * factor[j];
}

void normalise(double* a, std::size_t n) {
    std::vector<double> factor = column_sums(a, n);
    for (std::size_t j = 0; j < n; ++j) {
        factor[j] = scale_factor(factor[j], j);
    }
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) a[i + j * n] *= factor[i] * factor[j];
}

}  // namespace rotalign
