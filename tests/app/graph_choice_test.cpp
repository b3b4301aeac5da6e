// The automatic graph, chosen with the count, and the smallest group: the same count at every
// size of a set, and a handful of stray points that takes no count.
#include "rotalign/chain.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/datasets/suite_sets.h"
#include "rotalign/groups/group_count.h"
#include "rotalign/groups/nearest_sample.h"
#include "rotalign/groups/scores.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

using rotalign::cluster_options;
using rotalign::cluster_result;

using app_test::plugins;

TEST(graph_choice, every_size_of_a_set_gets_the_same_count_and_its_groups) {
    // Below and above the choice's sample: on more points the count comes from a sample of fixed
    // size, and the groups from one chain on every point with that count. Under AddressSanitizer
    // every large array is a fresh mapping, whose first touch costs much on some virtual machines,
    // and far above the sample the same code runs as just above it: that size is left out there.
    std::vector<std::size_t> sizes = {600, rotalign::graph_choice_sample + 1};
#ifndef __SANITIZE_ADDRESS__
    sizes.push_back(10000);
#endif
    for (const char* name : {"moons", "circles", "blobs"}) {
        for (const std::size_t n : sizes) {
            const rotalign::labelled_points data = rotalign::generate(name, n, 7);
            const cluster_result r = rotalign::cluster_points(plugins(), data.data, cluster_options{});
            EXPECT_EQ(r.chosen, data.groups) << name << ' ' << n;
            EXPECT_GE(rotalign::adjusted_rand_index(data.truth, r.groups), 0.99) << name << ' ' << n;
            EXPECT_EQ(r.graph, rotalign::graph_kind::knn);
            EXPECT_EQ(r.choice_points, std::min(n, rotalign::graph_choice_sample));
            ASSERT_FALSE(r.candidates.empty());
            // The graph taken is the best-scored of the competing candidates with the chosen count.
            const bool any_confirmed = std::any_of(r.candidates.begin(), r.candidates.end(),
                                                   [](const auto& c) { return c.confirmed; });
            double best = -1.0;
            std::size_t taken = 0;
            for (const rotalign::graph_candidate& c : r.candidates)
                if ((c.confirmed || !any_confirmed) && c.chosen == r.chosen && c.score > best) {
                    best = c.score;
                    taken = c.neighbours;
                }
            EXPECT_EQ(r.graph_neighbours, taken) << name << ' ' << n;
            EXPECT_TRUE(r.graphs_agree) << name << ' ' << n;
        }
    }
}

// Two spirals drawn from another seed: the candidate graphs give 2, 6, 3, 3 and 5 groups.
TEST(graph_choice, graphs_that_disagree_leave_no_count_clear) {
    const rotalign::labelled_points data = rotalign::suite_points("spirals-2", 101);
    const cluster_result r = rotalign::cluster_points(plugins(), data.data, cluster_options{});
    ASSERT_EQ(r.candidates.size(), 5u);
    EXPECT_EQ(r.chosen, 3);
    EXPECT_FALSE(r.graphs_agree);
}

TEST(graph_choice, told_the_count_the_graph_that_aligns_it_best_is_taken) {
    // Every candidate gives the told count; each scores the quality its own graph reaches at that
    // count, and the best one is taken (the first, the fewest neighbours, of equals).
    const rotalign::labelled_points data = rotalign::generate("moons", 600, 11);
    cluster_options o;
    o.fixed_groups = 3;
    const cluster_result r = rotalign::cluster_points(plugins(), data.data, o);
    ASSERT_FALSE(r.candidates.empty());
    const rotalign::graph_candidate* best = nullptr;
    for (const rotalign::graph_candidate& c : r.candidates) {
        cluster_options one = o;
        one.graph = rotalign::graph_kind::knn;
        one.graph_neighbours = c.neighbours;
        const cluster_result alone = rotalign::cluster_points(plugins(), data.data, one);
        EXPECT_EQ(c.chosen, 3);
        EXPECT_EQ(c.score, alone.quality[1]) << c.neighbours;
        if (best == nullptr || c.score > best->score) best = &c;
    }
    EXPECT_EQ(r.graph_neighbours, best->neighbours);
    EXPECT_EQ(r.quality[1], best->score);
    EXPECT_EQ(r.chosen, 3);
}

TEST(graph_choice, explicit_graphs_are_taken_as_given) {
    const rotalign::labelled_points data = rotalign::generate("moons", 600, 3);
    cluster_options o;
    o.graph = rotalign::graph_kind::dense;
    EXPECT_TRUE(rotalign::cluster_points(plugins(), data.data, o).candidates.empty());
    o.graph = rotalign::graph_kind::automatic;
    o.graph_neighbours = 12;
    EXPECT_TRUE(rotalign::cluster_points(plugins(), data.data, o).candidates.empty());
    o.graph = rotalign::graph_kind::knn;
    const cluster_result r = rotalign::cluster_points(plugins(), data.data, o);
    EXPECT_TRUE(r.candidates.empty());
    EXPECT_EQ(r.graph_neighbours, 12u);
}

