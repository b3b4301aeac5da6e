// The Lanczos operator: its banded sparse product gives bit for bit what the column scheme gives
// (the order in which every row adds its terms), it skips exactly the negligible entries, and it
// keeps the dense product when too few entries go.
#include "eigen/symmetric_operator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

// A symmetric n-by-n matrix by columns with about `density` of its entries above `least`; the
// others are zeros, values of magnitude at most `least` (the bound itself included) and -0.0.
std::vector<double> sparse_symmetric(std::size_t n, double density, double least, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> m(n * n, 0.0);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = j; i < n; ++i) {
            double v = 0.0;
            const double u = unit(rng);
            if (i == j || u < density) v = (unit(rng) - 0.3) * std::exp(-10.0 * unit(rng));
            else if (u < density + 0.01) v = least;
            else if (u < density + 0.02) v = -least * unit(rng);
            else if (u < density + 0.03) v = -0.0;
            m[i + j * n] = m[j + i * n] = v;
        }
    return m;
}

// The column scheme: column j adds its terms to the rows below it and its own sum, from zero,
// to row j, one column after another.
std::vector<double> column_product(const std::vector<double>& m, std::size_t n, double least,
                                   const std::vector<double>& x) {
    std::vector<double> y(n);
    for (std::size_t j = 0; j < n; ++j) y[j] = m[j + j * n] * x[j];
    for (std::size_t j = 0; j < n; ++j) {
        double sum = 0.0;
        for (std::size_t i = j + 1; i < n; ++i) {
            const double v = m[i + j * n];
            if (!(std::fabs(v) > least)) continue;
            y[i] += v * x[j];
            sum += v * x[i];
        }
        y[j] += sum;
    }
    return y;
}

std::vector<double> vector_of(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    std::vector<double> x(n);
    for (double& v : x) v = normal(rng);
    return x;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

}  // namespace

TEST(symmetric_operator, the_banded_product_gives_the_bits_of_the_column_scheme) {
    using rotalign::copy_threads;
    const double least = 1e-3;
    // One band, a band and a part, several bands with a short last one; the copy made on one
    // thread and on two.
    for (std::size_t n : {7, 511, 512, 513, 1300, 2100})
        for (copy_threads threads : {copy_threads::one, copy_threads::two}) {
            const std::vector<double> m = sparse_symmetric(n, 0.05, least, n);
            const rotalign::symmetric_operator op(m.data(), n, least, threads);
            ASSERT_TRUE(op.sparse()) << n;
            for (std::uint64_t seed : {1, 2}) {
                const std::vector<double> x = vector_of(n, seed);
                std::vector<double> y(n, 99.0);
                op.apply(x.data(), y.data());
                EXPECT_TRUE(same_bits(y, column_product(m, n, least, x))) << "n = " << n;
            }
        }
}

TEST(symmetric_operator, keeps_exactly_the_entries_above_the_bound) {
    const std::size_t n = 700;
    const double least = 1e-3;
    const std::vector<double> m = sparse_symmetric(n, 0.05, least, 3);
    std::set<std::pair<std::size_t, std::size_t>> expected, visited;
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = j + 1; i < n; ++i)
            if (std::fabs(m[i + j * n]) > least) expected.insert({i, j});
    const rotalign::symmetric_operator op(m.data(), n, least, rotalign::copy_threads::two);
    op.for_each_kept([&visited](std::size_t i, std::size_t j) { EXPECT_TRUE(visited.insert({i, j}).second); });
    EXPECT_EQ(visited, expected);
    EXPECT_EQ(op.kept(), expected.size());
}

TEST(symmetric_operator, keeps_the_dense_product_when_few_entries_go) {
    // A third of the entries below the bound: too few go for a sparse copy to pay.
    const std::size_t n = 600;
    std::vector<double> m(n * n);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = j; i < n; ++i)
            m[i + j * n] = m[j + i * n] = (i + j) % 3 == 0 ? 1e-4 : 1.0 / static_cast<double>(1 + i + j);
    const rotalign::symmetric_operator op(m.data(), n, 1e-3);
    EXPECT_FALSE(op.sparse());
    const std::vector<double> x = vector_of(n, 5);
    std::vector<double> y(n);
    op.apply(x.data(), y.data());
    for (std::size_t i = 0; i < n; ++i) {
        double expected = 0.0;
        for (std::size_t j = 0; j < n; ++j) expected += m[i + j * n] * x[j];
        ASSERT_NEAR(y[i], expected, 1e-12) << i;
    }
}
