#include "distributed_chain.h"

#include "affinity/affinity_across.h"
#include "eigen/distributed_eigen.h"
#include "eigen/distributed_pieces.h"
#include "graph/choice_across.h"
#include "graph/graph_columns.h"
#include "input/local_spreads.h"
#include "mexhost/errors.h"
#include "mexhost/host.h"
#include "neighbours/neighbours_across.h"
#include "rotalign/chain_normalised.h"
#include "rotalign/graph/graph.h"
#include "rotalign/groups/nearest_sample.h"
#include "rotalign/graph/graph_size.h"
#include "rotalign/graph/small_pieces.h"
#include "rotalign/input/standardise.h"
#include "rotalign/support/progress.h"
#include "rotalign/support/sample_rows.h"
#include "support/collective_section.h"
#include "support/exchange.h"
#include "support/together.h"

#include <algorithm>
#include <chrono>
#include <limits>
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
// graphs on the seeded sample (handed to every rank, each candidate run on one of them), then
// every point takes the group of its nearest sampled point, each rank for its own. Nothing when no
// candidate fits the sample: one process then runs the nearest-neighbour graph on all points.
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
    broadcast(c.comm, sample.values);
    // The sample's own limit on group sizes, scaled from that of all points.
    const std::size_t min_size = options.min_group_size > 0 ? options.min_group_size : default_min_group_size(p.total);
    cluster_options on_sample = options;
    on_sample.min_group_size = std::max<std::size_t>(2, min_size * sample.count / p.total);
    distributed_result d;
    d.route = distributed_route::sampled;
    std::optional<cluster_result> chosen = choice_across(c, plugins, sample, on_sample);
    if (!chosen) return std::nullopt;
    d.result = std::move(*chosen);

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

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The normalised matrix on rank 0 as one host sparse matrix, every rank's columns in turn.
mexhost::array_ptr gathered_matrix(const rank_context& c, const local_rows& a) {
    std::vector<std::uint64_t> counts(a.count());
    for (std::size_t j = 0; j < a.count(); ++j) counts[j] = a.starts[j + 1] - a.starts[j];
    counts = gather_to_root(c.comm, counts);
    std::vector<std::int64_t> rows = gather_to_root(c.comm, a.columns);
    std::vector<double> values = gather_to_root(c.comm, a.values);
    if (!c.root()) return nullptr;
    if (values.size() > static_cast<std::size_t>(INT32_MAX))
        throw input_error("the graph holds more entries than a host sparse matrix (2^31 - 1)");
    std::vector<mwIndex> jc(1, 0), ir(rows.begin(), rows.end());
    jc.reserve(counts.size() + 1);
    for (const std::uint64_t n : counts) jc.push_back(jc.back() + static_cast<mwIndex>(n));
    std::vector<std::int64_t>().swap(rows);
    const mwSize n = static_cast<mwSize>(a.global_size);
    return mexhost::make_sparse(n, n, jc, ir, values);
}

// Tells a person watching (rank 0's report, when there is one) that a stage begins.
void announce(const cluster_options& options, const char* stage) {
    if (options.report != nullptr) options.report->begin(stage);
}

// Whether the graph of the normalised matrix holds a piece too small to be a group, which one
// process sets aside before the eigen-step.
bool small_pieces(const graph_pieces& found, std::size_t n, const cluster_options& options) {
    const std::size_t min_size = options.min_group_size > 0 ? options.min_group_size : default_min_group_size(n);
    const std::vector<std::int64_t>& sizes = found.pieces.size;
    return std::any_of(sizes.begin(), sizes.end(),
                       [min_size](std::int64_t s) { return static_cast<std::size_t>(s) < min_size; });
}

