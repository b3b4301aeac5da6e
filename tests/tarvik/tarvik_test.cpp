// tarvik through the host: the rotation search, its outputs, its messages and its memory.
//
// The number of "mtimes" calls tells how many sweeps ran: a numerical sweep makes two trial
// rotations per angle, a gradient sweep five products per angle (three for the derivative of the
// rotated matrix, one rotation at the accepted angles, one trial), and the finish one more.
#include "plugins.h"

#include <cmath>
#include <limits>
#include <random>

using namespace toolbox_test;

namespace {

const double not_a_number = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();
using groups_t = std::vector<std::vector<double>>;

struct result {
    std::vector<array_ptr> out;
    mexhost::call_stats stats;
    double quality() const { return mexhost::real_values(out[1].get())[0]; }
    std::vector<double> rotated() const { return mexhost::real_values(out[2].get()); }
    std::size_t products() const { return stats.host_calls_of("mtimes"); }
    groups_t groups() const {
        groups_t g;
        for (std::size_t i = 0; i < mxGetNumberOfElements(out[0].get()); ++i)
            g.push_back(mexhost::real_values(mxGetCell(out[0].get(), static_cast<mwIndex>(i))));
        return g;
    }
};

// tarvik(inputs...) with three outputs.
result tarvik_of(const std::vector<const mxArray*>& inputs) {
    result r{plugin("tarvik").call(3, inputs), plugin("tarvik").last_stats()};
    // theta is left to the host; everything else is released or handed out.
    EXPECT_EQ(r.stats.reclaimed_arrays, 1u);
    EXPECT_EQ(r.stats.reclaimed_blocks, 0u);
    return r;
}
result tarvik(const mxArray* x) { return tarvik_of({x}); }
result tarvik(const mxArray* x, double method) {
    array_ptr m = mexhost::make_scalar(method);
    return tarvik_of({x, m.get()});
}

std::size_t numerical_products(int sweeps, int K) { return 2u * K * sweeps + 1; }
std::size_t gradient_products(int sweeps, int K) { return 5u * K * sweeps + 1; }

// The alignment quality, computed the plain way: row maxima of the squares, then one running sum.
double quality_of(const std::vector<double>& y, std::size_t n, std::size_t c) {
    std::vector<double> best(n, 0.0);
    for (std::size_t i = 0; i < n * c; ++i)
        if (y[i] * y[i] >= best[i % n]) best[i % n] = y[i] * y[i];
    double sum = 0.0;
    for (std::size_t i = 0; i < n * c; ++i) sum += (y[i] * y[i]) / best[i % n];
    return 1.0 - (sum / static_cast<double>(n) - 1.0) / static_cast<double>(c);
}

// Rows (cos t, -sin t) and (sin t, cos t): undone by one Givens factor of angle t.
array_ptr turned_identity(double t) {
    return mexhost::make_matrix(2, 2, {std::cos(t), std::sin(t), -std::sin(t), std::cos(t)});
}

}  // namespace

TEST(tarvik, messages_come_in_their_order) {
    array_ptr x = mexhost::make_matrix(2, 2, {1, 0, 0, 1});
    for (int nlhs : {0, 1, 2}) EXPECT_EQ(error_of("tarvik", nlhs, {}), "Too few output arguments.");
    EXPECT_EQ(error_of("tarvik", 4, {}), "Too many output arguments.");
    EXPECT_EQ(error_of("tarvik", 3, {}), "Too few input arguments.");
    EXPECT_EQ(error_of("tarvik", 3, {x.get(), x.get(), x.get()}), "Too many input arguments.");

    array_ptr single = mexhost::make_numeric(mxSINGLE_CLASS, {2, 2});
    array_ptr sparse = mexhost::make_sparse(2, 2, {0, 1, 2}, {0, 1}, {1.0, 1.0});
    array_ptr empty_page = mexhost::make_array({3, 2, 0});
    array_ptr wide = mexhost::make_matrix(0, 46342);  // c*(c-1) just past 2^31 - 1
    const std::pair<const mxArray*, const char*> cases[] = {
        {single.get(), "Eigenvector matrix must be of class double"},
        {sparse.get(), "Eigenvector matrix must not be sparse"},
        {empty_page.get(), "Eigenvector matrix has fewer values than rows times columns"},
        {wide.get(), "Eigenvector matrix has too many columns"},
    };
    for (const auto& [input, message] : cases) {
        EXPECT_EQ(error_of("tarvik", 3, {input}), message);
        EXPECT_EQ(plugin("tarvik").last_stats().peak_live_arrays, 0u) << message;
        EXPECT_TRUE(plugin("tarvik").last_stats().left_nothing()) << message;
    }
}

