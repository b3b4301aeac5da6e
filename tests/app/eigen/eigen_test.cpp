// Both eigen-solvers against known spectra: the leading pairs, not the pairs of largest
// magnitude, in descending order, with eigenvectors that satisfy A v = lambda v.
#include "rotalign/eigen/eigen.h"

#include <gtest/gtest.h>

#include <cmath>

using rotalign::eigen_solver;

namespace {

const double pi = 3.14159265358979323846;

// The n-by-n second-difference matrix (2 on the diagonal, -1 beside it): eigenvalues
// 2 - 2 cos(k pi / (n + 1)), k = 1 .. n, so the largest is k = n.
rotalign::square second_difference(std::size_t n) {
    rotalign::square m{n, std::vector<double>(n * n, 0.0)};
    for (std::size_t i = 0; i < n; ++i) {
        m.values[i + i * n] = 2.0;
        if (i + 1 < n) m.values[i + 1 + i * n] = m.values[i + (i + 1) * n] = -1.0;
    }
    return m;
}

// max |A v - lambda v| over the pairs, and max |v_a . v_b - delta_ab|.
void expect_eigenpairs(const rotalign::square& m, const rotalign::eigenpairs& e, double tolerance) {
    const std::size_t n = m.n;
    for (std::size_t k = 0; k < e.count; ++k) {
        const double* v = e.column(k);
        for (std::size_t i = 0; i < n; ++i) {
            double av = 0.0;
            for (std::size_t j = 0; j < n; ++j) av += m.at(i, j) * v[j];
            ASSERT_NEAR(av, e.values[k] * v[i], tolerance) << "pair " << k << ", row " << i;
        }
        for (std::size_t l = 0; l <= k; ++l) {
            double dot = 0.0;
            for (std::size_t i = 0; i < n; ++i) dot += v[i] * e.column(l)[i];
            EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, tolerance);
        }
    }
}

}  // namespace

TEST(leading_eigenpairs, both_solvers_find_the_largest_eigenvalues_in_descending_order) {
    const std::size_t n = 120, count = 6;
    const rotalign::square m = second_difference(n);
    for (eigen_solver solver : {eigen_solver::lanczos, eigen_solver::dense}) {
        const rotalign::eigenpairs e = rotalign::leading_eigenpairs(m, count, solver);
        EXPECT_EQ(e.used, solver);
        ASSERT_EQ(e.values.size(), count);
        for (std::size_t k = 0; k < count; ++k)
            EXPECT_NEAR(e.values[k], 2.0 - 2.0 * std::cos(static_cast<double>(n - k) * pi / (n + 1.0)), 1e-9);
        expect_eigenpairs(m, e, 1e-8);
    }
}

TEST(leading_eigenpairs, large_negative_eigenvalues_are_not_taken) {
    // Diagonal 0.01, 0.02, ... with one entry of -100: the two leading pairs are the two largest
    // positive entries, whatever the magnitude of the negative one.
    const std::size_t n = 60;
    rotalign::square m{n, std::vector<double>(n * n, 0.0)};
    for (std::size_t i = 0; i < n; ++i) m.values[i + i * n] = 0.01 * static_cast<double>(i + 1);
    m.values[7 + 7 * n] = -100.0;
    for (eigen_solver solver : {eigen_solver::lanczos, eigen_solver::dense}) {
        const rotalign::eigenpairs e = rotalign::leading_eigenpairs(m, 2, solver);
        EXPECT_NEAR(e.values[0], 0.60, 1e-12);
        EXPECT_NEAR(e.values[1], 0.59, 1e-12);
        EXPECT_NEAR(std::fabs(e.column(0)[n - 1]), 1.0, 1e-9);
    }
}

TEST(leading_eigenpairs, blocks_give_every_copy_of_a_repeated_eigenvalue) {
    // Three equal blocks that nothing joins: each eigenvalue comes three times, and all three
    // copies of the largest lead (a single Krylov space would hold only one of them).
    const std::size_t b = 40, n = 3 * b;
    const rotalign::square block = second_difference(b);
    rotalign::square m{n, std::vector<double>(n * n, 0.0)};
    for (std::size_t k = 0; k < 3; ++k)
        for (std::size_t j = 0; j < b; ++j)
            for (std::size_t i = 0; i < b; ++i) m.values[k * b + i + (k * b + j) * n] = block.at(i, j);
    const double top = 2.0 - 2.0 * std::cos(static_cast<double>(b) * pi / (b + 1.0));
    const double next = 2.0 - 2.0 * std::cos(static_cast<double>(b - 1) * pi / (b + 1.0));
    for (eigen_solver solver : {eigen_solver::lanczos, eigen_solver::dense}) {
        const rotalign::eigenpairs e = rotalign::leading_eigenpairs(m, 4, solver);
        for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(e.values[k], top, 1e-9);
        EXPECT_NEAR(e.values[3], next, 1e-9);
        expect_eigenpairs(m, e, 1e-8);
    }
}

TEST(leading_eigenpairs, an_eigenvalue_repeated_many_times) {
    // The normalised affinity of 18 identical points: 1 once, then -1/17 seventeen times. The
    // dense solver's first method can stop with an internal error here; the result must not.
    for (const std::size_t n : {18u, 30u}) {
        rotalign::square m{n, std::vector<double>(n * n, 1.0 / static_cast<double>(n - 1))};
        for (std::size_t i = 0; i < n; ++i) m.values[i + i * n] = 0.0;
        for (const std::size_t count : {5u, 11u, 17u}) {
            const rotalign::eigenpairs e = rotalign::leading_eigenpairs(m, count, eigen_solver::dense);
            EXPECT_NEAR(e.values[0], 1.0, 1e-14);
            for (std::size_t k = 1; k < count; ++k) EXPECT_NEAR(e.values[k], -1.0 / static_cast<double>(n - 1), 1e-14);
            expect_eigenpairs(m, e, 1e-12);
        }
    }
}

TEST(leading_eigenpairs, all_pairs_and_bad_counts) {
    const rotalign::square m = second_difference(5);
    // The Lanczos driver needs a spare dimension; asked for every pair it leaves them to LAPACK.
    const rotalign::eigenpairs all = rotalign::leading_eigenpairs(m, 5, eigen_solver::lanczos);
    EXPECT_EQ(all.used, eigen_solver::dense);
    expect_eigenpairs(m, all, 1e-12);
    EXPECT_THROW(rotalign::leading_eigenpairs(m, 0), rotalign::input_error);
    EXPECT_THROW(rotalign::leading_eigenpairs(m, 6), rotalign::input_error);
    // Shift-invert needs the sparse factorisation; a dense matrix is refused, not solved otherwise.
    EXPECT_THROW(rotalign::leading_eigenpairs(m, 2, eigen_solver::shift_invert), rotalign::input_error);
}

TEST(leading_eigenpairs, automatic_choice_follows_the_order) {
    const rotalign::square small = second_difference(rotalign::dense_solver_limit);
    EXPECT_EQ(rotalign::leading_eigenpairs(small, 2).used, eigen_solver::dense);
    const rotalign::square large = second_difference(rotalign::dense_solver_limit + 1);
    EXPECT_EQ(rotalign::leading_eigenpairs(large, 2).used, eigen_solver::lanczos);
}
