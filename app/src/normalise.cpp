#include "rotalign/normalise.h"

#include "rotalign/points.h"

#include <cmath>
#include <string>
#include <vector>

namespace rotalign {

void normalise(double* a, std::size_t n) {
    std::vector<double> factor(n);
    for (std::size_t j = 0; j < n; ++j) {
        double degree = 0.0;
        for (std::size_t i = 0; i < n; ++i) degree += a[i + j * n];
        if (!(degree > 0.0) || !std::isfinite(degree))
            throw input_error("point " + std::to_string(j + 1) +
                              " has no affinity to any other point (try a larger scale or neighbour count)");
        factor[j] = 1.0 / std::sqrt(degree);
    }
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) a[i + j * n] *= factor[i] * factor[j];
}

}  // namespace rotalign