TEST(tarvik, turn_by_0_3_is_undone_by_either_method) {
    array_ptr x = turned_identity(0.3);
    // Numerical: +0.1 in each of sweeps 1 to 3, then no gain over sweeps 4 and 5.
    const result numerical = tarvik(x.get(), 2.0);
    EXPECT_EQ(numerical.products(), numerical_products(5, 1));
    EXPECT_EQ(numerical.quality(), 1.0);
    EXPECT_EQ(numerical.groups(), (groups_t{{1}, {2}}));
    const std::vector<double> identity = {1, 0, 0, 1};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(numerical.rotated()[i], identity[i], 1e-15);
    // Gradient: past 0.3, back below, then onto it; sweep 3 gains little over sweep 1.
    const result gradient = tarvik(x.get());
    EXPECT_EQ(gradient.products(), gradient_products(3, 1));
    EXPECT_NEAR(gradient.quality(), 1.0, 1e-9);
    EXPECT_EQ(gradient.groups(), (groups_t{{1}, {2}}));
}

TEST(tarvik, method_selector_truncates_and_defaults_to_gradient) {
    array_ptr x = turned_identity(0.3);
    EXPECT_EQ(tarvik(x.get(), 2.7).products(), numerical_products(5, 1));
    for (double m : {1.9, 3.0, 0.0, -2.0, not_a_number, inf, -inf, 4294967298.0})
        EXPECT_EQ(tarvik(x.get(), m).products(), gradient_products(3, 1)) << m;
}

TEST(tarvik, identity_stays_put_for_three_sweeps) {
    array_ptr x = mexhost::make_matrix(2, 2, {1, 0, 0, 1});
    for (double method : {1.0, 2.0}) {
        const result r = tarvik(x.get(), method);
        EXPECT_EQ(r.products(), method == 2.0 ? numerical_products(3, 1) : gradient_products(3, 1));
        EXPECT_EQ(r.quality(), 1.0);
        EXPECT_TRUE(same_bits(r.rotated(), {1, 0, 0, 1}));
        EXPECT_EQ(r.groups(), (groups_t{{1}, {2}}));
    }
}

TEST(tarvik, one_and_no_columns_have_no_angles) {
    array_ptr column = mexhost::make_matrix(3, 1, {0.5, -2.0, 7.0});
    const result one = tarvik(column.get());
    EXPECT_EQ(one.products(), 1u);
    EXPECT_EQ(one.quality(), 1.0);
    EXPECT_TRUE(same_bits(one.rotated(), {0.5, -2.0, 7.0}));
    EXPECT_EQ(one.groups(), (groups_t{{1, 2, 3}}));
    // Quality +Inf from the division by c = 0: the gain is NaN, and all 200 (empty) sweeps run.
    array_ptr none = mexhost::make_matrix(4, 0);
    const result zero = tarvik(none.get(), 2.0);
    EXPECT_EQ(zero.quality(), inf);
    EXPECT_EQ(mexhost::dims_of(zero.out[0].get()), (std::vector<mwSize>{1, 0}));
    EXPECT_EQ(mexhost::dims_of(zero.out[2].get()), (std::vector<mwSize>{4, 0}));
    // No rows: the quality is 0/0, and every group is empty.
    array_ptr no_rows = mexhost::make_matrix(0, 2);
    const result empty = tarvik(no_rows.get(), 2.0);
    EXPECT_EQ(empty.products(), numerical_products(200, 1));
    EXPECT_TRUE(std::isnan(empty.quality()));
    EXPECT_EQ(empty.groups(), (groups_t{{}, {}}));
}

