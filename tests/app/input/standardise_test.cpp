// Standardised columns: unit spread whatever the columns' units and origins, the caller's points
// untouched, and the chain's groups the same for the same data in other units.
#include "app_support.h"

#include "rotalign/chain.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/input/standardise.h"
#include "rotalign/groups/scores.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace {

using rotalign::points;

// Column k of p multiplied by a[k] and shifted by b[k].
points affine(const points& p, const std::vector<double>& a, const std::vector<double>& b) {
    points q = p;
    for (std::size_t i = 0; i < p.count; ++i)
        for (std::size_t k = 0; k < p.dims; ++k) q.values[i * p.dims + k] = a[k] * p.at(i, k) + b[k];
    return q;
}

// Random points whose columns differ in magnitude (from 1e-300 to near the largest double),
// origin and kind: spread values, two values only, or one constant value.
points random_points(std::mt19937_64& random) {
    std::uniform_int_distribution<std::size_t> count(1, 40), dims(1, 6), kind(0, 5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double magnitudes[] = {1e-300, 1e-8, 1.0, 1e6, 1e300, 4e307};
    points p{count(random), dims(random), {}};
    p.values.resize(p.count * p.dims);
    for (std::size_t k = 0; k < p.dims; ++k) {
        const double m = magnitudes[kind(random)];
        const std::size_t column_kind = kind(random);
        const double origin = 3.0 * unit(random) * m;
        for (std::size_t i = 0; i < p.count; ++i) {
            const double v = column_kind == 0 ? 0.0 : column_kind == 1 ? (i % 2 == 0 ? -1.0 : 1.0) : unit(random);
            // At most 1.6e308: finite.
            p.values[i * p.dims + k] = origin + v * m;
        }
    }
    return p;
}

TEST(standardised, columns_get_unit_spread_whatever_their_units_and_origins) {
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> unit(-1.0, 1.0), exponent(-3.0, 3.0);
    for (int round = 0; round < 2000; ++round) {
        const points p = random_points(random);
        const points kept = p;
        const points s = rotalign::standardised(p);
        EXPECT_EQ(p.values, kept.values) << "the caller's points changed";
        ASSERT_EQ(s.count, p.count);
        ASSERT_EQ(s.dims, p.dims);
        const std::vector<double> spreads = rotalign::column_spreads(p);
        ASSERT_EQ(spreads.size(), p.dims);

        // Zero mean and unit spread, or all zeros for a constant column.
        for (std::size_t k = 0; k < p.dims; ++k) {
            double sum = 0.0, squares = 0.0;
            bool constant = true;
            for (std::size_t i = 0; i < p.count; ++i) {
                ASSERT_TRUE(std::isfinite(s.at(i, k)));
                sum += s.at(i, k);
                squares += s.at(i, k) * s.at(i, k);
                constant = constant && p.at(i, k) == p.at(0, k);
            }
            const double n = static_cast<double>(p.count);
            EXPECT_NEAR(sum / n, 0.0, 1e-12) << "round " << round << ", column " << k;
            EXPECT_NEAR(squares / n, constant ? 0.0 : 1.0, 1e-12) << "round " << round << ", column " << k;
            EXPECT_EQ(spreads[k] == 0.0, constant);
            EXPECT_TRUE(std::isfinite(spreads[k]));
        }

        // The same points in other units and from other origins: the same result up to the
        // columns' signs. Maps stay moderate so that the mapped points are exact enough to tell,
        // and shrink the columns near the largest doubles.
        std::vector<double> a(p.dims), b(p.dims);
        for (std::size_t k = 0; k < p.dims; ++k) {
            const double size = spreads[k] > 0 ? spreads[k] : std::fabs(p.at(0, k));
            bool huge = false;
            for (std::size_t i = 0; i < p.count; ++i) huge = huge || std::fabs(p.at(i, k)) > 1e306;
            const double e = exponent(random);
            a[k] = (unit(random) < 0 ? -1.0 : 1.0) * std::pow(10.0, huge ? -std::fabs(e) - 1.0 : e);
            b[k] = a[k] * size * (huge ? 1.0 : 10.0) * unit(random);
        }
        const points t = rotalign::standardised(affine(p, a, b));
        for (std::size_t i = 0; i < p.count; ++i)
            for (std::size_t k = 0; k < p.dims; ++k)
                ASSERT_NEAR(t.at(i, k), (a[k] < 0 ? -1.0 : 1.0) * s.at(i, k), 1e-8)
                    << "round " << round << ", point " << i << ", column " << k;
    }
}

TEST(standardised, the_chain_finds_the_same_groups_in_any_units) {
    const rotalign::labelled_points data = rotalign::generate("blobs", 300, 5);
    rotalign::cluster_options o;
    o.standardise = true;
    const rotalign::cluster_result reference = rotalign::cluster_points(app_test::plugins(), data.data, o);
    EXPECT_GE(rotalign::adjusted_rand_index(data.truth, reference.groups), 0.95);
    EXPECT_FALSE(reference.unit_contrast);

    const std::vector<std::vector<double>> scales = {{1000.0, 0.001}, {-3e5, 2.0}, {1e-6, -1e-6}, {7.0, 7.0}};
    for (const std::vector<double>& a : scales) {
        const points moved = affine(data.data, a, {a[0] * 40.0, -a[1] * 25.0});
        const rotalign::cluster_result r = rotalign::cluster_points(app_test::plugins(), moved, o);
        EXPECT_EQ(r.chosen, reference.chosen) << a[0] << ", " << a[1];
        EXPECT_DOUBLE_EQ(rotalign::adjusted_rand_index(r.groups, reference.groups), 1.0) << a[0] << ", " << a[1];

        // Unstandardised, the contrast of the units is reported when it exceeds 100 times.
        rotalign::cluster_options plain;
        const rotalign::cluster_result raw = rotalign::cluster_points(app_test::plugins(), moved, plain);
        const double ratio = std::fabs(a[0] / a[1]);
        EXPECT_EQ(raw.unit_contrast.has_value(), ratio > 200.0 || ratio < 1.0 / 200.0) << a[0] << ", " << a[1];
    }
}

TEST(standardised, distances_cannot_be_standardised) {
    rotalign::cluster_options o;
    o.standardise = true;
    const rotalign::square d = rotalign::squared_distances(rotalign::generate("blobs", 30, 1).data);
    EXPECT_EQ(app_test::message_of([&] { rotalign::cluster_distances(app_test::plugins(), d, o); }),
              "standardising the columns needs points, not a distance matrix");
}

}  // namespace
