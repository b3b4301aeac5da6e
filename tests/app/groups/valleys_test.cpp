// Groups that part along density valleys: the boundary measure and the count it lets past the
// rule's, on hand-made graphs, and on touching blobs through the whole chain.
#include "rotalign/chain.h"
#include "rotalign/groups/scores.h"
#include "rotalign/groups/valleys.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// A path of n points, each with its left and right neighbour as its own.
struct path_graph {
    std::vector<std::int32_t> starts{0}, rows;
    explicit path_graph(std::size_t n) {
        for (std::size_t j = 0; j < n; ++j) {
            if (j > 0) rows.push_back(static_cast<std::int32_t>(j - 1));
            if (j + 1 < n) rows.push_back(static_cast<std::int32_t>(j + 1));
            starts.push_back(static_cast<std::int32_t>(rows.size()));
        }
    }
    rotalign::sparse_view view() const { return {starts.size() - 1, starts.data(), rows.data(), nullptr}; }
};

}  // namespace

TEST(valleys, the_boundary_is_measured_against_the_grouped_points) {
    const path_graph g(20);
    std::vector<double> scales(20, 1.0);
    scales[9] = scales[10] = 4.0;  // the two points where the path is cut lie twice as far apart
    std::vector<int> halves(20, 1), renamed(20, 5);
    for (std::size_t i = 10; i < 20; ++i) halves[i] = 2, renamed[i] = 3;
    EXPECT_EQ(rotalign::boundary_spread(g.view(), scales, halves), 2.0);
    EXPECT_EQ(rotalign::boundary_spread(g.view(), scales, renamed), 2.0);
    // Points in no group are neither boundary nor counted: without the two, nothing links the
    // halves, which are then pieces of the graph (no boundary), as one group is.
    std::vector<int> gap = halves;
    gap[9] = gap[10] = 0;
    EXPECT_TRUE(std::isinf(rotalign::boundary_spread(g.view(), scales, gap)));
    EXPECT_TRUE(std::isinf(rotalign::boundary_spread(g.view(), scales, std::vector<int>(20, 1))));
    // Boundary points as close as the rest: no valley. No spread at all: no valley either.
    EXPECT_EQ(rotalign::boundary_spread(g.view(), std::vector<double>(20, 3.0), halves), 1.0);
    EXPECT_EQ(rotalign::boundary_spread(g.view(), std::vector<double>(20, 0.0), halves), 0.0);
    // Splitting the right half again: only the boundary it adds counts (not the sparse points
    // between the halves), against the groups along it (not the sparser left half).
    std::vector<int> quarters = halves;
    for (std::size_t i = 15; i < 20; ++i) quarters[i] = 3;
    std::vector<double> sparse_left = scales;
    for (std::size_t i = 0; i < 9; ++i) sparse_left[i] = 9.0;
    EXPECT_EQ(rotalign::boundary_spread(g.view(), sparse_left, quarters, halves), 1.0);
    EXPECT_EQ(rotalign::boundary_spread(g.view(), scales, quarters), 1.0);  // the shallowest boundary decides
    sparse_left[14] = sparse_left[15] = 9.0;
    EXPECT_EQ(rotalign::boundary_spread(g.view(), sparse_left, quarters, halves), 3.0);
}

TEST(valleys, only_a_larger_strong_cut_with_valleys_and_big_groups_is_taken) {
    // Strong cuts at 2 (pieces) and at 4 and 6; 3 and 5 are clear but weak.
    const std::vector<double> values{1.0, 1.0, 0.99, 0.988, 0.95, 0.94, 0.8};
    const std::vector<double> quality{1.0, 0.97, 0.98, 0.96, 0.97};
    rotalign::group_count_settings s;
    s.min_group_size = 10;
    std::vector<std::size_t> smallest{50, 40, 30, 20, 15};
    std::vector<int> asked;
    auto spreads = [&asked](std::vector<double> by_count) {
        return [&asked, by_count](int c) {
            asked.push_back(c);
            return by_count[static_cast<std::size_t>(c)];
        };
    };
    EXPECT_EQ(rotalign::count_across_valleys(values, quality, s, smallest, 2, spreads({0, 0, 0, 9, 1.6, 9, 1.2})), 4);
    EXPECT_EQ(asked, (std::vector<int>{6, 4}));  // the largest first; weak cuts are not measured
    EXPECT_EQ(rotalign::count_across_valleys(values, quality, s, smallest, 2, spreads({0, 0, 0, 9, 1.35, 9, 1.2})), 2);
    smallest[2] = 5;  // 4 groups now hold one too small to count
    EXPECT_EQ(rotalign::count_across_valleys(values, quality, s, smallest, 2, spreads({0, 0, 0, 9, 1.6, 9, 1.2})), 2);
    smallest[2] = 0;  // or one left empty
    EXPECT_EQ(rotalign::count_across_valleys(values, quality, s, smallest, 2, spreads({0, 0, 0, 9, 1.6, 9, 1.2})), 2);
    EXPECT_EQ(rotalign::count_across_valleys(values, quality, s, smallest, 4, spreads({0, 0, 0, 9, 9, 9, 9})), 6);
}

TEST(valleys, touching_blobs_get_their_own_groups) {
    // Two pairs of blobs, the blobs of a pair 4.5 spreads apart: each pair is one piece of every
    // candidate graph, and the rule alone counted the pieces.
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double centres[4][2] = {{0, 0}, {4.5, 0}, {30, 10}, {30, 14.5}};
    rotalign::points p{4 * 400, 2, {}};
    std::vector<int> truth;
    for (int b = 0; b < 4; ++b)
        for (int i = 0; i < 400; ++i) {
            p.values.push_back(centres[b][0] + noise(random));
            p.values.push_back(centres[b][1] + noise(random));
            truth.push_back(b);
        }
    const rotalign::cluster_result r = rotalign::cluster_points(app_test::plugins(), p, rotalign::cluster_options{});
    EXPECT_EQ(r.chosen, 4);
    EXPECT_GE(rotalign::adjusted_rand_index(truth, r.groups), 0.9);  // the blobs overlap a little
    EXPECT_NE(r.note.find("part along density valleys"), std::string::npos) << r.note;
}
