#include "distributed_chain.h"

#include "input/local_spreads.h"
#include "mexhost/errors.h"
#include "rotalign/groups/nearest_sample.h"
#include "rotalign/graph/graph_size.h"
#include "rotalign/graph/small_pieces.h"
#include "rotalign/input/standardise.h"
#include "rotalign/support/sample_rows.h"
#include "support/exchange.h"
#include "support/together.h"

#include <algorithm>
#include <optional>

namespace rotalign::mpi {
namespace {

// Rank 0 runs the whole chain on all the points, exactly as one process does.
distributed_result gathered(const rank_context& c, toolbox& plugins, const local_points& p,
                            const cluster_options& options) {
    const points all = gather_points(c, p);
    distributed_result d;
    together(c.comm, [&] {
        if (c.root()) d.result = cluster_points(plugins, all, options);
    });
    return d;
}

// The automatic graph on more points than its sample, as cluster_points chooses it: the candidate
// graphs on the seeded sample (gathered to rank 0), then every point takes the group of its
// nearest sampled point, each rank for its own. Nothing when no candidate fits the sample: one
// process then runs the nearest-neighbour graph on all points.
std::optional<distributed_result> sampled(const rank_context& c, toolbox& plugins, const local_points& p,
                                          const cluster_options& options) {
    const std::vector<std::size_t> rows = sample_rows(p.total, graph_choice_sample, 1);
    const std::size_t dims = p.own.dims;
    std::vector<double> mine;
    for (auto it = std::lower_bound(rows.begin(), rows.end(), p.first);
         it != rows.end() && *it < p.first + p.own.count; ++it) {
        const double* row = p.own.values.data() + (*it - p.first) * dims;
        mine.insert(mine.end(), row, row + dims);
    }
    points sample{rows.size(), dims, gather_to_root(c.comm, mine)};
    // The sample's own limit on group sizes, scaled from that of all points.
    const std::size_t min_size = options.min_group_size > 0 ? options.min_group_size : default_min_group_size(p.total);
    cluster_options on_sample = options;
    on_sample.min_group_size = std::max<std::size_t>(2, min_size * sample.count / p.total);
    distributed_result d;
    d.route = distributed_route::sampled;
    int chosen = 0;
    together(c.comm, [&] {
        if (!c.root()) return;
        try {
            d.result = cluster_points(plugins, sample, on_sample);
            chosen = d.result.candidates.empty() ? 0 : 1;
        } catch (const mexhost::plugin_error&) {
            throw;
        } catch (const std::runtime_error&) {
            chosen = 0;  // no candidate carried the sample
        }
    });
    MPI_Bcast(&chosen, 1, MPI_INT, 0, c.comm);
    if (!chosen) return std::nullopt;

    broadcast(c.comm, sample.values);
    std::vector<int> sample_groups = c.root() ? d.result.groups : std::vector<int>{};
    broadcast(c.comm, sample_groups);
    std::vector<int> groups;
    together(c.comm, [&] { groups = groups_by_nearest_sample(p.own, sample, sample_groups); });
    groups = gather_to_root(c.comm, groups);
    const std::vector<double> spreads = column_spreads_across(c, p);
    if (c.root()) {
        cluster_result& r = d.result;
        r.groups = std::move(groups);
        r.unit_contrast = spread_contrast_above(spreads, spread_warning_ratio);
        r.stray = static_cast<std::size_t>(std::count(r.groups.begin(), r.groups.end(), 0));
        r.min_group_size = min_size;
        r.affinity.reset();
    }
    return d;
}

}  // namespace

distributed_result cluster_across(const rank_context& c, toolbox& plugins, const local_points& p,
                                  const cluster_options& options) {
    together(c.comm, [&] { check_options(options, p.total); });
    const bool by_sample =
        options.graph == graph_kind::automatic && options.graph_neighbours == 0 && p.total > graph_choice_sample;
    if (by_sample) {
        // The columns are standardised over all points before the sample is drawn.
        std::optional<local_points> standard;
        cluster_options rest = options;
        if (options.standardise) {
            standard = standardised_across(c, p);
            rest.standardise = false;
        }
        if (auto d = sampled(c, plugins, standard ? *standard : p, rest)) return std::move(*d);
    }
    return gathered(c, plugins, p, options);
}

}  // namespace rotalign::mpi
