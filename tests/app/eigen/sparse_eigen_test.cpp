// The sparse eigen-step against the dense solver on normalised nearest-neighbour affinities:
// the same eigenvalues and the same eigenspaces (compared as subspaces, since a repeated or
// nearly repeated eigenvalue leaves the basis free), every piece of a graph that falls apart,
// the fallbacks, repeatability and the refusal of malformed matrices.
#include "rotalign/datasets/datasets.h"
#include "rotalign/eigen/eigen.h"
#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/support/errors.h"

#include <SuiteSparse_config.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using rotalign::eigen_solver;

namespace {

// A symmetric matrix held both ways: dense by columns for the reference solver, and
// column-compressed with the dense matrix's non-zero entries for the sparse one.
struct test_matrix {
    std::size_t n = 0;
    std::vector<double> dense;
    std::vector<std::int32_t> starts, rows;
    std::vector<double> values;

    rotalign::sparse_view view() const { return {n, starts.data(), rows.data(), values.data()}; }
    void compress() {
        starts.assign(1, 0);
        rows.clear();
        values.clear();
        for (std::size_t j = 0; j < n; ++j) {
            for (std::size_t i = 0; i < n; ++i)
                if (dense[i + j * n] != 0.0) {
                    rows.push_back(static_cast<std::int32_t>(i));
                    values.push_back(dense[i + j * n]);
                }
            starts.push_back(static_cast<std::int32_t>(rows.size()));
        }
    }
};

// The normalised affinity of the points' symmetrised 14-nearest-neighbour graph with local
// scales from the 7th neighbour, as the nearest-neighbour route builds it.
test_matrix knn_affinity(const rotalign::points& p) {
    const std::size_t n = p.count, m = 14;
    auto distance = [&p](std::size_t i, std::size_t j) {
        double d = 0.0;
        for (std::size_t k = 0; k < p.dims; ++k) d += (p.at(i, k) - p.at(j, k)) * (p.at(i, k) - p.at(j, k));
        return d;
    };
    std::vector<std::vector<std::size_t>> near(n);
    std::vector<double> scale(n);
    std::vector<double> column(n);
    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t i = 0; i < n; ++i) column[i] = distance(i, j);
        std::vector<std::size_t> order(n);
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::sort(order.begin(), order.end(), [&column](std::size_t a, std::size_t b) {
            return column[a] < column[b] || (column[a] == column[b] && a < b);
        });
        near[j].assign(order.begin() + 1, order.begin() + 1 + static_cast<std::ptrdiff_t>(std::min(m, n - 1)));
        scale[j] = distance(j, near[j][std::min<std::size_t>(6, near[j].size() - 1)]);
    }
    test_matrix a;
    a.n = n;
    a.dense.assign(n * n, 0.0);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i : near[j])
            a.dense[i + j * n] = a.dense[j + i * n] = std::exp(-distance(i, j) / std::sqrt(scale[i] * scale[j]));
    std::vector<double> factor(n);
    for (std::size_t j = 0; j < n; ++j) {
        double degree = 0.0;
        for (std::size_t i = 0; i < n; ++i) degree += a.dense[i + j * n];
        factor[j] = 1.0 / std::sqrt(degree);
    }
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) a.dense[i + j * n] *= factor[i] * factor[j];
    a.compress();
    return a;
}

// Points of two moons, moved right by dx.
rotalign::points moons(std::size_t count, std::uint64_t seed, double dx = 0.0) {
    rotalign::points p = rotalign::two_moons(count, seed).data;
    for (std::size_t i = 0; i < p.count; ++i) p.values[i * 2] += dx;
    return p;
}

// A slightly uneven grid of rows-by-columns points 0.1 apart, moved right by dx: one piece of
// the nearest-neighbour graph, whatever the neighbour count.
void add_grid(rotalign::points& p, std::size_t rows, std::size_t columns, double dx) {
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < columns; ++c) {
            const double jitter = 0.001 * static_cast<double>((r * 7 + c * 13) % 10);
            p.values.push_back(dx + 0.1 * static_cast<double>(c) + jitter);
            p.values.push_back(0.1 * static_cast<double>(r) - jitter);
            ++p.count;
        }
}

