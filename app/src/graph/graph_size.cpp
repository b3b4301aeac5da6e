#include "rotalign/graph/graph_size.h"

#include "rotalign/support/sample_rows.h"

#include "neighbours/neighbour_parts.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <vector>

namespace rotalign {

std::size_t neighbours_for_share(const points& p, const neighbour_lists& lists, const affinity_kernel& kernel,
                                 std::size_t most, const graph_size_settings& settings) {
    const std::size_t n = p.count, least = lists.per_point;
    most = std::min(most, n - 1);
    if (most <= least) return least;
    // Local scales as the plug-ins take them: the K-th smallest stored distance of each column.
    std::vector<double> sigma;
    if (!kernel.global()) {
        sigma.resize(n);
        for (std::size_t j = 0; j < n; ++j) sigma[j] = lists.distances_of(j)[kernel.neighbours - 1];
    }
    const std::vector<std::size_t> sampled = sample_rows(n, settings.sample, settings.seed);
    std::vector<std::size_t> needed;
    std::vector<double> row;
    for (const std::size_t j : sampled) {
        detail::interrupt_scope::poll();
        row.clear();
        const double* b = &p.values[j * p.dims];
        for (std::size_t i = 0; i < n; ++i) {
            if (i == j) continue;
            const double d = detail::squared_distance(&p.values[i * p.dims], b, p.dims);
            double s = kernel.scale * kernel.scale;
            if (!kernel.global()) {
                s = std::sqrt(sigma[i] * sigma[j]);
                if (s < 0.004) s = 0.004;
            }
            row.push_back(std::exp(-(d / s)));
        }
        const double total = std::accumulate(row.begin(), row.end(), 0.0);
        // Only the `most` largest affinities can count: beyond them the answer is `most` anyway.
        std::nth_element(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(most - 1), row.end(),
                         std::greater<double>());
        std::sort(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(most), std::greater<double>());
        std::size_t count = most;
        double held = 0.0;
        for (std::size_t k = 0; k < most; ++k) {
            held += row[k];
            if (held >= settings.share * total) {
                count = k + 1;
                break;
            }
        }
        needed.push_back(count);
    }
    const std::size_t at = std::min(needed.size() - 1, static_cast<std::size_t>(settings.quantile * needed.size()));
    std::nth_element(needed.begin(), needed.begin() + static_cast<std::ptrdiff_t>(at), needed.end());
    return std::clamp(needed[at], least, most);
}

}  // namespace rotalign
