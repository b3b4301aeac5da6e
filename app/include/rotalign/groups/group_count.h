// Choosing the number of groups from the leading eigenvalues of the normalised affinity and the
// alignment qualities of the rotation searches. Pure functions of those numbers, so that every
// route to the eigenvalues can share them.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace rotalign {

struct group_count_settings {
    // Qualities within this of the best candidate's count as equally good; the most groups among
    // them win.
    double tolerance = 0.001;
    // Eigenvalues within this of 1 count as copies of 1: pieces of a graph whose links carry less
    // than this share of their affinity are as good as apart, and the differences between such
    // eigenvalues reflect links too faint to mean anything (near 1e-10, the solvers' residuals).
    double near_one = 1e-4;
    // The graphs of many points crowd their leading eigenvalues against 1: a thin shape of N
    // points has 1 - lambda falling like 1/N^2 (two moons: 1e-3 at 20,000 points, 1e-5 at 100,000
    // nearest-neighbour points), all of it real structure. The bound above therefore shrinks to
    // this share of the last eigenvalue's distance from 1 when that is smaller, but never below
    // `noise`, where the solvers' residuals would decide.
    double near_one_share = 1e-3;
    double noise = 1e-9;
    // Two neighbouring eigenvalues count as repeated when the lower one lies less than this many
    // times as far from 1 as the upper one.
    double repeated_ratio = 1.05;
    // A clear cut is a strong one when the next eigenvalue lies at least this many times as far
    // from 1 as the last one kept.
    double strong_ratio = 1.5;
    // Counts whose grouping has a group of fewer points than this are no candidates (when the
    // groups are known); 0 or 1: any size.
    std::size_t min_group_size = 0;
    // The choice stands clear of the runner-up when its quality is at least this much higher,
    // or when it is a strong cut and the runner-up is not.
    double clear_margin = 0.01;
    // Where the groups' boundaries are known to run through density valleys, the points on them
    // lie at least this many times farther from their neighbours than the grouped points do
    // (valleys.h). Cuts through one smooth shape measure 0.9 to 1.1.
    double valley_ratio = 1.4;
};

// The distance from 1 within which the eigenvalues `values` count as copies of 1:
// near_one, or near_one_share of the last value's distance when that is smaller, at least noise.
double near_one_bound(const std::vector<double>& values, const group_count_settings& settings);

// (1 - values[c]) / (1 - values[c-1]) for 1 <= c < values.size(): how many times farther from 1
// the eigenvalue after the leading c lies than the last of them (infinite when that one is 1).
double distance_ratio(const std::vector<double>& values, std::size_t c);

// Whether the leading c eigenvalues (values descending) stand apart from the next one, so that
// the space of the leading c eigenvectors is well defined: the next eigenvalue lies more than
// near_one_bound below 1 and more than settings.repeated_ratio times as far from 1. c = 0
// always counts as a clear cut; c at or past the last value never does.
bool clear_cut(const std::vector<double>& values, std::size_t c, const group_count_settings& settings);

// The first index of every block of nearly repeated eigenvalues: 0, then every c with a clear cut
// after the leading c values.
std::vector<std::size_t> eigenvalue_blocks(const std::vector<double>& values, const group_count_settings& settings);

// The most groups that `points` points support under local scales of `neighbours` neighbours:
// a group needs more points than the neighbour count, or its points' scales reach outside it.
// With a global scale (neighbours 0) a group needs two points.
std::size_t groups_supported(std::size_t points, std::size_t neighbours);

struct group_count {
    int chosen = 0;    // number of groups; 1 when the data show no split at all; 0 when nothing fits
    std::string note;  // why, when the choice is not an ordinary one
    // The best other candidate (0: none) and the chosen count's quality less its quality.
    int runner_up = 0;
    double margin = 0.0;
    bool clear = true;  // see group_count_settings::clear_margin
};

// The group-count rule. values: the leading eigenvalues of the normalised affinity, descending,
// one more than the largest number of groups searched. quality[k]: the alignment quality of the
// search with k + 2 groups (not a number when the search had an all-zero row).
// 1. c is a candidate when the leading c eigenvalues stand apart from the next (clear_cut) and
//    its quality is a number: a c inside a block of nearly repeated eigenvalues has no
//    well-defined space of c eigenvectors, and the solver's arithmetic would decide its quality.
// 2. When some candidates are strong cuts (distance_ratio at least settings.strong_ratio), only
//    they remain.
// 3. The most groups whose quality lies within the tolerance of the best remaining quality.
// With no clear cut from 2 on but one after the first eigenvalue (the rest one repeated block, as
// for identical points) the answer is 1 group.
// smallest[k], when given: the points of the smallest group of the search with k + 2 groups (0
// when a group was left empty; unknown_group_size when not searched). A count whose smallest group
// is below settings.min_group_size is left out, unless that leaves no candidate: a handful of
// stray points does not make a group.
group_count choose_groups(const std::vector<double>& values, const std::vector<double>& quality,
                          const group_count_settings& settings = {},
                          const std::vector<std::size_t>& smallest = {});

// The size of a count's smallest group where no search gave its groups.
constexpr std::size_t unknown_group_size = std::numeric_limits<std::size_t>::max();

// The points of the smallest of the groups 1 .. count in `groups` (0: no group), 0 when one of
// them holds no point; unknown_group_size when `groups` is empty (no search gave them).
std::size_t smallest_group(const std::vector<int>& groups, int count);

}  // namespace rotalign
