#include "rotalign/groups/valleys.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rotalign {
namespace {

double lower_median(std::vector<double> v) {
    const auto middle = v.begin() + static_cast<std::ptrdiff_t>((v.size() - 1) / 2);
    std::nth_element(v.begin(), middle, v.end());
    return *middle;
}

}  // namespace

double boundary_spread(const sparse_view& graph, const std::vector<double>& scales, const std::vector<int>& groups) {
    std::vector<double> grouped, boundary;
    for (std::size_t j = 0; j < graph.n; ++j) {
        if (groups[j] == 0) continue;
        grouped.push_back(scales[j]);
        for (std::int32_t k = graph.starts[j]; k < graph.starts[j + 1]; ++k) {
            const int other = groups[static_cast<std::size_t>(graph.rows[k])];
            if (other != 0 && other != groups[j]) {
                boundary.push_back(scales[j]);
                break;
            }
        }
    }
    if (boundary.empty()) return std::numeric_limits<double>::infinity();
    const double all = lower_median(std::move(grouped));
    // Points that all share a place have no spread to compare: no valley.
    if (!(all > 0.0)) return 0.0;
    return std::sqrt(lower_median(std::move(boundary)) / all);
}

int count_across_valleys(const std::vector<double>& values, const std::vector<double>& quality,
                         const group_count_settings& s, const std::vector<std::size_t>& smallest, int chosen,
                         const std::function<double(int)>& spread_at) {
    if (chosen < 1) return chosen;
    for (std::size_t k = quality.size(); k-- > static_cast<std::size_t>(chosen - 1);) {
        const std::size_t c = k + 2;
        if (!clear_cut(values, c, s) || distance_ratio(values, c) < s.strong_ratio || std::isnan(quality[k])) continue;
        if (k < smallest.size() && smallest[k] > 0 && smallest[k] < s.min_group_size) continue;
        if (spread_at(static_cast<int>(c)) >= s.valley_ratio) return static_cast<int>(c);
    }
    return chosen;
}

}  // namespace rotalign
