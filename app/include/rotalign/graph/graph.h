// The symmetrised nearest-neighbour graph of squared distances, as the N-by-N host sparse
// matrix that the local-scaling and affinity plug-ins take instead of a dense distance matrix.
#pragma once

#include "mexhost/host.h"
#include "rotalign/neighbours/neighbours.h"

#include <cstddef>

namespace rotalign {

// Neighbours per point for local scales of K neighbours: twice as many. Any M >= K gives every
// point exactly the dense route's scale; the further neighbours only decide which affinities the
// graph keeps. How much of the dense affinity that is depends on the lower bound 0.004 of the
// pairwise scale, which takes over once points lie close: on 5,000 two-moons points 98% of the
// pairs have their scale at the bound, and the graph keeps 18% of the dense affinity mass with
// M = K = 7, 32% with 2K, 53% with 4K and 95% with 100 neighbours. Entries, time and memory grow
// in proportion to M; with 2K the graph's leading 2, 3 and 5 eigenvectors span subspaces within
// 6.6, 6.8 and 8.1 degrees of the dense ones, at a seventh of the entries of 100 neighbours.
constexpr std::size_t graph_neighbours(std::size_t local_scale_neighbours) { return 2 * local_scale_neighbours; }

struct neighbour_graph {
    // N-by-N, column-compressed, rows ascending within a column, no stored diagonal. Column j
    // stores the squared distances to j's nearest points and to the points that have j among
    // theirs, so the pattern and the values are symmetric; a distance of 0 (a duplicate point)
    // is stored as an explicit zero.
    mexhost::array_ptr distances;
    std::size_t stored = 0;  // entries stored
    neighbour_backend backend = neighbour_backend::kd_tree;
    bool exact = true;
    double recall = 1.0;         // approximate search: the recall measured on a sample
    std::size_t rechecked = 0;   // see neighbour_search
    double search_seconds = 0.0, build_seconds = 0.0;
};

// The graph of the per_point nearest neighbours of every point. Throws input_error for what
// nearest_neighbours refuses, for more than 2^31 - 1 points, and for a graph with more entries
// than a host sparse matrix holds (2^31 - 1).
neighbour_graph build_graph(const points& p, std::size_t per_point, const neighbour_options& options = {});
// The same from a search already made (its distances are dropped first, to free their memory).
// `threads` 0: as many as the machine has.
neighbour_graph build_graph(const points& p, neighbour_search search, unsigned threads = 0);

// The symmetrised matrix of lists that nearest_neighbours made for the points p.
mexhost::array_ptr symmetric_graph(const points& p, const neighbour_lists& lists, unsigned threads = 1);

}  // namespace rotalign
