// Places whose copies outnumber the local scale's neighbour count, and the groups they join.
//
// When a place holds more copies than K (the neighbour count of the local scales), the K-th
// nearest point of each copy is another copy: its local scale is 0, the product of scales
// vanishes between it and every other point, and the place falls out of the graph as a piece of
// its own, which would take a count. Where the place lies inside the neighbourhood that sets an
// ordinary point's scale (among its K nearest), the place is part of the data's body and only its
// zero scale cut it off: such a piece is set aside before the eigen-step, like a small piece, and
// its points then join the group of that nearest ordinary point. Where every point sits on such
// places (points on a few places and nothing else), no ordinary point reaches them and each place
// stays a piece, and a group, as before.
#pragma once

#include "mexhost/host.h"

#include <cstddef>
#include <vector>

namespace rotalign {

inline constexpr std::size_t no_point = static_cast<std::size_t>(-1);

// The points of zero scale, and the ordinary points that reach them.
struct repeated_places {
    std::vector<char> zero_scale;    // 1 for a point whose k-th nearest other point is a copy
    std::vector<std::size_t> reach;  // for such a point, see below; no_point for the others
    bool empty() const { return zero_scale.empty(); }
};

// For the distance matrix d (n-by-n host matrix: dense with a zero diagonal, or the sparse
// nearest-neighbour graph without a diagonal) and its local scales `sigma` (local_scales.h): the
// points of zero scale, and for each the nearest point of nonzero scale that has it among its k
// nearest (its distance at most that point's scale; the smaller index on a tie), or no_point.
// Empty when no point has a zero scale.
repeated_places find_repeated_places(const mxArray* d, const std::vector<double>& sigma);

// The points of the pieces of the normalised affinity l (linked as points_in_small_pieces links
// them) that hold only points of zero scale, one of which an ordinary point reaches: each such
// point's entry is the point whose group the piece joins (the reach of its first point that has
// one); no_point for all others. Empty when there is none.
std::vector<std::size_t> joins_of_cut_off_places(const mxArray* l, const repeated_places& places);

}  // namespace rotalign