// Every returned pair has ||A v - lambda v|| below `residual`; the vectors are orthonormal.
void expect_eigenpairs(const test_matrix& a, const rotalign::eigenpairs& e, double residual) {
    const std::size_t n = a.n;
    for (std::size_t k = 0; k < e.count; ++k) {
        const double* v = e.column(k);
        double r = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            double av = 0.0;
            for (std::size_t j = 0; j < n; ++j) av += a.dense[i + j * n] * v[j];
            r += (av - e.values[k] * v[i]) * (av - e.values[k] * v[i]);
        }
        EXPECT_LE(std::sqrt(r), residual) << "pair " << k;
        for (std::size_t l = 0; l <= k; ++l) {
            double dot = 0.0;
            for (std::size_t i = 0; i < n; ++i) dot += v[i] * e.column(l)[i];
            EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-10) << "pairs " << k << ", " << l;
        }
    }
}

// The same values, and every vector of `got` within `angle` of the span of `want`'s vectors.
void expect_same_eigenspace(const rotalign::eigenpairs& got, const rotalign::eigenpairs& want, double value_tolerance,
                            double angle) {
    ASSERT_EQ(got.count, want.count);
    const std::size_t n = got.n;
    for (std::size_t k = 0; k < got.count; ++k) {
        EXPECT_NEAR(got.values[k], want.values[k], value_tolerance) << "pair " << k;
        std::vector<double> rest(got.column(k), got.column(k) + n);
        for (std::size_t l = 0; l < want.count; ++l) {
            double dot = 0.0;
            for (std::size_t i = 0; i < n; ++i) dot += want.column(l)[i] * rest[i];
            for (std::size_t i = 0; i < n; ++i) rest[i] -= dot * want.column(l)[i];
        }
        double norm = 0.0;
        for (double x : rest) norm += x * x;
        EXPECT_LE(std::sqrt(norm), angle) << "pair " << k;
    }
}

rotalign::sparse_eigen_options forced(eigen_solver method) {
    rotalign::sparse_eigen_options o;
    o.method = method;
    // So that the Krylov solvers, shift-invert first, meet these small pieces, whose factors
    // fill a good part of the triangle.
    o.dense_limit = 16;
    o.factor_density_limit = 1.0;
    return o;
}

}  // namespace

TEST(sparse_eigenpairs, every_method_agrees_with_the_dense_solver) {
    const test_matrix a = knn_affinity(moons(900, 3));
    const std::size_t count = 10;
    const rotalign::eigenpairs want = rotalign::leading_eigenpairs(a.dense.data(), a.n, count + 1,
                                                                   rotalign::eigen_solver::dense);
    // The eigenspace of the 10 pairs is well defined: the 11th value stands apart.
    ASSERT_GT(want.values[count - 1] - want.values[count], 1e-4);
    rotalign::eigenpairs ten = want;
    ten.count = count;
    ten.values.resize(count);
    ten.vectors.resize(a.n * count);
    for (eigen_solver method :
         {eigen_solver::automatic, eigen_solver::shift_invert, eigen_solver::lanczos, eigen_solver::dense}) {
        SCOPED_TRACE(rotalign::name_of(method));
        rotalign::sparse_eigen_work work;
        const rotalign::eigenpairs got = rotalign::leading_eigenpairs(a.view(), count, forced(method), &work);
        EXPECT_EQ(work.used, method == eigen_solver::automatic ? eigen_solver::shift_invert : method);
        EXPECT_EQ(got.used, method == eigen_solver::dense ? rotalign::eigen_solver::dense
                                                           : rotalign::eigen_solver::lanczos);
        expect_same_eigenspace(got, ten, 1e-10, 1e-6);
        expect_eigenpairs(a, got, 1e-9);
        EXPECT_LE(work.largest_residual, 1e-9);
    }
    // By default pieces this small go to plain Lanczos.
    rotalign::sparse_eigen_work work;
    rotalign::leading_eigenpairs(a.view(), count, {}, &work);
    EXPECT_EQ(work.used, eigen_solver::lanczos);
    EXPECT_EQ(work.factorisations, 0);
}