TEST(tarvik, nan_quality_freezes_angles_and_shows_ties_zeros_and_nan_rows) {
    // A zero row makes the quality NaN, so no trial is accepted and X comes back as it is: the
    // groups then show how rows are assigned. Row 1 is all NaN (no group), row 2 ties (the later
    // column wins, whatever the signs), row 3 leads in column 1, row 4 is zero (last column).
    array_ptr x = mexhost::make_matrix(4, 2, {not_a_number, 0.6, -0.9, 0.0, not_a_number, -0.6, 0.3, 0.0});
    for (double method : {1.0, 2.0}) {
        const result r = tarvik(x.get(), method);
        EXPECT_EQ(r.products(), method == 2.0 ? numerical_products(200, 1) : gradient_products(200, 1));
        EXPECT_TRUE(std::isnan(r.quality()));
        const std::vector<double> y = r.rotated();
        EXPECT_TRUE(std::isnan(y[0]) && std::isnan(y[4]));
        EXPECT_TRUE(same_bits({y[1], y[2], y[3], y[5], y[6], y[7]}, {0.6, -0.9, 0.0, -0.6, 0.3, 0.0}));
        EXPECT_EQ(r.groups(), (groups_t{{3}, {2, 4}}));
    }
}

TEST(tarvik, numerical_search_takes_the_decrease_on_equal_gains) {
    // The row (1, 1) gains exactly as much at -0.1 as at +0.1; taking the decrease, the search
    // walks on to -0.8 and the row ends up leading in its first column.
    array_ptr x = mexhost::make_matrix(1, 2, {1.0, 1.0});
    const result r = tarvik(x.get(), 2.0);
    EXPECT_GT(r.rotated()[0], 1.4);
    EXPECT_EQ(r.groups(), (groups_t{{1}, {}}));
}

TEST(tarvik, three_columns_are_turned_back_factor_by_factor) {
    // X = R^T for R = G_0(0.2) G_1(0.1) G_2(-0.1), pairs (0,1), (0,2), (1,2), with G[p,q] = +sin:
    // the numerical search reaches exactly these angles and X R = I. Another order or sign
    // convention of the factors does not land on the identity.
    auto times_givens = [](std::vector<double> m, std::size_t p, std::size_t q, double t) {
        for (std::size_t r = 0; r < 3; ++r) {  // m * G by the definition of G, entry by entry
            const double mp = m[r + 3 * p], mq = m[r + 3 * q];
            m[r + 3 * p] = mp * std::cos(t) + mq * -std::sin(t);
            m[r + 3 * q] = mp * std::sin(t) + mq * std::cos(t);
        }
        return m;
    };
    const std::vector<double> r = times_givens(
        times_givens(times_givens({1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 1, 0.2), 0, 2, 0.1), 1, 2, -0.1);
    array_ptr x = mexhost::make_matrix(3, 3, {r[0], r[3], r[6], r[1], r[4], r[7], r[2], r[5], r[8]});
    const result out = tarvik(x.get(), 2.0);
    const std::vector<double> identity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (std::size_t i = 0; i < 9; ++i) EXPECT_NEAR(out.rotated()[i], identity[i], 1e-14) << i;
    EXPECT_EQ(out.groups(), (groups_t{{1}, {2}, {3}}));
}

TEST(tarvik, random_matrices_keep_quality_rows_and_memory_consistent) {
    const std::size_t n = 40, c = 4;
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> before(n * c);
    for (double& v : before) v = u(gen);
    array_ptr x = mexhost::make_matrix(n, c, before);
    array_ptr aligned = mexhost::make_matrix(4, 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    for (double method : {1.0, 2.0}) {
        const result r = tarvik(x.get(), method);
        const std::vector<double> y = r.rotated();
        // On x87 the running sum of n*c terms is rounded at other points than in this loop.
        EXPECT_TRUE(same_bits_or_x87_near({r.quality()}, {quality_of(y, n, c)}, 64));
        EXPECT_GT(r.quality(), quality_of(before, n, c));
        EXPECT_TRUE(same_bits(mexhost::real_values(x.get()), before));
        // The rotation is orthogonal: every row keeps its length.
        for (std::size_t row = 0; row < n; ++row) {
            double in = 0.0, out = 0.0;
            for (std::size_t j = 0; j < c; ++j) {
                in += before[row + j * n] * before[row + j * n];
                out += y[row + j * n] * y[row + j * n];
            }
            EXPECT_NEAR(out, in, 1e-12);
        }
        // More sweeps than the three of an aligned matrix, yet no more arrays alive at once.
        const result three = tarvik(aligned.get(), method);
        EXPECT_GT(r.products(), three.products());
        EXPECT_EQ(r.stats.peak_live_arrays, three.stats.peak_live_arrays);
    }
}
