// Every stage across the ranks against the same stage in one process, on the demo sets and sets
// of the group-count suite (duplicates, several components, 2 to 10 dimensions). Every rank
// computes the one-process reference on all the points and checks its own block against it.
#include "affinity/affinity_across.h"
#include "distributed_chain.h"
#include "input/local_spreads.h"
#include "graph/graph_columns.h"
#include "neighbours/neighbours_across.h"
#include "rotalign/affinity/normalise.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/datasets/suite_sets.h"
#include "rotalign/graph/graph.h"
#include "rotalign/groups/scores.h"
#include "rotalign/input/standardise.h"
#include "support/together.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace rotalign::mpi {
namespace {

const rank_context world() { return context_of(MPI_COMM_WORLD); }

// This rank's block of all the points.
local_points block_of(const points& all, const rank_context& c) {
    const row_blocks blocks{all.count, c.size};
    local_points p;
    p.total = all.count;
    p.first = blocks.first(c.rank);
    p.own = {blocks.count(c.rank), all.dims,
             std::vector<double>(all.values.begin() + static_cast<std::ptrdiff_t>(p.first * all.dims),
                                 all.values.begin() + static_cast<std::ptrdiff_t>((p.first + blocks.count(c.rank)) * all.dims))};
    return p;
}

// A suite set with every fifth point repeated at the end, so that duplicates fall into other
// ranks' blocks than their originals.
points with_copies(const points& p) {
    points out = p;
    for (std::size_t i = 0; i < p.count; i += 5) {
        out.values.insert(out.values.end(), p.values.begin() + static_cast<std::ptrdiff_t>(i * p.dims),
                          p.values.begin() + static_cast<std::ptrdiff_t>((i + 1) * p.dims));
        ++out.count;
    }
    return out;
}

// Blobs drawn 100 times larger with 12 copies of their first point at the end: a place of local
// scale 0 inside a group, which the chain joins to that group, from the other end of the points.
points with_place(points p) {
    for (double& v : p.values) v *= 100.0;
    for (int k = 0; k < 12; ++k)
        p.values.insert(p.values.end(), p.values.begin(), p.values.begin() + static_cast<std::ptrdiff_t>(p.dims));
    p.count += 12;
    return p;
}

std::vector<points> test_sets() {
    std::vector<points> sets;
    for (const char* name : {"duplicates-16", "outliers-6", "blobs-3d-5", "blobs-10d-4", "spirals-3", "small-20"})
        sets.push_back(suite_points(name).data);
    sets.push_back(with_copies(suite_points("noise-4").data));
    sets.push_back(generate("moons", 600, 11).data);
    return sets;
}

toolbox& plugins() {
    static toolbox t(TOOLBOX_PLUGIN_DIR);
    return t;
}

// Standardised coordinates and the columns' spreads equal one process's bit for bit, on the test
// sets and on random columns that stress the sums' rounding: constant ones, means far above the
// spread, magnitudes near the largest and the smallest doubles.
TEST(Across, StandardisedColumnsEqualOneProcess) {
    const rank_context c = world();
    std::vector<points> sets = test_sets();
    std::mt19937_64 random(7);
    for (int round = 0; round < 20; ++round) {
        const std::size_t n = 5 + random() % 300;
        points p{n, 6, std::vector<double>(n * 6)};
        std::normal_distribution<double> normal;
        const double big = std::ldexp(1.0, 1000 + static_cast<int>(random() % 20));
        for (std::size_t i = 0; i < n; ++i) {
            const double row[] = {3.25, 1e9 + normal(random), big * normal(random), 1e-300 * normal(random),
                                  normal(random) * 1e-3 + 7.0, static_cast<double>(random() % 3)};
            std::copy(std::begin(row), std::end(row), p.values.begin() + static_cast<std::ptrdiff_t>(i * 6));
        }
        sets.push_back(std::move(p));
    }
    for (const points& all : sets) {
        const local_points p = block_of(all, c);
        const points expected = standardised(all);
        const local_points got = standardised_across(c, p);
        ASSERT_EQ(got.own.values.size(), p.own.values.size());
        EXPECT_EQ(std::memcmp(got.own.values.data(), expected.values.data() + p.first * all.dims,
                              got.own.values.size() * sizeof(double)),
                  0)
            << all.count << " points of " << all.dims << " coordinates";
        const std::vector<double> spreads = column_spreads(all), spreads_across = column_spreads_across(c, p);
        EXPECT_EQ(std::memcmp(spreads.data(), spreads_across.data(), spreads.size() * sizeof(double)), 0);
    }
}

// The lists of every point equal nearest_neighbours' over all points, index for index and
// distance bit for bit, for short and long lists.
TEST(Across, NeighbourListsEqualOneProcess) {
    const rank_context c = world();
    for (const points& all : test_sets()) {
        const local_points p = block_of(all, c);
        for (const std::size_t m : {std::size_t{1}, std::size_t{7}, std::size_t{19}}) {
            if (m >= all.count) continue;
            const neighbour_lists expected = nearest_neighbours(all, m).lists;
            const neighbour_lists got = neighbours_across(c, p, m);
            ASSERT_EQ(got.count, p.own.count);
            for (std::size_t q = 0; q < p.own.count; ++q)
                for (std::size_t k = 0; k < m; ++k) {
                    const std::size_t at = (p.first + q) * m + k, here = q * m + k;
                    ASSERT_EQ(got.index[here], expected.index[at]) << all.count << " points, m " << m << ", point "
                                                                   << p.first + q << ", entry " << k;
                    ASSERT_EQ(std::memcmp(&got.distance[here], &expected.distance[at], sizeof(double)), 0);
                }
        }
    }
}

// The graph columns, the cleared affinities of each plug-in and the normalised values equal one
// process's bit for bit, column by column.
TEST(Across, GraphAffinitiesAndNormalisationEqualOneProcess) {
    const rank_context c = world();
    for (const points& all : test_sets()) {
        const local_points p = block_of(all, c);
        const std::size_t m = std::min<std::size_t>(14, all.count - 1);
        for (const affinity_kind kind : {affinity_kind::local, affinity_kind::local_mean, affinity_kind::global}) {
            cluster_options o;
            o.affinity = kind;
            o.neighbours = static_cast<int>(std::min<std::size_t>(7, m));
            o.scale = 0.5;
            // One process: the graph, the plug-in, nimbrel, normalise.
            const neighbour_graph g = build_graph(all, m);
            const mxArray* d = g.distances.get();
            mexhost::array_ptr a;
            if (kind == affinity_kind::global) {
                mexhost::array_ptr s = mexhost::make_scalar(o.scale);
                a = std::move(plugins().get("pellor").call(1, {d, s.get()}, trusted_inputs)[0]);
            } else {
                mexhost::array_ptr k = mexhost::make_scalar(o.neighbours);
                a = std::move(plugins().get(kind == affinity_kind::local ? "brenmoss" : "olvane")
                                  .call(2, {d, k.get()}, trusted_inputs)[1]);
            }
            mexhost::array_ptr l = std::move(plugins().get("nimbrel").call(1, {a.get()}, trusted_inputs)[0]);
            const mwIndex* jc = mxGetJc(l.get());
            const mwIndex* ir = mxGetIr(l.get());
            const std::vector<double> cleared(mxGetPr(l.get()), mxGetPr(l.get()) + jc[all.count]);
            normalise(all.count, jc, ir, mxGetPr(l.get()));
            const double* normalised = mxGetPr(l.get());

            const neighbour_lists lists = neighbours_across(c, p, m);
            const local_rows graph = graph_columns(c, p, lists);
            local_rows across = affinities_across(c, plugins(), p, lists, graph, o, nullptr);
            const std::vector<double> before = across.values;
            normalise_across(c, across);
            for (std::size_t q = 0; q < p.own.count; ++q) {
                const std::size_t j = p.first + q;
                ASSERT_EQ(across.starts[q + 1] - across.starts[q], jc[j + 1] - jc[j]) << "column " << j;
                for (std::size_t e = across.starts[q], f = jc[j]; e < across.starts[q + 1]; ++e, ++f) {
                    ASSERT_EQ(across.columns[e], ir[f]) << "column " << j;
                    ASSERT_EQ(std::memcmp(&before[e], &cleared[f], sizeof(double)), 0) << "column " << j;
                    ASSERT_EQ(std::memcmp(&across.values[e], &normalised[f], sizeof(double)), 0) << "column " << j;
                }
            }
        }
    }
}

// The whole chain: the same count and the same groups as cluster_points with the same explicit
// options, on the nearest-neighbour graph across the ranks and on the automatic graph's sample;
// where one process refuses the data, every rank fails too.
TEST(Across, ChainGivesOneProcessGroups) {
    const rank_context c = world();
    std::vector<std::pair<points, cluster_options>> cases;
    for (const points& all : test_sets()) {
        cluster_options o;
        o.graph = graph_kind::knn;
        o.graph_neighbours = std::min<std::size_t>(14, all.count - 1);
        cases.push_back({all, o});
    }
    // The automatic graph: its neighbour count measured across the ranks, then on a sample.
    cluster_options knn;
    knn.graph = graph_kind::knn;
    cases.push_back({with_copies(generate("circles", 3000, 5).data), knn});
    cases.push_back({generate("moons", 9000, 3).data, cluster_options{}});
    cases.push_back({with_place(generate("blobs", 600, 5).data), knn});
    std::size_t compared = 0;
    for (const auto& [all, o] : cases) {
        std::optional<cluster_result> expected;
        try {
            expected = cluster_points(plugins(), all, o);
        } catch (const std::runtime_error&) {
        }
        std::optional<distributed_result> got;
        bool failed = false;
        try {
            got = cluster_across(c, plugins(), block_of(all, c), o);
        } catch (const std::runtime_error&) {
            failed = true;
        }
        ASSERT_EQ(failed, !expected.has_value()) << all.count << " points";
        if (failed || !c.root()) continue;
        const cluster_result& r = got->result;
        EXPECT_EQ(r.chosen, expected->chosen) << all.count << " points";
        EXPECT_EQ(r.graph_neighbours, expected->graph_neighbours);
        EXPECT_EQ(r.graph_entries, expected->graph_entries);
        // The eigen-step across ranks solves large pieces by another Krylov solver.
        ASSERT_EQ(r.eigenvalues.size(), expected->eigenvalues.size());
        for (std::size_t k = 0; k < r.eigenvalues.size(); ++k) EXPECT_NEAR(r.eigenvalues[k], expected->eigenvalues[k], 1e-9);
        EXPECT_GE(adjusted_rand_index(r.groups, expected->groups), 0.999) << all.count << " points";
        ++compared;
    }
    if (c.root()) {
        EXPECT_GE(compared, cases.size() - 2);
    }
}

}  // namespace
}  // namespace rotalign::mpi
