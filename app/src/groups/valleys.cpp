#include "rotalign/groups/valleys.h"

#include "rotalign/affinity/local_scales.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <utility>

namespace rotalign {
namespace {

double lower_median(std::vector<double> v) {
    const auto middle = v.begin() + static_cast<std::ptrdiff_t>((v.size() - 1) / 2);
    std::nth_element(v.begin(), middle, v.end());
    return *middle;
}

// Whether point j has a graph neighbour in another group of `groups`.
bool on_boundary(const sparse_view& graph, const std::vector<int>& groups, std::size_t j) {
    for (std::int32_t k = graph.starts[j]; k < graph.starts[j + 1]; ++k) {
        const int other = groups[static_cast<std::size_t>(graph.rows[k])];
        if (other != 0 && other != groups[j]) return true;
    }
    return false;
}

}  // namespace

neighbour_probe::neighbour_probe(const mxArray* d, std::size_t k, std::size_t m) : scales(local_scales(d, k)) {
    const mwIndex* jc = mxGetJc(d);
    const mwIndex* ir = mxGetIr(d);
    const double* values = mxGetPr(d);
    std::vector<std::pair<double, mwIndex>> column;  // (squared distance, row)
    for (std::size_t j = 0; j < mxGetN(d); ++j) {
        column.clear();
        for (mwIndex e = jc[j]; e < jc[j + 1]; ++e) column.emplace_back(values[e], ir[e]);
        const auto own = column.begin() + static_cast<std::ptrdiff_t>(std::min(m, column.size()));
        std::partial_sort(column.begin(), own, column.end());
        for (auto it = column.begin(); it != own; ++it) rows.push_back(static_cast<std::int32_t>(it->second));
        starts.push_back(static_cast<std::int32_t>(rows.size()));
    }
}

double boundary_spread(const sparse_view& graph, const std::vector<double>& scales, const std::vector<int>& groups,
                       const std::vector<int>& before) {
    // The scales of each group's points, and those of the points on each new boundary, by the
    // pair of groups it runs between.
    std::map<int, std::vector<double>> of_group;
    std::map<std::pair<int, int>, std::vector<double>> on_pair;
    std::vector<int> others;
    for (std::size_t j = 0; j < graph.n; ++j) {
        if (groups[j] == 0) continue;
        of_group[groups[j]].push_back(scales[j]);
        if (!before.empty() && before[j] != 0 && on_boundary(graph, before, j)) continue;
        others.clear();
        for (std::int32_t k = graph.starts[j]; k < graph.starts[j + 1]; ++k) {
            const int other = groups[static_cast<std::size_t>(graph.rows[k])];
            if (other != 0 && other != groups[j] && std::find(others.begin(), others.end(), other) == others.end())
                others.push_back(other);
        }
        for (const int other : others)
            on_pair[{std::min(groups[j], other), std::max(groups[j], other)}].push_back(scales[j]);
    }
    // The shallowest valley decides: every new boundary must run through one.
    double spread = std::numeric_limits<double>::infinity();
    for (auto& [pair, boundary] : on_pair) {
        std::vector<double> beside = of_group[pair.first];
        beside.insert(beside.end(), of_group[pair.second].begin(), of_group[pair.second].end());
        const double usual = lower_median(std::move(beside));
        // Points that all share a place have no spread to compare: no valley.
        spread = std::fmin(spread, usual > 0.0 ? std::sqrt(lower_median(std::move(boundary)) / usual) : 0.0);
    }
    return spread;
}

int count_across_valleys(const std::vector<double>& values, const std::vector<double>& quality,
                         const group_count_settings& s, const std::vector<std::size_t>& smallest, int chosen,
                         const std::function<double(int)>& spread_at) {
    if (chosen < 1) return chosen;
    for (std::size_t k = quality.size(); k-- > static_cast<std::size_t>(chosen - 1);) {
        const std::size_t c = k + 2;
        if (!clear_cut(values, c, s) || distance_ratio(values, c) < s.strong_ratio || std::isnan(quality[k])) continue;
        if (k < smallest.size() && smallest[k] < s.min_group_size) continue;
        if (spread_at(static_cast<int>(c)) >= s.valley_ratio) return static_cast<int>(c);
    }
    return chosen;
}

valley_count look_across_valleys(const std::vector<double>& values, const std::vector<double>& quality,
                                 const group_count_settings& settings, const std::vector<std::size_t>& smallest,
                                 int chosen, const neighbour_probe& probe,
                                 const std::function<std::vector<int>(int)>& groups_at) {
    const std::vector<int> before = groups_at(chosen);
    double spread = 0.0;
    valley_count out;
    out.chosen = count_across_valleys(values, quality, settings, smallest, chosen, [&](int c) {
        const std::vector<int> groups = groups_at(c);
        spread = groups.empty() ? 0.0 : boundary_spread(probe.view(), probe.scales, groups, before);
        return spread;
    });
    if (out.chosen != chosen) {
        char times[32];
        std::snprintf(times, sizeof times, "%.2f", spread);
        out.note = std::to_string(out.chosen) + " groups part along density valleys (on each boundary they add, the " +
                   "points lie at least " + times + " times farther from their neighbours than the points of the two " +
                   "groups it parts), so they are taken over the " + std::to_string(chosen) +
                   " that the eigenvalues and qualities favour";
    }
    return out;
}

}  // namespace rotalign
