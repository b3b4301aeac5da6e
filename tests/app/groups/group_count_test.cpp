// The group-count rule on hand-made spectra, the solver-independent basis of repeated
// eigenvalues, and the whole chain on sets of the group-count suite where the count used to
// depend on the eigen-solver or on luck.
#include "rotalign/chain.h"
#include "rotalign/datasets/suite_sets.h"
#include "rotalign/eigen/canonical_basis.h"
#include "rotalign/groups/group_count.h"
#include "rotalign/groups/scores.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using rotalign::eigen_solver;

using app_test::plugins;

namespace {

const double not_a_number = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(choose_groups, a_count_inside_repeated_eigenvalues_never_wins) {
    // Seven separate clouds: seven eigenvalues 1 (to rounding). A search on two of the seven
    // vectors can align perfectly by accident of the basis; only c = 7 has a defined space.
    const std::vector<double> values{1.0, 1.0 - 1e-16, 1.0, 1.0 - 3e-16, 1.0 - 3e-10, 1.0 - 1e-8, 1.0 - 5e-8,
                                     0.64, 0.60, 0.59, 0.55};
    const std::vector<double> quality{1.0, 1.0, 0.99999, 0.99999, 0.9982, 0.99729, 0.9914, 0.9847, 0.9797};
    EXPECT_EQ(rotalign::choose_groups(values, quality).chosen, 7);
    for (std::size_t c = 1; c < 7; ++c) EXPECT_FALSE(rotalign::clear_cut(values, c, {})) << c;
    EXPECT_TRUE(rotalign::clear_cut(values, 7, {}));
    EXPECT_EQ(rotalign::eigenvalue_blocks(values, {}), (std::vector<std::size_t>{0, 7, 8, 10}));
}

TEST(choose_groups, strong_cuts_come_before_the_qualities) {
    // Distances from 1: 0, 1e-3, 1.2e-3, 1e-2, 1.1e-2, 1.2e-2. Every cut is clear, only the one
    // after 3 is strong (ratio 8.3); better qualities at weak cuts do not count.
    const std::vector<double> values{1.0, 0.999, 0.9988, 0.99, 0.989, 0.988};
    EXPECT_NEAR(rotalign::distance_ratio(values, 3), 0.01 / 0.0012, 1e-9);
    EXPECT_TRUE(std::isinf(rotalign::distance_ratio(values, 1)));
    EXPECT_EQ(rotalign::choose_groups(values, {0.97, 0.99, 0.98, 0.999}).chosen, 3);
    // Without strong cuts every clear cut is a candidate.
    const std::vector<double> weak{1.0, 0.99, 0.988, 0.986, 0.984};
    EXPECT_EQ(rotalign::choose_groups(weak, {0.95, 0.99, 0.98}).chosen, 3);
    // A quality that is not a number never counts, even at a strong cut; the weak ones remain.
    EXPECT_EQ(rotalign::choose_groups(values, {0.97, not_a_number, 0.98, 0.999}).chosen, 5);
}

TEST(choose_groups, one_repeated_block_after_the_first_eigenvalue_is_one_group) {
    // Ten identical points: a complete graph, eigenvalues 1 and -1/9 nine times.
    const std::vector<double> values{1.0, -1.0 / 9, -1.0 / 9, -1.0 / 9};
    const rotalign::group_count g = rotalign::choose_groups(values, {not_a_number, 0.9});
    EXPECT_EQ(g.chosen, 1);
    EXPECT_NE(g.note.find("one group"), std::string::npos) << g.note;
    // Everything within 1e-4 of 1: more components than groups tried, nothing to choose.
    EXPECT_EQ(rotalign::choose_groups({1.0, 1.0, 1.0, 1.0}, {not_a_number, not_a_number}).chosen, 0);
}

TEST(canonical_basis, any_basis_of_a_block_gives_the_same_vectors) {
    // A block of two orthonormal vectors over six rows, and the same space turned by 0.7 rad and
    // with a sign flipped; a single vector after it with its sign flipped.
    const std::size_t n = 6;
    const double a[] = {0.5, 0.5, 0.1, -0.3, 0.4, 0.2}, b[] = {0.1, -0.2, 0.6, 0.5, 0.3, -0.4};
    std::vector<double> u(a, a + n), v(b, b + n), w{0.3, -0.1, 0.2, 0.2, -0.6, 0.5};
    // Gram-Schmidt, so that the columns are orthonormal.
    auto normalise = [](std::vector<double>& x) {
        double s = 0;
        for (double e : x) s += e * e;
        for (double& e : x) e /= std::sqrt(s);
    };
    auto remove = [](std::vector<double>& x, const std::vector<double>& y) {
        double d = 0;
        for (std::size_t i = 0; i < x.size(); ++i) d += x[i] * y[i];
        for (std::size_t i = 0; i < x.size(); ++i) x[i] -= d * y[i];
    };
    normalise(u);
    remove(v, u), normalise(v);
    remove(w, u), remove(w, v), normalise(w);

    rotalign::eigenpairs first, second;
    first.n = second.n = n;
    first.count = second.count = 3;
    first.values = second.values = {1.0, 1.0, 0.5};
    const double cs = std::cos(0.7), sn = std::sin(0.7);
    for (std::size_t i = 0; i < n; ++i) {
        first.vectors.push_back(u[i]);
        second.vectors.push_back(cs * u[i] + sn * v[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        first.vectors.push_back(v[i]);
        second.vectors.push_back(sn * u[i] - cs * v[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        first.vectors.push_back(w[i]);
        second.vectors.push_back(-w[i]);
    }
    rotalign::canonical_basis(first, {0, 2});
    rotalign::canonical_basis(second, {0, 2});
    for (std::size_t k = 0; k < 3 * n; ++k) EXPECT_NEAR(first.vectors[k], second.vectors[k], 1e-14) << k;
    // Still an orthonormal basis of the same space, the pivot entries positive.
    for (std::size_t j = 0; j < 3; ++j)
        for (std::size_t l = 0; l < 3; ++l) {
            double d = 0;
            for (std::size_t i = 0; i < n; ++i) d += first.column(j)[i] * first.column(l)[i];
            EXPECT_NEAR(d, j == l ? 1.0 : 0.0, 1e-14);
        }
    EXPECT_GT(*std::max_element(first.column(2), first.column(2) + n), 0.5);
}

namespace {

struct suite_case {
    const char* name;
    int max_groups;
};

// The chain on one suite set with both solvers: the true count, the same groups.
void expect_solver_independent_truth(const suite_case& s) {
    const rotalign::labelled_points data = rotalign::suite_points(s.name);
    rotalign::cluster_options o;
    o.max_groups = s.max_groups;
    o.solver = eigen_solver::dense;
    const rotalign::cluster_result dense = rotalign::cluster_points(plugins(), data.data, o);
    o.solver = eigen_solver::lanczos;
    const rotalign::cluster_result lanczos = rotalign::cluster_points(plugins(), data.data, o);
    EXPECT_EQ(dense.chosen, data.groups) << s.name;
    EXPECT_EQ(lanczos.chosen, data.groups) << s.name;
    EXPECT_GE(rotalign::adjusted_rand_index(dense.groups, lanczos.groups), 0.99) << s.name;
    EXPECT_GE(rotalign::adjusted_rand_index(data.truth, dense.groups), 0.9) << s.name;
    EXPECT_EQ(dense.eigenvalues.size(), static_cast<std::size_t>(s.max_groups) + 1);
}

}  // namespace

TEST(group_count_suite, hard_sets_give_the_true_count_with_either_solver) {
    // Seven clouds with seven eigenvalues 1 (the count once followed the solver's basis); blobs
    // where the old rule stopped short; tiny outlying groups; an L beside a blob; 20 points;
    // touching blobs; exact duplicates on 16 places.
    for (const suite_case s : {suite_case{"octahedron-7", 10}, suite_case{"blobs-2d-9", 10},
                               suite_case{"blobs-3d-8", 10}, suite_case{"outliers-6", 10}, suite_case{"l-shape", 10},
                               suite_case{"small-20", 10}, suite_case{"touching-3", 10},
                               suite_case{"duplicates-16", 20}})
        expect_solver_independent_truth(s);
}

TEST(group_count_suite, more_components_than_groups_tried_names_them) {
    const rotalign::labelled_points data = rotalign::suite_points("duplicates-16");
    rotalign::cluster_options o;
    std::string message;
    std::vector<rotalign::remedy> remedies;
    try {
        rotalign::cluster_points(plugins(), data.data, o);
    } catch (const rotalign::input_error& e) {
        message = e.what();
        remedies = e.remedies();
    }
    EXPECT_EQ(message,
              "the affinity graph falls apart into 16 components, more than the 10 groups tried: allow 16 or more "
              "groups, or use a larger neighbour count");
    ASSERT_EQ(remedies.size(), 2u);
    EXPECT_EQ(remedies[0].option, "max_groups");
    EXPECT_EQ(remedies[0].value, "16");
    EXPECT_EQ(remedies[1].option, "neighbours");
}

TEST(group_count_suite, pieces_linked_too_faintly_for_the_groups_tried_are_named) {
    // Twelve groups of five points along a line, ten apart; with a global scale of 2.1 the
    // neighbouring groups share affinities near 1e-9: one component, yet twelve eigenvalues
    // within 1e-4 of 1.
    rotalign::points p{60, 1, {}};
    for (int g = 0; g < 12; ++g)
        for (int k = 0; k < 5; ++k) p.values.push_back(10.0 * g + 0.1 * k);
    rotalign::cluster_options o;
    o.affinity = rotalign::affinity_kind::global;
    o.scale = 2.1;
    std::string message;
    try {
        rotalign::cluster_points(plugins(), p, o);
    } catch (const rotalign::input_error& e) {
        message = e.what();
    }
    EXPECT_EQ(message,
              "all 11 leading eigenvalues lie within 0.0001 of 1: the graph is as good as apart in more pieces than "
              "the 10 groups tried; allow more groups or use a larger neighbour count");
    o.max_groups = 12;
    const rotalign::cluster_result r = rotalign::cluster_points(plugins(), p, o);
    EXPECT_EQ(r.chosen, 12);
}

TEST(group_count_suite, identical_points_are_one_group_with_a_note) {
    const rotalign::points same{10, 2, std::vector<double>(20, 1.5)};
    rotalign::cluster_options o;
    o.max_groups = 3;
    o.neighbours = 3;
    const rotalign::cluster_result r = rotalign::cluster_points(plugins(), same, o);
    EXPECT_EQ(r.chosen, 1);
    EXPECT_EQ(r.groups, std::vector<int>(10, 1));
    EXPECT_FALSE(r.note.empty());
    // A fixed count inside the repeated block is taken, with a note that says so.
    o.fixed_groups = 3;
    const rotalign::cluster_result fixed = rotalign::cluster_points(plugins(), same, o);
    EXPECT_EQ(fixed.chosen, 3);
    EXPECT_NE(fixed.note.find("repeated"), std::string::npos) << fixed.note;
}

TEST(group_count_suite, generators_repeat_and_keep_their_shape) {
    for (const rotalign::suite_set& s : rotalign::suite_sets()) {
        const rotalign::labelled_points a = rotalign::suite_points(s.name);
        EXPECT_EQ(a.data.count, s.count) << s.name;
        EXPECT_EQ(a.data.dims, s.dims) << s.name;
        EXPECT_EQ(a.data.values.size(), s.count * s.dims) << s.name;
        EXPECT_EQ(*std::max_element(a.truth.begin(), a.truth.end()), s.groups) << s.name;
    }
    const rotalign::labelled_points a = rotalign::suite_points("blobs-50d-5");
    EXPECT_EQ(rotalign::suite_points("blobs-50d-5").data.values, a.data.values);
    EXPECT_NE(rotalign::suite_points("blobs-50d-5", 99).data.values, a.data.values);
    EXPECT_GE(rotalign::suite_sets().size(), 40u);
    EXPECT_THROW(rotalign::suite_points("no-such-set"), rotalign::input_error);
}
