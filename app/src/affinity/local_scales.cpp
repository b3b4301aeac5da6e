#include "rotalign/affinity/local_scales.h"

#include <algorithm>
#include <vector>

namespace rotalign {

std::vector<double> local_scales(const mxArray* d, std::size_t k) {
    const std::size_t n = mxGetM(d);
    const double* values = mxGetPr(d);
    std::vector<double> sigma(n), column;
    for (std::size_t j = 0; j < n; ++j) {
        const double* first;
        std::size_t count, at;
        if (mxIsSparse(d)) {
            const mwIndex* jc = mxGetJc(d);
            first = values + jc[j];
            count = static_cast<std::size_t>(jc[j + 1] - jc[j]);
            if (count == 0) {
                sigma[j] = 0.0;
                continue;
            }
            at = std::min(std::max<std::size_t>(k, 1), count) - 1;
        } else {
            first = values + j * n;
            count = n;
            at = std::min(k, n - 1);
        }
        column.assign(first, first + count);
        std::nth_element(column.begin(), column.begin() + static_cast<std::ptrdiff_t>(at), column.end());
        sigma[j] = column[at];
    }
    return sigma;
}

local_scale_summary summarise_local_scales(std::vector<double> sigma) {
    local_scale_summary s;
    const std::size_t n = sigma.size();
    if (n == 0) return s;
    for (const double v : sigma)
        if (v < local_scale_floor) ++s.below_floor;
    const std::size_t middle = (n - 1) / 2;
    std::nth_element(sigma.begin(), sigma.begin() + static_cast<std::ptrdiff_t>(middle), sigma.end());
    s.median = sigma[middle];
    return s;
}

}  // namespace rotalign
