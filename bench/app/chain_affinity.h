// The matrices that the chain hands its eigen-step, made by the library itself: the same graph,
// plug-in calls (from the build's plug-in folder) and normalisation as `rotalign cluster`.
#pragma once

#include "rotalign/chain.h"
#include "rotalign/input/points.h"
#include "rotalign/support/toolbox.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

// A sparse matrix held in plain arrays: benchmarks keep their matrices in static caches, which
// live on after the host's own state at exit, so they hold no host arrays.
struct sparse_affinity {
    std::size_t n = 0;
    std::vector<std::int32_t> starts, rows;
    std::vector<double> values;

    rotalign::sparse_view view() const { return {n, starts.data(), rows.data(), values.data()}; }
};

// The normalised affinity of the points on their nearest-neighbour graph of `neighbours` per
// point, local scales (brenmoss) from the `scale_index`-th neighbour.
inline sparse_affinity knn_affinity(const rotalign::points& p, std::size_t neighbours, int scale_index) {
    rotalign::toolbox plugins(TOOLBOX_PLUGIN_DIR);
    rotalign::cluster_options options;
    options.graph = rotalign::graph_kind::knn;
    options.graph_neighbours = neighbours;
    options.neighbours = scale_index;
    const mexhost::array_ptr l = rotalign::normalised_affinity(plugins, p, options);
    const rotalign::sparse_view v = rotalign::sparse_view_of(l.get());
    sparse_affinity out;
    out.n = v.n;
    out.starts.assign(v.starts, v.starts + v.n + 1);
    out.rows.assign(v.rows, v.rows + v.entries());
    out.values.assign(v.values, v.values + v.entries());
    return out;
}

// The normalised affinity of every pair of the points: local scales (brenmoss) from the
// `scale_index`-th neighbour, or, with scale_index 0, one global scale `scale` (pellor).
inline rotalign::square dense_affinity(const rotalign::points& p, int scale_index, double scale = 0.0) {
    rotalign::toolbox plugins(TOOLBOX_PLUGIN_DIR);
    rotalign::cluster_options options;
    options.graph = rotalign::graph_kind::dense;
    if (scale_index > 0) {
        options.neighbours = scale_index;
    } else {
        options.affinity = rotalign::affinity_kind::global;
        options.scale = scale;
    }
    const mexhost::array_ptr l = rotalign::normalised_affinity(plugins, p, options);
    rotalign::square out{p.count, std::vector<double>(p.count * p.count)};
    if (p.count > 0) std::memcpy(out.values.data(), mxGetPr(l.get()), out.values.size() * sizeof(double));
    return out;
}

}  // namespace bench
