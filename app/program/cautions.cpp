#include "cautions.h"

#include "rotalign/affinity/local_scales.h"
#include "rotalign/groups/group_count.h"
#include "rotalign/groups/rotation.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace rotalign {
namespace {

// Two significant digits, written out below a million.
std::string rounded(double value) {
    char text[40];
    if (value >= 1.0 && value < 1e6) {
        const double unit = std::pow(10.0, std::floor(std::log10(value)) - 1.0);
        std::snprintf(text, sizeof text, "%.0f", std::round(value / unit) * unit);
    } else {
        std::snprintf(text, sizeof text, "%.2g", value);
    }
    return text;
}

std::string ordinal(int k) {
    const int last = k % 10, tens = k % 100;
    const char* suffix = (tens >= 11 && tens <= 13) ? "th" : last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
    return std::to_string(k) + suffix;
}

}  // namespace

std::optional<std::string> group_count_warning(std::size_t points, const cluster_options& o) {
    const bool fixed = o.fixed_groups >= 2;
    const int largest = fixed ? o.fixed_groups : o.max_groups;
    const std::size_t neighbours =
        o.affinity == affinity_kind::global ? 0 : static_cast<std::size_t>(std::max(o.neighbours, 0));
    const std::size_t supported = groups_supported(points, neighbours);
    const std::size_t rows = rotation_sample_for(o, points) == 0 ? points : std::min(points, rotation_sample_for(o, points));
    const double ratio = rotation_work(rows, largest) / rotation_work(rows, cluster_options{}.max_groups);
    const bool beyond = static_cast<std::size_t>(largest) > 2 * supported;
    if (!beyond && ratio < 1000.0) return std::nullopt;
    std::string m = std::string(fixed ? "--groups " : "--max-groups ") + std::to_string(largest) + " on " +
                    std::to_string(points) + " points: ";
    std::vector<std::string> parts;
    if (beyond)
        parts.push_back(std::to_string(points) + " points support at most " + std::to_string(supported) +
                        (supported == 1 ? " group (" : " groups (") +
                        (neighbours == 0 ? std::string("two points each")
                                         : "more points each than the " + std::to_string(neighbours) +
                                               " neighbours of the local scales") +
                        ")");
    // The work is worth naming where it is what the warning is about, or at least twice the default's.
    if (ratio >= 1000.0 || (beyond && ratio >= 2.0))
        parts.push_back("the rotation searches for 2 to " + std::to_string(largest) + " groups take roughly " +
                        rounded(ratio) + " times the work of those for 2 to " +
                        std::to_string(cluster_options{}.max_groups) +
                        " (it grows with the fourth power of the largest count)");
    if (beyond)
        parts.push_back(supported >= 2 ? "at most " + std::to_string(supported) + " groups suit these data"
                                       : "try 2 groups, or a smaller neighbour count (--neighbours)");
    for (std::size_t k = 0; k < parts.size(); ++k) m += (k == 0 ? "" : "; ") + parts[k];
    return m;
}

std::optional<std::string> scale_floor_warning(const cluster_result& r, const cluster_options& o, bool from_distances) {
    const std::size_t n = r.groups.size();
    if (n == 0 || 2 * r.scales_at_floor < n || !(r.median_local_scale < local_scale_floor / 100.0)) return std::nullopt;
    std::string m = "the local scales of " + std::to_string(r.scales_at_floor) + " of " + std::to_string(n) +
                    " points (the " + std::string(from_distances ? "distance" : "squared distance") + " to their " +
                    ordinal(o.neighbours) + " neighbour, median " + rounded(r.median_local_scale) +
                    ") lie below the affinity's lower bound of " + rounded(local_scale_floor) +
                    " on the pair scale: the bound, not the data, sets their affinities, and groups that lie close may "
                    "merge. ";
    if (r.median_local_scale == 0.0) {
        m += "Most points have " + std::to_string(o.neighbours) + " or more duplicates";
        // Points less than about 1e-162 apart have a squared distance of 0 and look like duplicates.
        if (from_distances) return m + ": a larger neighbour count (--neighbours) looks past them";
        return m + ", or lie so close that their squared distances round to 0: a larger neighbour count"
                   " (--neighbours) looks past duplicates, and rescaling the data (or --standardise) parts the others";
    }
    // The factor that lifts the median scale to the floor or above, as a power of ten; points
    // enter squared.
    const double lift = local_scale_floor / r.median_local_scale;
    const double factor = std::pow(10.0, std::ceil(std::log10(from_distances ? lift : std::sqrt(lift))));
    if (from_distances) return m + "Rescale the distances (times about " + rounded(factor) + ")";
    return m + "Rescale the data (coordinates times about " + rounded(factor) +
           ") or standardise the columns (--standardise)";
}

}  // namespace rotalign