TEST(sparse_eigenpairs, disconnected_pieces_each_bring_their_eigenvalue_one) {
    // Three groups far apart, two isolated pairs and a point without neighbours.
    rotalign::points p;
    p.dims = 2;
    add_grid(p, 15, 20, 0.0);
    add_grid(p, 10, 20, 10.0);
    add_grid(p, 10, 15, 20.0);
    test_matrix a = knn_affinity(p);
    const std::size_t n = a.n + 5;
    std::vector<double> dense(n * n, 0.0);
    for (std::size_t j = 0; j < a.n; ++j)
        std::copy(a.dense.begin() + static_cast<std::ptrdiff_t>(j * a.n),
                  a.dense.begin() + static_cast<std::ptrdiff_t>(j * a.n + a.n), dense.begin() + static_cast<std::ptrdiff_t>(j * n));
    for (std::size_t pair : {a.n, a.n + 3}) dense[pair + (pair + 1) * n] = dense[pair + 1 + pair * n] = 1.0;
    a.n = n;
    a.dense = dense;
    a.compress();

    const std::size_t count = 9;
    const rotalign::eigenpairs want = rotalign::leading_eigenpairs(a.dense.data(), n, count, rotalign::eigen_solver::dense);
    for (eigen_solver method : {eigen_solver::automatic, eigen_solver::lanczos}) {
        SCOPED_TRACE(rotalign::name_of(method));
        rotalign::sparse_eigen_work work;
        const rotalign::eigenpairs got = rotalign::leading_eigenpairs(a.view(), count, forced(method), &work);
        EXPECT_EQ(work.components, 6u);
        EXPECT_EQ(got.components, 6u);  // the result states its pieces as the dense solver's does
        EXPECT_EQ(work.dense_pieces, 3u);  // the two pairs and the lone point
        // Five pieces with an edge, five eigenvalues 1, each vector on one piece of its own.
        std::vector<std::size_t> first_rows;
        for (std::size_t k = 0; k < 5; ++k) {
            EXPECT_NEAR(got.values[k], 1.0, 1e-12);
            std::size_t first = n;
            for (std::size_t i = 0; i < n && first == n; ++i)
                if (got.column(k)[i] != 0.0) first = i;
            first_rows.push_back(first);
        }
        std::sort(first_rows.begin(), first_rows.end());
        EXPECT_EQ(first_rows, (std::vector<std::size_t>{0, 300, 500, a.n - 5, a.n - 2}));
        expect_same_eigenspace(got, want, 1e-10, 1e-6);
        expect_eigenpairs(a, got, 1e-9);
    }
}

TEST(sparse_eigenpairs, pieces_joined_by_a_tiny_weight_keep_both_leading_pairs) {
    // Two groups joined by one entry of 1e-9: one piece, whose two leading eigenvalues differ
    // from 1 by about 1e-9. Shift-invert must return both, not one of them twice or the next.
    rotalign::points p;
    p.dims = 2;
    add_grid(p, 15, 20, 0.0);
    add_grid(p, 12, 20, 10.0);
    test_matrix a = knn_affinity(p);
    a.dense[0 + 300 * a.n] = a.dense[300 + 0 * a.n] = 1e-9;
    a.compress();
    const rotalign::eigenpairs want = rotalign::leading_eigenpairs(a.dense.data(), a.n, 4, rotalign::eigen_solver::dense);
    ASSERT_LT(want.values[0] - want.values[1], 1e-8);
    rotalign::sparse_eigen_work work;
    const rotalign::eigenpairs got = rotalign::leading_eigenpairs(a.view(), 4, forced(eigen_solver::shift_invert), &work);
    EXPECT_EQ(work.components, 1u);
    EXPECT_EQ(work.used, eigen_solver::shift_invert);
    expect_same_eigenspace(got, want, 1e-12, 1e-6);
    expect_eigenpairs(a, got, 1e-9);
}

