#include "distances.h"

#include "rotalign/input/points.h"

#include <algorithm>
#include <string>
#include <utility>

namespace rotalign_python {
namespace {

}  // namespace

void check_distances(const double* v, std::size_t n, bool by_rows) {
    // v[i * n + j] is X[i, j] by rows, X[j, i] by columns.
    const auto entry = [by_rows](std::size_t i, std::size_t j) {
        if (!by_rows) std::swap(i, j);
        return "X[" + std::to_string(i) + ", " + std::to_string(j) + "]";
    };
    for (std::size_t i = 0; i < n; ++i)
        if (v[i * n + i] != 0.0)
            throw rotalign::input_error("the distance matrix has a non-zero diagonal at " + entry(i, i));
    // Pairs of mirrored 64-by-64 tiles, so that the transposed side is read in short runs too.
    constexpr std::size_t tile = 64;
    for (std::size_t i0 = 0; i0 < n; i0 += tile)
        for (std::size_t j0 = i0; j0 < n; j0 += tile)
            for (std::size_t i = i0; i < std::min(n, i0 + tile); ++i)
                for (std::size_t j = std::max(j0, i + 1); j < std::min(n, j0 + tile); ++j) {
                    const double a = v[i * n + j];
                    const double b = v[j * n + i];
                    if (a < 0.0 || b < 0.0)
                        throw rotalign::input_error("the distance matrix has a negative value at " +
                                                    (a < 0.0 ? entry(i, j) : entry(j, i)));
                    if (a != b)
                        throw rotalign::input_error("the distance matrix is not symmetric: " + entry(i, j) + " differs from " +
                                                    entry(j, i) + " (symmetrise it, e.g. (D + D.T) / 2)");
                }
}

}  // namespace rotalign_python
