// Nearest-neighbour lists built up one block of points at a time, for points held in several
// places (the ranks of a distributed run): every block is offered to every list in turn, and the
// lists end exactly as nearest_neighbours makes them over all the points.
#pragma once

#include "rotalign/input/points.h"
#include "rotalign/neighbours/neighbours.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace rotalign {

// The index of an entry that holds no neighbour yet; its distance is +infinity.
constexpr std::uint32_t no_neighbour = std::numeric_limits<std::uint32_t>::max();

// `count` lists of `per_point` empty entries.
neighbour_lists unfilled_lists(std::size_t count, std::size_t per_point);

// Offers the points of `reference`, whose indices among all points are first_reference + i, to
// the lists of `queries` (first_query + q): each list keeps the per_point nearest pairs seen, in
// the squared distance of the dense route, nearest first and ties by the smaller index; a point
// is never its own neighbour. After every block has been offered, each list equals the list of
// nearest_neighbours over all the points, duplicates included. An exact k-d tree search on the
// reference block, pruned with the list's current last distance (made safe against rounding), so
// that later blocks cost little; a query whose list ends nearer than the block's bounding box
// skips the block. `threads` 0: as many as the machine has. `order`, when given,
// is the order in which the queries are searched (every query once; see search_order); the
// lists do not depend on it. Throws input_error when the coordinates differ, the lists do not
// match the queries, or an index passes 2^32 - 2.
void offer_block(const points& reference, std::size_t first_reference, const points& queries, std::size_t first_query,
                 neighbour_lists& lists, unsigned threads = 0, const std::vector<std::uint32_t>& order = {});

// The same for blocks whose points are not consecutive among all points: reference point i is
// point reference_index[i] and query q point query_index[q]. Throws input_error also when an index
// list does not match its points.
void offer_block(const points& reference, const std::vector<std::uint32_t>& reference_index, const points& queries,
                 const std::vector<std::uint32_t>& query_index, neighbour_lists& lists, unsigned threads = 0,
                 const std::vector<std::uint32_t>& order = {});

// The points in the order of a k-d tree's leaves: searched in this order, neighbouring queries
// touch the same parts of the reference's tree one after the other.
std::vector<std::uint32_t> search_order(const points& p);

}  // namespace rotalign
