// The chain through the built plug-ins on small generated sets with known groups, the rule
// that picks the number of groups, and what the chain refuses.
#include "rotalign/affinity/normalise.h"
#include "rotalign/chain.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/datasets/suite_sets.h"
#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/graph/graph_size.h"
#include "rotalign/groups/rotation.h"
#include "rotalign/groups/scores.h"
#include "rotalign/support/sample_rows.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <filesystem>
#include <limits>
#include <thread>

#include <unistd.h>

using rotalign::affinity_kind;
using rotalign::cluster_options;

using app_test::plugins;
using app_test::message_of;

namespace {

const double not_a_number = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(choose_groups, most_groups_within_tolerance_of_the_best) {
    // Eigenvalues whose distances from 1 grow at least 1.8-fold from one to the next: every c is a strong
    // cut, and the qualities alone decide. quality[k] belongs to k + 2 groups.
    const std::vector<double> apart{1.0, 0.999, 0.99, 0.9, 0.5, 0.1};
    auto chosen = [&apart](const std::vector<double>& quality, double tolerance) {
        rotalign::group_count_settings s;
        s.tolerance = tolerance;
        return rotalign::choose_groups(apart, quality, s).chosen;
    };
    EXPECT_EQ(chosen({0.99, 0.90, 0.80}, 0.005), 2);
    EXPECT_EQ(chosen({0.90, 0.999, 0.97}, 0.005), 3);
    EXPECT_EQ(chosen({0.999, 0.996, 0.97}, 0.005), 3);
    EXPECT_EQ(chosen({0.999, 0.993, 0.997}, 0.005), 4);  // not only neighbours of the best
    EXPECT_EQ(chosen({0.95, 0.95}, 0.0), 3);              // an exact tie prefers more groups
    EXPECT_EQ(chosen({not_a_number, 0.9, not_a_number}, 0.005), 3);
    EXPECT_EQ(chosen({not_a_number, not_a_number}, 0.005), 0);
    EXPECT_EQ(chosen({}, 0.005), 0);
}

TEST(chain, generated_sets_give_their_groups) {
    struct set {
        const char* name;
        std::size_t count;
    };
    for (const set s : {set{"moons", 400}, set{"circles", 300}, set{"blobs", 240}, set{"lines", 450}}) {
        const rotalign::labelled_points data = rotalign::generate(s.name, s.count, 3);
        cluster_options o;
        o.max_groups = 6;
        const rotalign::cluster_result r = rotalign::cluster_points(plugins(), data.data, o);
        EXPECT_EQ(r.chosen, data.groups) << s.name;
        EXPECT_EQ(r.quality.size(), 5u);
        EXPECT_GE(rotalign::adjusted_rand_index(data.truth, r.groups), 0.95) << s.name;
    }
}

TEST(chain, every_affinity_and_solver_on_well_separated_blobs) {
    const rotalign::labelled_points data = rotalign::uneven_blobs(180, 9);
    cluster_options o;
    o.graph = rotalign::graph_kind::dense;
    o.max_groups = 5;
    for (const affinity_kind kind : {affinity_kind::local, affinity_kind::local_mean, affinity_kind::global}) {
        o.affinity = kind;
        o.scale = 1.0;
        for (const rotalign::eigen_solver solver : {rotalign::eigen_solver::lanczos, rotalign::eigen_solver::dense}) {
            o.solver = solver;
            const rotalign::cluster_result r = rotalign::cluster_points(plugins(), data.data, o);
            EXPECT_EQ(r.solver, solver);
            EXPECT_EQ(r.chosen, 3);
            EXPECT_DOUBLE_EQ(rotalign::adjusted_rand_index(data.truth, r.groups), 1.0);
        }
    }
}

TEST(chain, fixed_groups_and_numerical_search) {
    const rotalign::labelled_points data = rotalign::two_moons(200, 4);
    cluster_options o;
    o.max_groups = 4;
    // A fixed number of groups is taken whatever the qualities say; the searches still run.
    o.fixed_groups = 3;
    const rotalign::cluster_result three = rotalign::cluster_points(plugins(), data.data, o);
    EXPECT_EQ(three.chosen, 3);
    EXPECT_EQ(three.quality.size(), 2u);
    EXPECT_EQ(*std::max_element(three.groups.begin(), three.groups.end()), 3);

    o.fixed_groups = 0;
    o.numerical_search = true;
    const rotalign::cluster_result numerical = rotalign::cluster_points(plugins(), data.data, o);
    EXPECT_EQ(numerical.chosen, 2);
    EXPECT_GE(rotalign::adjusted_rand_index(data.truth, numerical.groups), 0.95);
}

TEST(chain, options_that_do_not_fit_the_data_are_refused) {
    const rotalign::points five{5, 1, {0, 1, 2, 3, 4}};
    cluster_options o;
    EXPECT_EQ(message_of([&] { rotalign::cluster_points(plugins(), five, o); }),
              "5 points are too few for 7 neighbours: at least 8 are needed");
    o.neighbours = 2;
    EXPECT_EQ(message_of([&] { rotalign::cluster_points(plugins(), five, o); }), "5 points cannot form 10 groups");
    o.max_groups = 1;
    EXPECT_EQ(message_of([&] { rotalign::check_options(o, 5); }), "the largest number of groups must be at least 2");
    o.max_groups = 3;
    o.graph = rotalign::graph_kind::dense;
    const std::string memory = message_of([&] { rotalign::check_options(o, 4000000); });
    EXPECT_EQ(memory.rfind("4000000 points need about 476838 GiB for the chain's N-by-N matrices; this machine has ", 0),
              0u)
        << memory;
    // The library names the remedy as an option of the table; each front end spells it.
    EXPECT_NE(memory.find("GiB: the nearest-neighbour graph needs far less"), std::string::npos) << memory;
    // The automatic choice takes the sparse graph there, which needs no such memory.
    o.graph = rotalign::graph_kind::automatic;
    EXPECT_EQ(rotalign::graph_for(o, 4000000), rotalign::graph_kind::knn);
    EXPECT_EQ(rotalign::graph_for(o, rotalign::knn_graph_from - 1), rotalign::graph_kind::dense);
    EXPECT_EQ(message_of([&] { rotalign::check_options(o, 4000000); }), "");
    o.graph = rotalign::graph_kind::knn;
    EXPECT_EQ(message_of([&] { rotalign::check_options(o, 100, false); }),
              "the nearest-neighbour graph is built from points, not from a distance matrix");
    o.neighbours = 7;
    o.graph_neighbours = 5;
    EXPECT_EQ(message_of([&] { rotalign::check_options(o, 100); }),
              "the graph needs at least as many neighbours per point (5) as the local scales (7)");
    o.graph_neighbours = 100;
    EXPECT_EQ(message_of([&] { rotalign::check_options(o, 100); }),
              "100 points are too few for a graph of 100 neighbours per point");
    o.graph = rotalign::graph_kind::automatic;
    o.graph_neighbours = 0;
    o.max_groups = 1;
    o.max_groups = 3;
    o.neighbours = 0;
    EXPECT_EQ(message_of([&] { rotalign::check_options(o, 5); }), "the neighbour count must be at least 1");
    o.affinity = affinity_kind::global;
    for (double bad : {0.0, -1.0, not_a_number}) {
        o.scale = bad;
        EXPECT_EQ(message_of([&] { rotalign::check_options(o, 5); }), "the global scale must be a positive number");
    }
}

TEST(chain, a_point_without_affinity_stops_the_chain_with_its_number) {
    // With a tiny global scale every affinity off the diagonal underflows to 0.
    const rotalign::points p{4, 1, {0, 10, 20, 30}};
    cluster_options o;
    o.affinity = affinity_kind::global;
    o.scale = 0.01;
    o.max_groups = 2;
    EXPECT_EQ(message_of([&] { rotalign::cluster_points(plugins(), p, o); }),
              "point 1 has no affinity to any other point (try a larger scale or neighbour count)");
}

TEST(chain, squared_distances_that_overflow_are_named_on_both_graphs) {
    rotalign::points far = rotalign::generate("blobs", 60, 4).data;
    for (double& v : far.values) v *= 1e160;
    cluster_options o;
    o.max_groups = 3;
    for (const rotalign::graph_kind graph : {rotalign::graph_kind::dense, rotalign::graph_kind::knn}) {
        o.graph = graph;
        const std::string m = message_of([&] { rotalign::cluster_points(plugins(), far, o); });
        EXPECT_NE(m.find("the points spread so far that their squared distances overflow"), std::string::npos) << m;
    }
}

// The points whose local scale lies below the plug-ins' bound on the pair scale, against their
// K-th neighbour distances, on the dense and the sparse graph, from groups so small that the
// bound holds everywhere to groups large enough that it holds nowhere.
TEST(chain, points_at_the_scale_bound_are_counted) {
    const rotalign::labelled_points blobs = rotalign::uneven_blobs(300, 8);
    for (const double size : {1e-3, 0.02, 0.05, 1.0}) {
        rotalign::points p = blobs.data;
        for (double& v : p.values) v *= size;
        const rotalign::square d = rotalign::squared_distances(p);
        cluster_options o;
        o.max_groups = 4;
        std::size_t below = 0;
        std::vector<double> scales;
        for (std::size_t j = 0; j < p.count; ++j) {
            std::vector<double> column(&d.values[j * p.count], &d.values[(j + 1) * p.count]);
            std::sort(column.begin(), column.end());
            scales.push_back(column[static_cast<std::size_t>(o.neighbours)]);
            below += scales.back() < 0.004;
        }
        std::sort(scales.begin(), scales.end());
        for (const rotalign::graph_kind graph : {rotalign::graph_kind::dense, rotalign::graph_kind::knn}) {
            o.graph = graph;
            o.affinity = affinity_kind::local;
            const rotalign::cluster_result r = rotalign::cluster_points(plugins(), p, o);
            EXPECT_EQ(r.scales_at_floor, below) << size << ' ' << rotalign::name_of(graph);
            EXPECT_EQ(r.median_local_scale, scales[(p.count - 1) / 2]) << size << ' ' << rotalign::name_of(graph);
            // olvane bounds its scale on the sparse graph only; pellor has no local scales.
            o.affinity = affinity_kind::local_mean;
            EXPECT_EQ(rotalign::cluster_points(plugins(), p, o).scales_at_floor,
                      graph == rotalign::graph_kind::knn ? below : 0u);
            o.affinity = affinity_kind::global;
            o.scale = size;
            EXPECT_EQ(rotalign::cluster_points(plugins(), p, o).scales_at_floor, 0u);
        }
        // The extremes: the bound everywhere, and nowhere.
        if (size == 1e-3) {
            EXPECT_EQ(below, p.count);
        }
        if (size == 1.0) {
            EXPECT_EQ(below, 0u);
        }
    }
}

TEST(toolbox, missing_plugins_and_the_folder_search) {
    const std::string empty = ::testing::TempDir() + "rotalign_no_plugins_" + std::to_string(getpid());
    std::filesystem::create_directories(empty);
    rotalign::toolbox none(empty);
    const std::string message = message_of([&] { none.get("tarvik"); });
    EXPECT_NE(message.find("plug-in tarvik not found"), std::string::npos) << message;

    // A flag beats the environment, which beats the folder of the program and then its mex/.
    EXPECT_EQ(rotalign::plugin_folder("a", "b", empty), "a");
    EXPECT_EQ(rotalign::plugin_folder("", "b", empty), "b");
    EXPECT_EQ(rotalign::plugin_folder("", "", empty), empty);
    const std::string build = std::filesystem::path(TOOLBOX_PLUGIN_DIR).parent_path().string();
    EXPECT_EQ(rotalign::plugin_folder("", "", build), (std::filesystem::path(build) / "mex").string());
    EXPECT_EQ(rotalign::plugin_folder("", "", TOOLBOX_PLUGIN_DIR), TOOLBOX_PLUGIN_DIR);
    std::filesystem::remove_all(empty);
}

TEST(rotation_sample, a_count_chosen_on_a_sample_gives_the_full_searches_groups) {
    // Rows drawn once per seed, distinct and in order.
    const std::vector<std::size_t> rows = rotalign::sample_rows(1000, 100, 5);
    EXPECT_EQ(rows, rotalign::sample_rows(1000, 100, 5));
    EXPECT_NE(rows, rotalign::sample_rows(1000, 100, 6));
    ASSERT_EQ(rows.size(), 100u);
    EXPECT_TRUE(std::adjacent_find(rows.begin(), rows.end(), std::greater_equal<std::size_t>()) == rows.end());
    EXPECT_LT(rows.back(), 1000u);
    EXPECT_EQ(rotalign::sample_rows(10, 50, 1).size(), 10u);

    for (const char* name : {"moons", "blobs", "lines"}) {
        const rotalign::labelled_points data = rotalign::generate(name, 900, 4);
        cluster_options o;
        o.max_groups = 5;
        EXPECT_EQ(rotalign::rotation_sample_for(o, 900), 0u);
        EXPECT_EQ(rotalign::rotation_sample_for(o, rotalign::rotation_sample_from), rotalign::rotation_sample_rows);
        const rotalign::cluster_result full = rotalign::cluster_points(plugins(), data.data, o);
        o.rotation_sample = 200;
        const rotalign::cluster_result sampled = rotalign::cluster_points(plugins(), data.data, o);
        EXPECT_EQ(sampled.searched_rows, 200u);
        EXPECT_EQ(full.searched_rows, 900u);
        EXPECT_EQ(sampled.chosen, full.chosen) << name;
        // The chosen count's searches ran again on every row: the same groups and quality.
        EXPECT_EQ(sampled.groups, full.groups) << name;
        EXPECT_EQ(sampled.quality[static_cast<std::size_t>(full.chosen - 2)],
                  full.quality[static_cast<std::size_t>(full.chosen - 2)]);
    }
}

TEST(chain, kept_affinity_and_eigenvalues_come_back_with_the_groups) {
    const rotalign::labelled_points data = rotalign::uneven_blobs(90, 5);
    cluster_options o;
    o.graph = rotalign::graph_kind::dense;
    o.max_groups = 4;
    const rotalign::cluster_result plain = rotalign::cluster_points(plugins(), data.data, o);
    EXPECT_EQ(plain.affinity, nullptr);
    o.keep_affinity = true;
    const rotalign::cluster_result kept = rotalign::cluster_points(plugins(), data.data, o);
    EXPECT_EQ(kept.groups, plain.groups);

    // The affinity is brenmoss's second output on the squared distances, as it came.
    const rotalign::square d = rotalign::squared_distances(data.data);
    mexhost::array_ptr dm = mexhost::make_matrix(90, 90, d.values);
    mexhost::array_ptr k = mexhost::make_scalar(7);
    auto out = plugins().get("brenmoss").call(2, {dm.get(), k.get()});
    ASSERT_NE(kept.affinity, nullptr);
    EXPECT_TRUE(mexhost::identical(kept.affinity.get(), out[1].get()));

    // One eigenvalue beyond the largest count searched, descending, the first that of the
    // constant-degree direction.
    ASSERT_EQ(kept.eigenvalues.size(), 5u);
    EXPECT_NEAR(kept.eigenvalues[0], 1.0, 1e-9);
    EXPECT_TRUE(std::is_sorted(kept.eigenvalues.rbegin(), kept.eigenvalues.rend()));
    EXPECT_EQ(kept.eigenvalues, plain.eigenvalues);

    // A distance matrix handed over by pointer gives what the points give.
    const rotalign::cluster_result given = rotalign::cluster_distances(plugins(), d.values.data(), d.n, o);
    EXPECT_EQ(given.groups, plain.groups);
    ASSERT_EQ(given.quality.size(), plain.quality.size());
    for (std::size_t k = 0; k < plain.quality.size(); ++k)  // NaN where no search ran
        EXPECT_TRUE(given.quality[k] == plain.quality[k] ||
                    (std::isnan(given.quality[k]) && std::isnan(plain.quality[k])));
}

TEST(chain, the_normalised_affinity_is_the_matrix_the_eigen_step_takes) {
    // Solved as the chain solves it, it gives the chain's eigenvalues bit for bit, on both graphs.
    const rotalign::labelled_points data = rotalign::two_moons(400, 9);
    for (const rotalign::graph_kind graph : {rotalign::graph_kind::dense, rotalign::graph_kind::knn}) {
        cluster_options o;
        o.max_groups = 5;
        o.graph = graph;
        const rotalign::cluster_result chained = rotalign::cluster_points(plugins(), data.data, o);
        const mexhost::array_ptr l = rotalign::normalised_affinity(plugins(), data.data, o);
        ASSERT_EQ(mxIsSparse(l.get()), graph == rotalign::graph_kind::knn);
        const rotalign::eigenpairs e =
            graph == rotalign::graph_kind::knn
                ? rotalign::leading_eigenpairs(rotalign::sparse_view_of(l.get()), 6)
                : rotalign::leading_eigenpairs(mxGetPr(l.get()), mxGetM(l.get()), 6);
        EXPECT_EQ(e.values, chained.eigenvalues) << rotalign::name_of(graph);
        if (graph == rotalign::graph_kind::dense) {
            EXPECT_EQ(message_of([&] { rotalign::sparse_view_of(l.get()); }), "a sparse view of a dense matrix");
        }
    }
}

TEST(chain, the_neighbour_graph_finds_the_groups_of_the_full_matrix) {
    // The demo's sets, where the full matrix finds every group.
    const std::pair<const char*, int> sets[] = {{"moons", 11}, {"circles", 12}, {"blobs", 13}, {"lines", 14}};
    for (const auto& [name, seed] : sets) {
        const rotalign::labelled_points data = rotalign::generate(name, 600, static_cast<std::uint64_t>(seed));
        cluster_options o;
        o.max_groups = 6;
        o.graph = rotalign::graph_kind::dense;
        const rotalign::cluster_result dense = rotalign::cluster_points(plugins(), data.data, o);
        o.graph = rotalign::graph_kind::knn;
        o.keep_affinity = true;
        const rotalign::cluster_result knn = rotalign::cluster_points(plugins(), data.data, o);
        EXPECT_EQ(dense.graph, rotalign::graph_kind::dense);
        EXPECT_EQ(knn.graph, rotalign::graph_kind::knn);
        EXPECT_EQ(knn.chosen, dense.chosen) << name;
        EXPECT_GE(rotalign::adjusted_rand_index(knn.groups, dense.groups), 0.99) << name;
        // At least twice the local scale's neighbours, within the entry budget; the affinity kept
        // is sparse, with the graph's pattern.
        EXPECT_GE(knn.graph_neighbours, 14u);
        EXPECT_LE(knn.graph_neighbours, rotalign::graph_entry_budget / 600);
        EXPECT_TRUE(knn.exact_neighbours);
        ASSERT_NE(knn.affinity, nullptr);
        EXPECT_TRUE(mxIsSparse(knn.affinity.get()));
        EXPECT_EQ(static_cast<std::size_t>(mxGetJc(knn.affinity.get())[600]), knn.graph_entries);
        EXPECT_EQ(knn.chosen, data.groups);
    }
}

TEST(normalise, the_sparse_form_gives_the_dense_values_on_its_pattern) {
    // A symmetric 4-by-4 affinity with an empty pair (0, 3) and a stored zero (1, 2).
    const std::vector<double> dense{0, 0.5, 0.25, 0, 0.5, 0, 0, 0.125, 0.25, 0, 0, 1, 0, 0.125, 1, 0};
    std::vector<double> expected = dense;
    rotalign::normalise(expected.data(), 4);
    const std::vector<std::int32_t> starts{0, 2, 5, 8, 10}, rows{1, 2, 0, 2, 3, 0, 1, 3, 1, 2};
    std::vector<double> values{0.5, 0.25, 0.5, 0, 0.125, 0.25, 0, 1, 0.125, 1};
    rotalign::normalise(4, starts.data(), rows.data(), values.data());
    for (std::size_t j = 0; j < 4; ++j)
        for (std::int32_t k = starts[j]; k < starts[j + 1]; ++k)
            EXPECT_EQ(values[static_cast<std::size_t>(k)], expected[static_cast<std::size_t>(rows[k]) + 4 * j]);
    // A point without affinity is named, as on the dense form.
    std::vector<double> lonely{0.5, 0, 0.5, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(message_of([&] { rotalign::normalise(4, starts.data(), rows.data(), lonely.data()); }),
              "point 3 has no affinity to any other point (try a larger scale or neighbour count)");
}

TEST(graph_size, neighbours_grow_with_the_spread_of_the_affinity_within_the_budget) {
    rotalign::affinity_kernel kernel;  // local scales from the 7th neighbour
    const auto wanted = [&kernel](const rotalign::points& p, std::size_t most, double share) {
        const rotalign::neighbour_search found = rotalign::nearest_neighbours(p, 14);
        rotalign::graph_size_settings settings;
        settings.share = share;
        return rotalign::neighbours_for_share(p, found.lists, kernel, most, settings);
    };
    // In two dimensions a point's affinity sits in a few dozen neighbours; in fifty it spreads.
    const rotalign::points moons = rotalign::generate("moons", 600, 11).data;
    const std::size_t flat = wanted(moons, 599, 0.99);
    EXPECT_GT(flat, 14u);
    EXPECT_LT(flat, 60u);
    const rotalign::points wide = rotalign::suite_points("blobs-50d-3", 0).data;
    EXPECT_GT(wanted(wide, wide.count - 1, 0.99), flat);
    // Never beyond the budget, never below the lists; all of it for the whole affinity.
    EXPECT_EQ(wanted(moons, 20, 0.99), 20u);
    EXPECT_EQ(wanted(moons, 10, 0.99), 14u);
    EXPECT_EQ(wanted(moons, 599, 1.0), 599u);
    // The pellor kernel: one scale for every pair.
    kernel.kind = rotalign::affinity_kind::global;
    kernel.scale = 0.05;
    EXPECT_LT(wanted(moons, 599, 0.99), flat * 2);
}

TEST(chain, an_interrupt_check_that_throws_stops_the_run_at_any_of_its_points) {
    // Every check of a whole run, on every route: the stages, the rotation searches (also those on
    // a sample of the rows), the sparse eigen-solver's iterations and the neighbour search's
    // blocks, all on the caller's thread. Then each in turn throws (every one, or a spread of
    // them where they are many): the exception leaves the chain, nothing calls the check after
    // it, and the host has no array of the chain left in use.
    struct interrupted {};
    struct route {
        rotalign::graph_kind graph;
        rotalign::eigen_solver solver;
        rotalign::neighbour_backend search;
        std::size_t points, sample;
    };
    for (const route r : {route{rotalign::graph_kind::dense, rotalign::eigen_solver::automatic,
                                rotalign::neighbour_backend::automatic, 150, 0},
                          route{rotalign::graph_kind::knn, rotalign::eigen_solver::automatic,
                                rotalign::neighbour_backend::kd_tree, 150, 0},
                          route{rotalign::graph_kind::knn, rotalign::eigen_solver::lanczos,
                                rotalign::neighbour_backend::blas, 400, 150}}) {
        const rotalign::labelled_points data = rotalign::uneven_blobs(r.points, 5);
        cluster_options o;
        o.max_groups = 4;
        o.graph = r.graph;
        o.solver = r.solver;
        o.search = r.search;
        o.rotation_sample = r.sample;
        const std::thread::id caller = std::this_thread::get_id();
        int checks = 0;
        bool elsewhere = false;
        o.interrupt_check = [&] {
            ++checks;
            elsewhere |= std::this_thread::get_id() != caller;
        };
        const rotalign::cluster_result whole = rotalign::cluster_points(plugins(), data.data, o);
        EXPECT_FALSE(elsewhere);
        ASSERT_GE(checks, 5);
        const std::size_t in_use = mexhost::host_memory_usage().in_use;
        for (int stop = 1; stop <= checks; stop += 1 + checks / 60) {
            int seen = 0;
            o.interrupt_check = [&seen, stop] {
                if (++seen == stop) throw interrupted{};
            };
            bool thrown = false;
            try {
                rotalign::cluster_points(plugins(), data.data, o);
            } catch (const interrupted&) {
                thrown = true;
            }
            // The neighbour search checks between the blocks that the caller's thread takes,
            // and the threads take them as they come: a run may check a little less often.
            if (thrown) EXPECT_EQ(seen, stop);
            else EXPECT_LT(seen, stop) << stop << " of " << checks;
            EXPECT_EQ(mexhost::host_memory_usage().in_use, in_use) << stop;
        }
        o.interrupt_check = nullptr;
        EXPECT_EQ(rotalign::cluster_points(plugins(), data.data, o).groups, whole.groups);
        // On the automatic graph, whose candidates' own failures are passed over, an interrupt
        // still ends the run, even one that throws such a failure's type.
        if (r.graph == rotalign::graph_kind::dense) {
            cluster_options automatic = o;
            automatic.graph = rotalign::graph_kind::automatic;
            int all = 0;
            automatic.interrupt_check = [&all] { ++all; };
            rotalign::cluster_points(plugins(), data.data, automatic);
            for (int stop = 1; stop <= all; stop += 1 + all / 30) {
                int seen = 0;
                automatic.interrupt_check = [&seen, stop] {
                    if (++seen == stop) throw std::runtime_error("interrupted");
                };
                try {
                    rotalign::cluster_points(plugins(), data.data, automatic);
                    ADD_FAILURE() << "no interrupt at check " << stop << " of " << all;
                } catch (const std::runtime_error& e) {
                    EXPECT_STREQ(e.what(), "interrupted");
                }
                EXPECT_EQ(seen, stop);
            }
        }
        // From a distance matrix the same.
        if (r.graph == rotalign::graph_kind::dense) {
            const rotalign::square d = rotalign::squared_distances(data.data);
            checks = 0;
            o.interrupt_check = [&checks] { ++checks; };
            rotalign::cluster_distances(plugins(), d, o);
            for (int stop = 1; stop <= checks; ++stop) {
                int seen = 0;
                o.interrupt_check = [&seen, stop] {
                    if (++seen == stop) throw interrupted{};
                };
                EXPECT_THROW(rotalign::cluster_distances(plugins(), d, o), interrupted) << stop;
                EXPECT_EQ(mexhost::host_memory_usage().in_use, in_use) << stop;
            }
        }
    }
}