TEST(sparse_eigenpairs, tiny_pieces_give_all_their_pairs) {
    // A pair joined with weight 0.5 and a point alone: eigenvalues 0.5, 0, -0.5.
    const std::vector<std::int32_t> starts = {0, 1, 2, 2}, rows = {1, 0};
    const std::vector<double> values = {0.5, 0.5};
    rotalign::sparse_eigen_work work;
    const rotalign::eigenpairs e =
        rotalign::leading_eigenpairs({3, starts.data(), rows.data(), values.data()}, 3, {}, &work);
    EXPECT_EQ(e.used, rotalign::eigen_solver::dense);
    EXPECT_EQ(work.components, 2u);
    ASSERT_EQ(e.values.size(), 3u);
    EXPECT_NEAR(e.values[0], 0.5, 1e-15);
    EXPECT_EQ(e.values[1], 0.0);
    EXPECT_NEAR(e.values[2], -0.5, 1e-15);
    EXPECT_EQ(e.column(1)[2], 1.0);
    EXPECT_NEAR(std::fabs(e.column(0)[0]), std::sqrt(0.5), 1e-15);
}

TEST(sparse_eigenpairs, a_refused_or_failed_factor_leaves_the_piece_to_plain_lanczos) {
    test_matrix a = knn_affinity(moons(700, 5));
    const rotalign::eigenpairs want = rotalign::leading_eigenpairs(a.dense.data(), a.n, 4, rotalign::eigen_solver::dense);

    rotalign::sparse_eigen_options small = forced(eigen_solver::automatic);
    small.factor_bytes_limit = 1000.0;  // far below the predicted factor
    rotalign::sparse_eigen_work work;
    expect_same_eigenspace(rotalign::leading_eigenpairs(a.view(), 4, small, &work), want, 1e-10, 1e-6);
    EXPECT_GE(work.refused_factors, 1);
    EXPECT_EQ(static_cast<std::size_t>(work.refused_factors), work.lanczos_pieces);
    EXPECT_EQ(work.factorisations, 0);
    EXPECT_EQ(work.used, eigen_solver::lanczos);

    // Twice the affinity has eigenvalues up to 2, so (1 + shift) I - 2 L is not positive definite.
    for (double& v : a.values) v *= 2.0;
    for (double& v : a.dense) v *= 2.0;
    const rotalign::eigenpairs doubled =
        rotalign::leading_eigenpairs(a.view(), 4, forced(eigen_solver::shift_invert), &work);
    EXPECT_EQ(work.used, eigen_solver::lanczos);
    EXPECT_EQ(work.factorisations, 0);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(doubled.values[k], 2.0 * want.values[k], 1e-10);
    expect_eigenpairs(a, doubled, 1e-9);
}