TEST(graph_choice, pieces_beyond_the_groups_tried_are_reported_not_hidden) {
    // Fourteen tight blobs on a ring: every candidate graph falls apart into them, while the dense
    // graph links them faintly and would hide them in a count of 5. The refusal names the most
    // pieces; allowing that many groups finds every blob.
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 0.5);
    rotalign::points p{14 * 70, 2, {}};
    std::vector<int> truth;
    for (int b = 0; b < 14; ++b)
        for (int i = 0; i < 70; ++i) {
            const double angle = b * 2.0 * 3.141592653589793 / 14.0;
            p.values.push_back(10.0 * std::cos(angle) + noise(random));
            p.values.push_back(10.0 * std::sin(angle) + noise(random));
            truth.push_back(b);
        }
    try {
        rotalign::cluster_points(plugins(), p, cluster_options{});
        ADD_FAILURE() << "no refusal";
    } catch (const rotalign::too_many_pieces& e) {
        EXPECT_EQ(e.components(), 14u);
    }
    cluster_options o;
    o.max_groups = 14;
    const cluster_result r = rotalign::cluster_points(plugins(), p, o);
    EXPECT_EQ(r.chosen, 14);
    EXPECT_EQ(rotalign::adjusted_rand_index(truth, r.groups), 1.0);
    // With room for fewer groups, the densest graph holds fewer pieces and gives a count; the note
    // names the graphs that fell apart into more.
    o.max_groups = 12;
    const cluster_result fewer = rotalign::cluster_points(plugins(), p, o);
    EXPECT_LT(fewer.chosen, 14);
    EXPECT_NE(fewer.note.find("fall apart into up to 14 pieces, more than the 12 groups tried"), std::string::npos)
        << fewer.note;
}

TEST(min_group_size, stray_points_are_in_no_group_and_take_no_count) {
    // Three blobs and, far from them, a few copies of one point (more than the local scales'
    // neighbours, so that their scale is 0 and nothing links them to the blobs): a piece of the
    // graph of its own, which would take a count as a fourth group. The default smallest group
    // is 1% of the points, 10 here.
    rotalign::labelled_points data = rotalign::generate("blobs", 900, 5);
    const std::size_t copies = 8;
    for (std::size_t k = 0; k < copies; ++k)
        for (std::size_t d = 0; d < data.data.dims; ++d) data.data.values.push_back(1000.0 + static_cast<double>(d));
    data.data.count += copies;
    for (const rotalign::graph_kind graph : {rotalign::graph_kind::dense, rotalign::graph_kind::automatic}) {
        cluster_options o;
        o.graph = graph;
        const cluster_result r = rotalign::cluster_points(plugins(), data.data, o);
        EXPECT_EQ(r.chosen, 3);
        EXPECT_EQ(r.stray, copies);
        EXPECT_GE(r.min_group_size, 2u);
        for (std::size_t i = 900; i < data.data.count; ++i) EXPECT_EQ(r.groups[i], 0) << i;
        const std::vector<int> first(r.groups.begin(), r.groups.begin() + 900);
        EXPECT_GE(rotalign::adjusted_rand_index(data.truth, first), 0.99);
        // Groups of any size: the copies are a group of their own.
        o.min_group_size = 1;
        const cluster_result any = rotalign::cluster_points(plugins(), data.data, o);
        EXPECT_EQ(any.stray, 0u);
        EXPECT_NE(any.groups[900], 0);
        EXPECT_TRUE(std::all_of(any.groups.begin() + 900, any.groups.end(),
                                [&any](int g) { return g == any.groups[900]; }));
    }
}

TEST(repeated_places, copies_inside_a_group_join_it_and_take_no_count) {
    // Three blobs and 12 copies of one of their points: each copy's 7th nearest point is another
    // copy, so its local scale is 0 and (the blobs drawn 100 times larger, so that the lower
    // bound of the pair scale does not link them either) nothing links it to the blob around it.
    // Unlike the far copies above, they lie among the 7 nearest of the blob's points, so they
    // join its group.
    rotalign::labelled_points data = rotalign::generate("blobs", 900, 5);
    for (double& v : data.data.values) v *= 100.0;
    const std::size_t copies = 12, of = 17, dims = data.data.dims;
    for (std::size_t k = 0; k < copies; ++k)
        for (std::size_t d = 0; d < dims; ++d) data.data.values.push_back(data.data.values[of * dims + d]);
    data.data.count += copies;
    data.truth.insert(data.truth.end(), copies, data.truth[of]);
    for (const rotalign::graph_kind graph :
         {rotalign::graph_kind::dense, rotalign::graph_kind::knn, rotalign::graph_kind::automatic})
        for (const int fixed : {0, 3}) {
            cluster_options o;
            o.graph = graph;
            o.fixed_groups = fixed;
            const cluster_result r = rotalign::cluster_points(plugins(), data.data, o);
            EXPECT_EQ(r.chosen, 3);
            EXPECT_EQ(r.stray, 0u);
            // The place (the point and its copies) in one group, that of the blob around it.
            for (std::size_t i = 900; i < data.data.count; ++i) EXPECT_EQ(r.groups[i], r.groups[of]) << i;
            EXPECT_GE(rotalign::adjusted_rand_index(data.truth, r.groups), 0.99);
            EXPECT_NE(r.note.find("13 points on places of more than 7 points"), std::string::npos) << r.note;
        }
}

