// The chained rotation searches: whatever turn the eigen-solver leaves two groups' rows in, the
// search finds the axes that part them.
#include "rotalign/groups/rotation.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Two groups of rows, unit columns, as a graph with two loosely linked halves gives them: the
// rows of each group along one of two orthogonal directions, with some spread, the whole turned
// by `turn` radians. `share` of the rows are in group 1.
rotalign::eigenpairs two_groups(std::size_t n, double share, double turn, std::mt19937_64& random) {
    std::normal_distribution<double> spread(0.0, 0.02);
    rotalign::eigenpairs e;
    e.n = n;
    e.count = 3;
    e.values = {1.0, 0.9999, 0.9};
    e.vectors.assign(n * 3, 0.0);
    const std::size_t first = static_cast<std::size_t>(share * static_cast<double>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const double along = 1.0 + spread(random), across = spread(random);
        const double a = i < first ? along : across, b = i < first ? across : along;
        e.vectors[i] = std::cos(turn) * a - std::sin(turn) * b;
        e.vectors[i + n] = std::sin(turn) * a + std::cos(turn) * b;
        e.vectors[i + 2 * n] = spread(random);
    }
    for (std::size_t k = 0; k < 3; ++k) {
        double norm = 0.0;
        for (std::size_t i = 0; i < n; ++i) norm += e.vectors[i + k * n] * e.vectors[i + k * n];
        for (std::size_t i = 0; i < n; ++i) e.vectors[i + k * n] /= std::sqrt(norm);
    }
    return e;
}

}  // namespace

TEST(rotation, two_groups_are_found_from_every_turn) {
    // Equal groups put the rows at +-45 degrees (turn pi / 4), where the search's gradient
    // vanishes; every other turn, and unequal groups, must come out the same.
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> any_turn(0.0, 2.0 * std::acos(-1.0));
    std::vector<double> turns{std::acos(-1.0) / 4, -std::acos(-1.0) / 4, 0.0};
    for (int k = 0; k < 40; ++k) turns.push_back(any_turn(random));
    for (const double share : {0.5, 0.3}) {
        for (const double turn : turns) {
            const std::size_t n = 400;
            const rotalign::eigenpairs e = two_groups(n, share, turn, random);
            for (const bool numerical : {false, true}) {
                const rotalign::rotation_searches s = rotalign::rotate_all(app_test::plugins(), e, 3, numerical);
                SCOPED_TRACE("share " + std::to_string(share) + ", turn " + std::to_string(turn));
                ASSERT_EQ(s.quality.size(), 2u);
                EXPECT_GT(s.quality[0], 0.99);
                const std::vector<int>& g = s.groups[0];
                const std::size_t first = static_cast<std::size_t>(share * n);
                for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(g[i] == g[0], i < first) << "row " << i;
            }
        }
    }
}