TEST(sparse_eigenpairs, the_factor_budget_follows_memory_and_large_pieces_beyond_it_are_refused) {
    // The budget: three quarters of what is left, less the basis and six vectors beside the factor.
    EXPECT_EQ(rotalign::factor_bytes_budget(8e9, 1000000, 14), 0.75 * 8e9 - 8.0 * 1e6 * 20);
    EXPECT_EQ(rotalign::factor_bytes_budget(1e8, 10000000, 22), 0.0);  // the basis alone does not fit

    const test_matrix a = knn_affinity(moons(700, 5));
    const rotalign::eigenpairs want = rotalign::leading_eigenpairs(a.dense.data(), a.n, 4, eigen_solver::dense);
    rotalign::sparse_eigen_options o = forced(eigen_solver::automatic);
    rotalign::sparse_eigen_work work;
    // The automatic budget, from the memory of this process, takes the small factor.
    expect_same_eigenspace(rotalign::leading_eigenpairs(a.view(), 4, o, &work), want, 1e-10, 1e-6);
    EXPECT_EQ(work.used, eigen_solver::shift_invert);

    // Above the size that plain Lanczos is trusted with, the operations no longer refuse a factor
    // (the factor is the only route there), and a factor that fills in still goes to plain Lanczos.
    o.plain_lanczos_limit = 100;
    o.factor_flops_limit = 1.0;
    rotalign::leading_eigenpairs(a.view(), 4, o, &work);
    EXPECT_EQ(work.used, eigen_solver::shift_invert);
    rotalign::sparse_eigen_options dense_factor = o;
    dense_factor.factor_density_limit = 1e-9;
    expect_same_eigenspace(rotalign::leading_eigenpairs(a.view(), 4, dense_factor, &work), want, 1e-10, 1e-6);
    EXPECT_EQ(work.used, eigen_solver::lanczos);

    // A factor beyond the byte limit is refused before it is computed, with the facts in words.
    o.factor_bytes_limit = 1000.0;
    try {
        rotalign::leading_eigenpairs(a.view(), 4, o, &work);
        FAIL() << "a piece beyond every method was solved";
    } catch (const rotalign::resource_error& e) {
        const std::string text = e.what();
        for (const char* part : {"a piece of 350 points needs a Cholesky factor of ", "beyond 1000 B, the limit set",
                                 "above 100 points"})
            EXPECT_NE(text.find(part), std::string::npos) << text;
    }
    // (Two moons of 350 points each.) Up to that size the pieces go to plain Lanczos as before;
    // an explicit shift-invert takes the factor whatever its size.
    o.plain_lanczos_limit = 700;
    rotalign::leading_eigenpairs(a.view(), 4, o, &work);
    EXPECT_EQ(work.used, eigen_solver::lanczos);
    o.plain_lanczos_limit = 100;
    o.method = eigen_solver::shift_invert;
    rotalign::leading_eigenpairs(a.view(), 4, o, &work);
    EXPECT_EQ(work.used, eigen_solver::shift_invert);

    o.factor_bytes_limit = -1.0;
    EXPECT_THROW(rotalign::leading_eigenpairs(a.view(), 4, o), rotalign::input_error);
}

// While it lives, SuiteSparse's allocations above 2 MiB fail: the values of a large factor, not
// the analysis's workspaces, which grow with the matrix.
class large_allocations_fail {
public:
    large_allocations_fail()
        : malloc_before_(SuiteSparse_config.malloc_func), calloc_before_(SuiteSparse_config.calloc_func) {
        SuiteSparse_config.malloc_func = [](std::size_t n) { return n > limit ? nullptr : std::malloc(n); };
        SuiteSparse_config.calloc_func = [](std::size_t n, std::size_t size) {
            return n * size > limit ? nullptr : std::calloc(n, size);
        };
    }
    ~large_allocations_fail() {
        SuiteSparse_config.malloc_func = malloc_before_;
        SuiteSparse_config.calloc_func = calloc_before_;
    }
    large_allocations_fail(const large_allocations_fail&) = delete;
    large_allocations_fail& operator=(const large_allocations_fail&) = delete;

private:
    static constexpr std::size_t limit = std::size_t{2} << 20;
    void* (*malloc_before_)(std::size_t);
    void* (*calloc_before_)(std::size_t, std::size_t);
};

