// The nearest neighbours of every point, in exactly the squared Euclidean distance of the dense
// route (squared_distances), nearest first and ties broken by the smaller point index, so that
// every exact backend returns the same lists bit for bit. An approximate search is available
// only on request and reports its measured recall.
#pragma once

#include "rotalign/input/points.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rotalign {

enum class neighbour_backend {
    automatic,  // chosen by dimension (see choose_backend)
    kd_tree,    // exact: a k-d tree (nanoflann) searched with a guaranteed pruning bound
    blas,       // exact: blocked brute force, a BLAS product proposes, exact distances decide
    faiss,      // exact: a FAISS flat index proposes in single precision, exact distances decide
    hnsw,       // approximate: a navigable small-world graph (hnswlib); recall measured
};

std::string name_of(neighbour_backend backend);
// Whether this build has the backend (FAISS and hnswlib are optional).
bool available(neighbour_backend backend);

// Up to this dimension the automatic choice is the k-d tree; above it, brute force. On ten
// Gaussian blobs (bench_app_neighbours, search/blobs, process CPU seconds for 14 neighbours):
//   points   dims:     2      5      8     10     12     16     24     32
//   20,000   k-d    0.03   0.11   0.25   0.33   0.43   0.62   1.03   1.47
//            BLAS   0.43   0.44   0.44   0.41   0.44   0.44   0.43   0.51
//   100,000  k-d           0.74   3.02   7.24  13.6   26.3
//            BLAS          3.86   3.61   3.51   3.96   3.72
// The tree's cost grows with the points faster than brute force's does above 8 dimensions.
constexpr std::size_t kd_tree_dimension_limit = 8;

struct neighbour_options {
    neighbour_backend backend = neighbour_backend::automatic;
    unsigned threads = 0;              // 0: as many as the machine has; results never depend on it
    // The approximate search only.
    std::size_t recall_sample = 1000;  // points whose exact lists measure the recall
    std::uint64_t seed = 1;            // chooses the sample and seeds the graph's levels
    int hnsw_links = 16;               // links per node of the graph
    int hnsw_build_width = 200;        // candidate list while inserting
    int hnsw_search_width = 0;         // candidate list while searching; 0: 2 * per_point + 16
    // Called now and then on the calling thread while the search runs (between blocks of points);
    // an exception it throws ends the search and leaves nearest_neighbours. Empty: never called.
    std::function<void()> interrupt_check;
};

// `per_point` neighbours of each of `count` points: point i's neighbours occupy positions
// i * per_point ... i * per_point + per_point - 1, nearest first, ties by smaller index. A point
// is never its own neighbour; a duplicate of it is (at distance 0).
struct neighbour_lists {
    std::size_t count = 0;
    std::size_t per_point = 0;
    std::vector<std::uint32_t> index;
    std::vector<double> distance;  // the squared distance as squared_distances computes it

    const std::uint32_t* neighbours_of(std::size_t i) const { return &index[i * per_point]; }
    const double* distances_of(std::size_t i) const { return &distance[i * per_point]; }
};

struct neighbour_search {
    neighbour_lists lists;
    neighbour_backend backend = neighbour_backend::kd_tree;  // the backend that ran
    bool exact = true;
    // Share of the exact neighbours that the approximate search found, measured on a sample of
    // points (1 for an exact backend).
    double recall = 1.0;
    // Points whose proposed candidates failed the margin test, so that more candidates were
    // taken (brute-force backends only).
    std::size_t rechecked = 0;
};

// The backend that `automatic` takes for points of `dims` coordinates, whatever their number.
neighbour_backend choose_backend(std::size_t dims);

// The `per_point` nearest other points of every point. Throws input_error when per_point is
// below 1 or not below the number of points, when a coordinate is not finite, when the points
// spread so far that a squared distance would overflow, and when the backend asked for is not
// in this build.
neighbour_search nearest_neighbours(const points& p, std::size_t per_point, const neighbour_options& options = {});

}  // namespace rotalign