// The eigen-step across the ranks on the pieces found beforehand (its time counted from
// `start`); rank 0 gathers the eigenvectors' rows and runs the rotations and the count.
void distributed_eigen(const rank_context& c, toolbox& plugins, local_rows a, graph_pieces found,
                       const cluster_options& options, std::chrono::steady_clock::time_point start,
                       distributed_result& d) {
    const std::size_t n = a.global_size;
    const int largest = options.fixed_groups >= 2 ? options.fixed_groups : options.max_groups;
    const std::size_t wanted = std::min(n, static_cast<std::size_t>(largest) + 1);
    sparse_eigen_options so;
    so.method = options.solver;
    if (options.report != nullptr)
        so.report = [report = options.report](const std::string& where) { report->detail(where); };
    distributed_pairs pairs;
    together(c.comm, [&] { pairs = leading_eigenpairs(c.comm, std::move(a), wanted, so, nullptr, std::move(found)); });
    // Each rank's rows by columns; rank 0 lays them into whole columns. All of rank 0's work lies
    // inside the stage, so that its failure (the whole columns alone take N by c + 1 doubles)
    // reaches the ranks that wait for it.
    std::vector<double> blocks = gather_to_root(c.comm, pairs.vectors);
    const row_blocks rows{n, c.size};
    together(c.comm, [&] {
        if (!c.root()) return;
        eigenpairs e;
        e.n = n;
        e.count = wanted;
        e.values = pairs.values;
        e.vectors.resize(n * wanted);
        e.components = pairs.components;
        e.used = pairs.method == name_of(eigen_solver::dense) ? eigen_solver::dense : eigen_solver::lanczos;
        std::ptrdiff_t at = 0;
        for (int r = 0; r < c.size; ++r) {
            const std::size_t count = rows.count(r), first = rows.first(r);
            for (std::size_t k = 0; k < wanted; ++k)
                std::copy(blocks.begin() + at + static_cast<std::ptrdiff_t>(k * count),
                          blocks.begin() + at + static_cast<std::ptrdiff_t>((k + 1) * count),
                          e.vectors.begin() + static_cast<std::ptrdiff_t>(k * n + first));
            at += static_cast<std::ptrdiff_t>(count * wanted);
        }
        d.result.solver = e.used;
        d.result.eigen_method = pairs.method;
        d.result.times.eigen = seconds_since(start);
        std::vector<double>().swap(blocks);
        const std::size_t components = e.components;
        d.result = cluster_eigenpairs(plugins, n, std::move(e), components, options, std::move(d.result));
    });
}

// Rank 0 takes the matrix whose columns the ranks hold in `columns` (let go on every rank) and
// runs the one-process chain on it; its result becomes d's on rank 0.
template <typename Chain>
distributed_result chain_on_root(const rank_context& c, local_rows& columns, distributed_result& d, Chain chain) {
    mexhost::array_ptr m;
    together(c.comm, [&] { m = gathered_matrix(c, columns); });
    columns = local_rows{};
    together(c.comm, [&] {
        if (c.root()) d.result = chain(std::move(m));
    });
    return std::move(d);
}

// Whether the k-th nearest other point of some point, on any rank, is a copy of it (a local scale
// of 0). `lists` hold each own point's nearest first.
bool zero_scale_across(const rank_context& c, const neighbour_lists& lists, int neighbours) {
    const std::size_t k = static_cast<std::size_t>(std::max(neighbours, 0));
    int found = 0;
    if (k > 0 && k <= lists.per_point)
        for (std::size_t i = 0; i < lists.count && found == 0; ++i)
            found = lists.distances_of(i)[k - 1] <= std::numeric_limits<double>::denorm_min() ? 1 : 0;
    int any = 0;
    MPI_Allreduce(&found, &any, 1, MPI_INT, MPI_LOR, c.comm);
    return any != 0;
}