TEST(sparse_eigenpairs, memory_that_runs_out_in_a_large_factor_is_reported_not_left_to_plain_lanczos) {
    // A random graph of 1500 points, each linked to six others: its factor fills in to about a
    // million entries, far above the analysis's needs, so that only the factor's values fail.
    constexpr std::size_t n = 1500;
    test_matrix a;
    a.n = n;
    a.dense.assign(n * n, 0.0);
    std::mt19937 random(3);
    for (std::size_t i = 0; i < n; ++i)
        for (int k = 0; k < 6; ++k) {
            const std::size_t j = random() % n;
            if (j == i) continue;
            a.dense[i + j * n] = a.dense[j + i * n] = 0.5 + 0.5 * (random() % 1000) / 1000.0;
        }
    std::vector<double> degree(n, 0.0);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) degree[j] += a.dense[i + j * n];
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) a.dense[i + j * n] /= std::sqrt(degree[i] * degree[j]);
    a.compress();
    rotalign::sparse_eigen_options o = forced(eigen_solver::automatic);
    o.plain_lanczos_limit = 1000;
    o.factor_density_limit = 1.0;
    o.factor_bytes_limit = 1e9;
    try {
        const large_allocations_fail failing;
        rotalign::leading_eigenpairs(a.view(), 4, o);
        FAIL() << "the piece was solved without its factor";
    } catch (const rotalign::resource_error& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("memory ran out while the Cholesky factor of a piece of 1500 points"), std::string::npos)
            << text;
    }
    // Below that size plain Lanczos takes over, as before.
    o.plain_lanczos_limit = 2000;
    rotalign::sparse_eigen_work work;
    {
        const large_allocations_fail failing;
        rotalign::leading_eigenpairs(a.view(), 4, o, &work);
    }
    EXPECT_EQ(work.used, eigen_solver::lanczos);
}

TEST(sparse_eigenpairs, the_solve_reports_its_phases_and_iterations) {
    // Two grids far apart: two pieces, each reported under its own name.
    rotalign::points p{0, 2, {}};
    add_grid(p, 12, 20, 0.0);
    add_grid(p, 10, 15, 100.0);
    const test_matrix a = knn_affinity(p);
    for (eigen_solver method : {eigen_solver::shift_invert, eigen_solver::lanczos}) {
        std::vector<std::string> said;
        rotalign::sparse_eigen_options o = forced(method);
        o.report = [&said](const std::string& where) { said.push_back(where); };
        rotalign::sparse_eigen_work work;
        rotalign::leading_eigenpairs(a.view(), 3, o, &work);
        ASSERT_FALSE(said.empty());
        const bool inverted = method == eigen_solver::shift_invert;
        const std::string iterations = inverted ? "shift-invert Lanczos: " : "Lanczos: ";
        long long applications = 0;
        for (const char* piece : {"piece 1 of 2, 240 points: ", "piece 2 of 2, 150 points: "}) {
            std::vector<std::string> mine;
            for (const std::string& line : said)
                if (line.rfind(piece, 0) == 0) mine.push_back(line.substr(std::string(piece).size()));
            ASSERT_FALSE(mine.empty()) << piece;
            if (inverted) {
                EXPECT_EQ(mine[0], "ordering the factor");
                EXPECT_EQ(mine[1].rfind("factorising: ", 0), 0u) << mine[1];
                EXPECT_EQ(mine.back(), "checking the pairs against the matrix");
                mine.pop_back();
            }
            // The last word on the iterations: every pair converged, and the applications counted.
            const std::string& last = mine.back();
            ASSERT_EQ(last.rfind(iterations, 0), 0u) << last;
            EXPECT_NE(last.find("3 of 3 pairs converged"), std::string::npos) << last;
            applications += std::stoll(last.substr(iterations.size()));
        }
        EXPECT_EQ(applications, inverted ? work.solves : work.products - 6);  // less the final checks
    }
}

TEST(sparse_eigenpairs, runs_repeat_bit_for_bit) {
    const test_matrix a = knn_affinity(moons(600, 8));
    for (eigen_solver method : {eigen_solver::shift_invert, eigen_solver::lanczos}) {
        const rotalign::eigenpairs first = rotalign::leading_eigenpairs(a.view(), 6, forced(method));
        const rotalign::eigenpairs second = rotalign::leading_eigenpairs(a.view(), 6, forced(method));
        EXPECT_EQ(first.values, second.values);
        EXPECT_EQ(first.vectors, second.vectors);
    }
}

