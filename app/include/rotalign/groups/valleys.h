// Whether groups part along density valleys: the points on the boundaries between groups lie
// farther from their neighbours than the points of the groups do. Past the count that the
// eigenvalues and qualities choose, a larger strong cut whose boundaries all run through such
// valleys is taken: touching blobs of a feature table or of make_blobs-like data then get their
// own groups, while cuts through one smooth shape (a moon, a ring) run where the points lie as
// close as anywhere else and are left alone.
#pragma once

#include "mexhost/host.h"
#include "rotalign/groups/group_count.h"
#include "rotalign/support/sparse_view.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rotalign {

// What the look across valleys needs of a sparse nearest-neighbour graph d (squared distances):
// each point's own m nearest neighbours, nearest first and then the lowest index (the symmetric
// graph also holds the points that count it among theirs, and a stray point of one group reaching
// into another would put the points it reaches on a boundary), and each point's local scale for k
// neighbours (local_scales).
struct neighbour_probe {
    std::vector<std::int32_t> starts{0}, rows;
    std::vector<double> scales;

    neighbour_probe(const mxArray* d, std::size_t k, std::size_t m);
    sparse_view view() const { return {scales.size(), starts.data(), rows.data(), nullptr}; }
};

// How much farther from their neighbours the points on the boundaries that `groups` add to
// `before` lie than the points of the groups they part, for the shallowest of those boundaries.
// A point lies on the boundary between its group and another when one of its own nearest
// neighbours in the graph lies in the other group; the boundary is new when the point has no such
// neighbour under `before` (empty: no earlier groups). For each new boundary, the lower median of
// `scales` (squared distances, one per point) over its points against the lower median over the
// points of its two groups, as a ratio of distances (the square root of the ratio); the smallest
// ratio is returned. Old boundaries do not count: a few stray points between two shapes lie on
// the boundary of the shapes' groups and would make any further cut look like a valley. Nor do
// other groups: a sparser shape elsewhere would. groups[i] == 0: in no group, neither on a
// boundary nor counted. Infinite when no new boundary has a point.
double boundary_spread(const sparse_view& graph, const std::vector<double>& scales, const std::vector<int>& groups,
                       const std::vector<int>& before = {});

// The count past `chosen` whose boundaries run through valleys: the largest c > chosen that is a
// clear and strong cut (group_count_settings), whose quality is a number, whose smallest group is
// not below settings.min_group_size (see choose_groups), and whose boundary_spread,
// from spread_at(c), is at least settings.valley_ratio; `chosen` when there is none.
int count_across_valleys(const std::vector<double>& values, const std::vector<double>& quality,
                         const group_count_settings& settings, const std::vector<std::size_t>& smallest, int chosen,
                         const std::function<double(int)>& spread_at);

// The count across valleys on the probe's graph, the groups of each count (all points, 0: in no
// group) from groups_at(c), and the note that says why when it is not `chosen`.
struct valley_count {
    int chosen = 0;
    std::string note;
};
valley_count look_across_valleys(const std::vector<double>& values, const std::vector<double>& quality,
                                 const group_count_settings& settings, const std::vector<std::size_t>& smallest,
                                 int chosen, const neighbour_probe& probe,
                                 const std::function<std::vector<int>(int)>& groups_at);

}  // namespace rotalign