// The nearest-neighbour graph across the ranks: exact lists, this rank's graph columns, their
// affinities through the plug-ins and their normalisation, each rank for its own points; then
// rank 0 takes the normalised matrix for the eigen-step, rotations and count.
distributed_result knn_across(const rank_context& c, toolbox& plugins, const local_points& p,
                              const cluster_options& options) {
    distributed_result d;
    d.route = distributed_route::knn;
    cluster_result& facts = d.result;
    facts.graph = graph_kind::knn;
    auto start = std::chrono::steady_clock::now();
    std::size_t m = options.graph_neighbours > 0
                        ? options.graph_neighbours
                        : graph_neighbours(static_cast<std::size_t>(std::max(options.neighbours, 1)));
    announce(options, "neighbours");
    neighbour_lists lists;
    together(c.comm, [&] { lists = neighbours_across(c, p, m); });
    if (options.graph_neighbours == 0) {
        // As many neighbours as hold nearly all of a point's affinity, within the budget.
        const std::size_t wanted = neighbours_for_share_across(c, p, lists, kernel_of(options),
                                                               graph_entry_budget / std::max<std::size_t>(p.total, 1));
        if (wanted > m) {
            m = wanted;
            together(c.comm, [&] { lists = neighbours_across(c, p, m); });
        }
    }
    local_rows graph;
    together(c.comm, [&] { graph = graph_columns(c, p, lists); });
    unsigned long long stored = graph.entries(), all_stored = 0;
    MPI_Allreduce(&stored, &all_stored, 1, MPI_UNSIGNED_LONG_LONG, MPI_SUM, c.comm);
    facts.graph_neighbours = m;
    facts.graph_entries = static_cast<std::size_t>(all_stored);
    facts.search = neighbour_backend::kd_tree;
    facts.exact_neighbours = true;
    facts.recall = 1.0;
    facts.unit_contrast = spread_contrast_above(column_spreads_across(c, p), spread_warning_ratio);
    facts.times.distances = seconds_since(start);

    // Places whose copies outnumber the local scales' neighbours fall out of the graph through
    // their zero scale, and the chain joins them to their neighbours' groups, which takes the
    // whole distance graph: with such points rank 0 takes it and runs the chain from there.
    if (options.affinity != affinity_kind::global && zero_scale_across(c, lists, options.neighbours)) {
        std::vector<std::uint32_t>().swap(lists.index);
        std::vector<double>().swap(lists.distance);
        return chain_on_root(c, graph, d, [&](mexhost::array_ptr distances) {
            return cluster_distance_graph(plugins, std::move(distances), options, std::move(facts));
        });
    }

    announce(options, "affinities");
    start = std::chrono::steady_clock::now();
    local_scale_summary scales;
    local_rows a;
    together(c.comm, [&] {
        a = affinities_across(c, plugins, p, lists, std::move(graph), options,
                              options.affinity == affinity_kind::global ? nullptr : &scales);
    });
    facts.scales_at_floor = scales.below_floor;
    facts.median_local_scale = scales.median;
    std::vector<std::uint32_t>().swap(lists.index);
    std::vector<double>().swap(lists.distance);
    // The host keeps the blocks of the plug-ins' released matrices for reuse; no later stage takes
    // arrays of their size, and kept they would stay resident beside the eigen-step's factor, as
    // in one process.
    mexhost::release_kept_memory();
    facts.times.affinity = seconds_since(start);

    announce(options, "normalisation");
    start = std::chrono::steady_clock::now();
    normalise_across(c, a);
    facts.times.normalise = seconds_since(start);

    {
        announce(options, "eigenvectors");
        // The pieces are found once, for this decision and for the eigen-step, whose time they count in.
        start = std::chrono::steady_clock::now();
        // It fails only for want of memory, which would leave the other ranks in its exchanges.
        graph_pieces found = collective_section([&] { return pieces_of(c.comm, a); });
        if (!small_pieces(found, a.global_size, options)) {
            distributed_eigen(c, plugins, std::move(a), std::move(found), options, start, d);
            return d;
        }
    }
    // Pieces too small for a group are set aside by the one-process code, on rank 0.
    return chain_on_root(c, a, d, [&](mexhost::array_ptr l) {
        return cluster_normalised(plugins, std::move(l), options, std::move(facts));
    });
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
    if (graph_for(options, p.total) == graph_kind::knn && c.size > 1) {
        if (!options.standardise) return knn_across(c, plugins, p, options);
        cluster_options rest = options;
        rest.standardise = false;
        return knn_across(c, plugins, standardised_across(c, p), rest);
    }
    return gathered(c, plugins, p, options);
}

}  // namespace rotalign::mpi