TEST(sparse_eigenpairs, malformed_matrices_and_options_are_refused) {
    // The 3-by-3 path 0 - 1 - 2 with weights 0.25 and 0.5, both triangles stored.
    const std::vector<std::int32_t> starts = {0, 1, 3, 4}, rows = {1, 0, 2, 1};
    const std::vector<double> values = {0.25, 0.25, 0.5, 0.5};
    struct bad_case {
        const char* what;
        std::vector<std::int32_t> starts, rows;
        std::vector<double> values;
        const char* message;
    };
    const double nan = std::nan("");
    const std::vector<bad_case> cases = {
        {"offsets from 1", {1, 1, 3, 4}, rows, values, "sparse matrix: column offsets must start at 0 and never decrease"},
        {"falling offsets", {0, 3, 1, 4}, rows, values, "sparse matrix: column offsets must start at 0 and never decrease"},
        {"row past the end", starts, {1, 0, 3, 1}, values, "sparse matrix: row indices must lie in the matrix and ascend in each column"},
        {"negative row", starts, {-1, 0, 2, 1}, values, "sparse matrix: row indices must lie in the matrix and ascend in each column"},
        {"rows out of order", starts, {1, 2, 0, 1}, values, "sparse matrix: row indices must lie in the matrix and ascend in each column"},
        {"a row twice", {0, 1, 3, 4}, {1, 0, 0, 1}, values, "sparse matrix: row indices must lie in the matrix and ascend in each column"},
        {"NaN", starts, rows, {0.25, 0.25, nan, nan}, "sparse matrix: a value is not a finite number"},
        {"infinity", starts, rows, {0.25, 0.25, 0.5, HUGE_VAL}, "sparse matrix: a value is not a finite number"},
        {"unequal values", starts, rows, {0.25, 0.25, 0.5, 0.5000001}, "sparse matrix: not symmetric"},
        {"one triangle", {0, 1, 2, 2}, {1, 2}, {0.25, 0.5}, "sparse matrix: not symmetric"},
        {"the other triangle", {0, 0, 1, 2}, {0, 1}, {0.25, 0.5}, "sparse matrix: not symmetric"},
        {"partner in the wrong column", {0, 1, 2, 4}, {1, 2, 0, 1}, {0.25, 0.5, 0.25, 0.5}, "sparse matrix: not symmetric"},
    };
    for (const bad_case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            rotalign::leading_eigenpairs({3, c.starts.data(), c.rows.data(), c.values.data()}, 2);
            ADD_FAILURE() << "no error";
        } catch (const rotalign::input_error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }

    const rotalign::sparse_view good{3, starts.data(), rows.data(), values.data()};
    EXPECT_EQ(rotalign::leading_eigenpairs(good, 3).count, 3u);
    rotalign::sparse_eigen_options no_shift;
    no_shift.shift = 0.0;
    auto message = [](auto&& call) {
        try {
            call();
        } catch (const rotalign::input_error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { rotalign::leading_eigenpairs(good, 0); }),
              "cannot take 0 eigenvectors of a matrix of order 3");
    EXPECT_EQ(message([&] { rotalign::leading_eigenpairs(good, 4); }),
              "cannot take 4 eigenvectors of a matrix of order 3");
    EXPECT_EQ(message([&] { rotalign::leading_eigenpairs(good, 2, no_shift); }), "the shift must be a positive number");

    // A chain of 20,000 points asked for the dense method would need 3.2 GB.
    const std::size_t long_chain = 20000;
    std::vector<std::int32_t> chain_starts = {0}, chain_rows;
    for (std::size_t j = 0; j < long_chain; ++j) {
        if (j > 0) chain_rows.push_back(static_cast<std::int32_t>(j - 1));
        if (j + 1 < long_chain) chain_rows.push_back(static_cast<std::int32_t>(j + 1));
        chain_starts.push_back(static_cast<std::int32_t>(chain_rows.size()));
    }
    const std::vector<double> chain_values(chain_rows.size(), 0.5);
    rotalign::sparse_eigen_options dense;
    dense.method = eigen_solver::dense;
    EXPECT_EQ(message([&] {
                  rotalign::leading_eigenpairs({long_chain, chain_starts.data(), chain_rows.data(), chain_values.data()},
                                               2, dense);
              }),
              "a piece of 20000 points is too large for the dense eigen-solver");
}