TEST(choose_groups, small_groups_take_no_count_and_the_runner_up_is_reported) {
    const std::vector<double> apart{1.0, 0.999, 0.99, 0.9, 0.5, 0.1};  // every c a strong cut
    const std::vector<double> quality{0.95, 0.99, 0.96};
    rotalign::group_count_settings s;
    s.min_group_size = 10;
    rotalign::group_count g = rotalign::choose_groups(apart, quality, s);
    EXPECT_EQ(g.chosen, 3);
    EXPECT_EQ(g.runner_up, 4);
    EXPECT_NEAR(g.margin, 0.03, 1e-12);
    EXPECT_TRUE(g.clear);
    // The best count's smallest group is below the size: the next best takes its place.
    g = rotalign::choose_groups(apart, quality, s, {20, 3, 12});
    EXPECT_EQ(g.chosen, 4);
    EXPECT_EQ(g.runner_up, 2);
    // A search that leaves a group empty has a group below any size; a count not searched is
    // no smaller than any.
    EXPECT_EQ(rotalign::choose_groups(apart, quality, s, {20, 0, 12}).chosen, 4);
    EXPECT_EQ(rotalign::choose_groups(apart, quality, s, {20, rotalign::unknown_group_size, 0}).chosen, 3);
    // Every count has a small group: the rule chooses as if none had.
    EXPECT_EQ(rotalign::choose_groups(apart, quality, s, {1, 2, 3}).chosen, 3);
    // Nearly equal qualities: no count stands clear.
    g = rotalign::choose_groups(apart, {0.990, 0.995, 0.80}, s);
    EXPECT_EQ(g.chosen, 3);
    EXPECT_EQ(g.runner_up, 2);
    EXPECT_FALSE(g.clear);
    EXPECT_EQ(rotalign::smallest_group({1, 2, 2, 0, 1, 3, 2}, 3), 1u);
    EXPECT_EQ(rotalign::smallest_group({1, 1}, 2), 0u);
    EXPECT_EQ(rotalign::smallest_group({}, 2), rotalign::unknown_group_size);
}

TEST(nearest_sample, every_point_takes_the_group_of_its_nearest_sampled_point) {
    // Against a plain scan over the sample, in 1, 3 and 9 coordinates, with repeated points.
    for (const std::size_t dims : {std::size_t{1}, std::size_t{3}, std::size_t{9}}) {
        rotalign::points all;
        all.count = 3000;
        all.dims = dims;
        std::uint64_t state = 88172645463325252ull + dims;
        for (std::size_t k = 0; k < all.count * dims; ++k) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            all.values.push_back(static_cast<double>(state % 1000) / 100.0);  // coarse: many ties
        }
        rotalign::points sample;
        sample.dims = dims;
        std::vector<int> sample_groups;
        for (std::size_t i = 0; i < all.count; i += 15) {
            sample.values.insert(sample.values.end(), all.values.begin() + static_cast<std::ptrdiff_t>(i * dims),
                                 all.values.begin() + static_cast<std::ptrdiff_t>((i + 1) * dims));
            sample_groups.push_back(static_cast<int>(i % 7));
            ++sample.count;
        }
        const std::vector<int> groups = rotalign::groups_by_nearest_sample(all, sample, sample_groups);
        ASSERT_EQ(groups.size(), all.count);
        for (std::size_t i = 0; i < all.count; ++i) {
            double nearest = std::numeric_limits<double>::infinity();
            std::vector<int> tied;  // the groups of every sampled point at the least distance
            for (std::size_t j = 0; j < sample.count; ++j) {
                double d = 0.0;
                for (std::size_t k = 0; k < dims; ++k) {
                    const double t = all.values[i * dims + k] - sample.values[j * dims + k];
                    d += t * t;
                }
                if (d < nearest) {
                    tied.clear();
                    nearest = d;
                }
                if (d == nearest) tied.push_back(sample_groups[j]);
            }
            EXPECT_NE(std::find(tied.begin(), tied.end(), groups[i]), tied.end()) << dims << ' ' << i;
        }
    }
    rotalign::points one{1, 2, {0.0, 0.0}};
    EXPECT_THROW(rotalign::groups_by_nearest_sample(one, rotalign::points{1, 3, {0, 0, 0}}, {1}), rotalign::input_error);
    EXPECT_THROW(rotalign::groups_by_nearest_sample(one, one, {}), rotalign::input_error);
}
