#include "rotalign/groups/group_count.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rotalign {

double distance_ratio(const std::vector<double>& values, std::size_t c) {
    const double upper = 1.0 - values[c - 1], lower = 1.0 - values[c];
    // An eigenvalue of 1 may come out a rounding error above 1.
    return upper > 0.0 ? lower / upper : std::numeric_limits<double>::infinity();
}

double near_one_bound(const std::vector<double>& values, const group_count_settings& s) {
    if (values.empty()) return s.near_one;
    return std::fmax(s.noise, std::fmin(s.near_one, s.near_one_share * (1.0 - values.back())));
}

bool clear_cut(const std::vector<double>& values, std::size_t c, const group_count_settings& s) {
    if (c == 0) return true;
    if (c >= values.size()) return false;
    return 1.0 - values[c] > near_one_bound(values, s) && distance_ratio(values, c) > s.repeated_ratio;
}

std::vector<std::size_t> eigenvalue_blocks(const std::vector<double>& values, const group_count_settings& s) {
    std::vector<std::size_t> starts{0};
    for (std::size_t c = 1; c < values.size(); ++c)
        if (clear_cut(values, c, s)) starts.push_back(c);
    return starts;
}

std::size_t smallest_group(const std::vector<int>& groups, int count) {
    if (groups.empty()) return unknown_group_size;
    if (count < 1) return 0;
    std::vector<std::size_t> size(static_cast<std::size_t>(count) + 1, 0);
    for (int g : groups)
        if (g >= 1 && g <= count) ++size[static_cast<std::size_t>(g)];
    return *std::min_element(size.begin() + 1, size.end());
}

group_count choose_groups(const std::vector<double>& values, const std::vector<double>& quality,
                          const group_count_settings& s, const std::vector<std::size_t>& smallest) {
    group_count out;
    std::vector<int> candidates, too_small;
    bool any_strong = false, any_cut = false;
    for (std::size_t k = 0; k < quality.size(); ++k) {
        const std::size_t c = k + 2;
        if (!clear_cut(values, c, s)) continue;
        any_cut = true;
        if (std::isnan(quality[k])) continue;
        if (k < smallest.size() && smallest[k] < s.min_group_size) {
            too_small.push_back(static_cast<int>(c));
            continue;
        }
        candidates.push_back(static_cast<int>(c));
    }
    if (candidates.empty()) candidates.swap(too_small);
    for (int c : candidates)
        any_strong = any_strong || distance_ratio(values, static_cast<std::size_t>(c)) >= s.strong_ratio;
    const std::vector<int> all = candidates;
    if (any_strong) {
        std::vector<int> strong;
        for (int c : candidates)
            if (distance_ratio(values, static_cast<std::size_t>(c)) >= s.strong_ratio) strong.push_back(c);
        candidates.swap(strong);
    }
    if (candidates.empty()) {
        if (!quality.empty() && !any_cut && clear_cut(values, 1, s)) {
            out.chosen = 1;
            out.note = "eigenvalues 2 to " + std::to_string(values.size()) +
                       " are one repeated block: no split of the points stands out, so they form one group";
        }
        return out;
    }
    double best = quality[static_cast<std::size_t>(candidates.front() - 2)];
    for (int c : candidates) best = std::fmax(best, quality[static_cast<std::size_t>(c - 2)]);
    for (int c : candidates)
        if (quality[static_cast<std::size_t>(c - 2)] >= best - s.tolerance) out.chosen = c;
    // The runner-up: the best quality among the other candidates, strong cuts or not.
    auto quality_of = [&quality](int c) { return quality[static_cast<std::size_t>(c - 2)]; };
    for (int c : all)
        if (c != out.chosen && (out.runner_up == 0 || quality_of(c) > quality_of(out.runner_up))) out.runner_up = c;
    if (out.runner_up != 0) {
        out.margin = quality_of(out.chosen) - quality_of(out.runner_up);
        auto strong = [&](int c) { return distance_ratio(values, static_cast<std::size_t>(c)) >= s.strong_ratio; };
        out.clear = out.margin >= s.clear_margin || (strong(out.chosen) && !strong(out.runner_up));
    }
    return out;
}

std::size_t groups_supported(std::size_t points, std::size_t neighbours) {
    return points / (std::max<std::size_t>(neighbours, 1) + 1);
}

}  // namespace rotalign
