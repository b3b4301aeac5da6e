#include "rotalign/normalise.h"

#include "rotalign/points.h"

#include <cmath>
#include <string>
#include <vector>

namespace rotalign {

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
    std::vector<double> factor(n);
    for (std::size_t j = 0; j < n; ++j) {
        double degree = 0.0;
        for (std::size_t i = 0; i < n; ++i) degree += a[i + j * n];
        factor[j] = scale_factor(degree, j);
    }
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) a[i + j * n] *= factor[i] * factor[j];
}

}  // namespace rotalign
