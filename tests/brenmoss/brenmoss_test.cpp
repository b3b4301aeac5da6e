// brenmoss through the host: local scales from sorted columns, geometric pairwise scales.
#include "local_scale_reference.h"

#include <cmath>
#include <limits>

using namespace toolbox_test;

namespace {

std::vector<array_ptr> brenmoss(int nlhs, const mxArray* d, double k) { return local_scaling_call("brenmoss", nlhs, d, k); }

std::string brenmoss_error(const mxArray* d, double k) {
    array_ptr count = mexhost::make_scalar(k);
    const std::string message = error_of("brenmoss", 3, {d, count.get()});
    EXPECT_TRUE(plugin("brenmoss").last_stats().left_nothing());
    return message;
}

const double qnan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();
const double r2 = std::sqrt(2.0);

// Distances between three points; sigma = (1, 1, 2) for K = 1.
const std::vector<double> three_points = {0, 1, 4, 1, 0, 2, 4, 2, 0};

}  // namespace

TEST(brenmoss, dense_example_scales_by_geometric_mean_of_local_scales) {
    array_ptr d = mexhost::make_matrix(3, 3, three_points);
    auto out = brenmoss(3, d.get(), 1.0);
    // Pairwise scales 1, sqrt(2) and 2; column by column.
    expect_outputs(out, {{0, 1, 4 / r2, 1, 0, 2 / r2, 4 / r2, 2 / r2, 0},
                         {1, std::exp(-1.0), std::exp(-(4 / r2)), std::exp(-1.0), 1, std::exp(-(2 / r2)),
                          std::exp(-(4 / r2)), std::exp(-(2 / r2)), 1},
                         {1, 1, r2, 1, 1, r2, r2, r2, 2}});
}

TEST(brenmoss, sparse_example_reads_index_k_minus_1_and_keeps_the_diagonal_unstored) {
    // The three-point distances without the diagonal.
    array_ptr d = mexhost::make_sparse(3, 3, {0, 2, 4, 6}, {1, 2, 0, 2, 0, 1}, {1, 4, 1, 2, 4, 2});
    auto out = brenmoss(3, d.get(), 1.0);
    expect_outputs(out, {{1, 4 / r2, 1, 2 / r2, 4 / r2, 2 / r2},
                         {std::exp(-1.0), std::exp(-(4 / r2)), std::exp(-1.0), std::exp(-(2 / r2)),
                          std::exp(-(4 / r2)), std::exp(-(2 / r2))},
                         {1, r2, 1, r2, r2, r2}});
    for (const array_ptr& o : out) {
        EXPECT_TRUE(mxIsSparse(o.get()));
        EXPECT_EQ(mexhost::jc_of(o.get()), mexhost::jc_of(d.get()));
        EXPECT_EQ(mexhost::ir_of(o.get()), mexhost::ir_of(d.get()));
    }
    // K = 3 exceeds every column's two stored values: sigma is each column's largest, (4, 2, 4).
    auto wide = brenmoss(3, d.get(), 3.0);
    EXPECT_TRUE(same_bits(mexhost::real_values(wide[2].get()),
                          {std::sqrt(8.0), 4, std::sqrt(8.0), std::sqrt(8.0), 4, std::sqrt(8.0)}));
}

TEST(brenmoss, zero_neighbours_on_dense_input_give_the_lower_bound_everywhere) {
    array_ptr d = mexhost::make_matrix(2, 2, {0, 3, 0.5, 0});
    auto out = brenmoss(3, d.get(), 0.0);
    expect_outputs(out, {{0, 3 / 0.004, 0.5 / 0.004, 0},
                         {1, std::exp(-(3 / 0.004)), std::exp(-(0.5 / 0.004)), 1},
                         {0.004, 0.004, 0.004, 0.004}});
}

TEST(brenmoss, empty_sparse_column_has_zero_scale_and_stored_zero_has_affinity_one) {
    // Column 1 stores nothing; (0, 2) stores an explicit zero and (1, 2) an infinite distance.
    array_ptr d = mexhost::make_sparse(3, 3, {0, 1, 1, 3}, {1, 0, 1}, {2.0, 0.0, inf});
    auto out = brenmoss(3, d.get(), 1.0);
    // sigma = (2, 0, 0): column 2's sorted stored values are (0, inf).
    EXPECT_TRUE(same_bits(mexhost::real_values(out[2].get()), {0.004, 0.004, 0.004}));
    EXPECT_TRUE(same_bits(mexhost::real_values(out[1].get()), {std::exp(-(2.0 / 0.004)), 1.0, 0.0}));
    // With an infinite scale in column 2, the product 0 * inf is NaN and so is the whole entry.
    array_ptr e = mexhost::make_sparse(2, 2, {0, 0, 2}, {0, 1}, {inf, 5.0});
    auto nan_out = brenmoss(3, e.get(), 2.0);
    EXPECT_TRUE(std::isnan(mexhost::real_values(nan_out[2].get())[0]));
    EXPECT_EQ(mexhost::real_values(nan_out[2].get())[1], inf);
}

TEST(brenmoss, matches_full_sort_of_every_column_on_random_input) {
    expect_reference_on_random_dense("brenmoss", bounded_geometric_scale, exp_of_minus);
    std::mt19937_64 rng(4);
    for (int run = 0; run < 40; ++run) {
        const std::size_t n = 1 + rng() % 12;
        const random_sparse s = make_random_sparse(rng, n);
        array_ptr d = mexhost::make_sparse(static_cast<mwSize>(n), static_cast<mwSize>(n), s.jc, s.ir, s.values);
        const std::size_t k = 1 + rng() % (n + 2);
        expect_outputs(brenmoss(3, d.get(), static_cast<double>(k)), sparse_reference(s.jc, s.ir, s.values, k));
    }
}

TEST(brenmoss, creates_only_the_requested_outputs_with_the_same_values) {
    array_ptr d = mexhost::make_matrix(3, 3, {0, 2, 7, 1, 0, 3, 5, 4, 0});
    auto three = brenmoss(3, d.get(), 2.0);
    for (int nlhs = 1; nlhs <= 2; ++nlhs) {
        auto out = brenmoss(nlhs, d.get(), 2.0);
        ASSERT_EQ(out.size(), static_cast<std::size_t>(nlhs));
        for (int o = 0; o < nlhs; ++o) EXPECT_TRUE(mexhost::identical(out[o].get(), three[o].get()));
    }
    // K is truncated toward zero: 2.9 reads as 2, -0.5 as 0.
    EXPECT_TRUE(mexhost::identical(brenmoss(1, d.get(), 2.9)[0].get(), three[0].get()));
    EXPECT_TRUE(mexhost::identical(brenmoss(1, d.get(), -0.5)[0].get(), brenmoss(1, d.get(), 0.0)[0].get()));
}

TEST(brenmoss, paged_and_complex_input_keep_what_is_not_transformed) {
    const std::vector<double> page = {0, 1, 2, 0};
    std::vector<double> paged_values = page;
    paged_values.insert(paged_values.end(), {-7, 8, 9, 10});
    array_ptr paged = mexhost::make_array({2, 2, 2}, paged_values);
    auto out = brenmoss(3, paged.get(), 1.0);
    for (const array_ptr& o : out) EXPECT_EQ(mexhost::dims_of(o.get()), (std::vector<mwSize>{2, 2, 2}));
    local_scaling_result expected = dense_reference(paged_values, 2, 1, bounded_geometric_scale, exp_of_minus);
    expect_outputs(out, expected);
    EXPECT_EQ(mexhost::real_values(out[1].get())[4], -7.0);

    array_ptr c = mexhost::make_complex_matrix(2, 2, page, {5, -6, 7, -8});
    auto complex_out = brenmoss(3, c.get(), 1.0);
    for (const array_ptr& o : complex_out)
        EXPECT_EQ(mexhost::imag_values(o.get()), (std::vector<double>{5, -6, 7, -8}));
    expect_outputs(complex_out, dense_reference(page, 2, 1, bounded_geometric_scale, exp_of_minus));

    array_ptr sc = mexhost::make_sparse(2, 2, {0, 1, 2}, {1, 0}, {3, 4}, {-1, -2});
    for (const array_ptr& o : brenmoss(3, sc.get(), 1.0))
        EXPECT_EQ(mexhost::imag_values(o.get()), (std::vector<double>{-1, -2}));
}

TEST(brenmoss, empty_input_gives_empty_copies_whatever_the_count) {
    array_ptr dense = mexhost::make_matrix(0, 0);
    array_ptr sparse = mexhost::make_sparse(0, 0, {0}, {}, {});
    for (const mxArray* d : {dense.get(), sparse.get()})
        for (double k : {qnan, -5.0, 0.0, 1e12}) {
            auto out = brenmoss(3, d, k);
            ASSERT_EQ(out.size(), 3u);
            for (const array_ptr& o : out) EXPECT_TRUE(mexhost::identical(o.get(), d));
        }
}

TEST(brenmoss, square_array_without_pages_gives_empty_copies) {
    // 3-by-3-by-0 passes the square test but holds no value to sort, read or write.
    array_ptr none = mexhost::make_array({3, 3, 0});
    for (double k : {1.0, 5.0, qnan}) {
        auto out = brenmoss(3, none.get(), k);
        ASSERT_EQ(out.size(), 3u);
        for (const array_ptr& o : out) EXPECT_TRUE(mexhost::identical(o.get(), none.get()));
    }
}

TEST(brenmoss, messages_come_in_their_order) {
    array_ptr d = mexhost::make_matrix(2, 2, {0, 1, 1, 0});
    array_ptr k = mexhost::make_scalar(1.0);
    EXPECT_EQ(error_of("brenmoss", 0, {d.get(), k.get()}), "Too few output arguments.");
    EXPECT_EQ(error_of("brenmoss", 4, {}), "Too many output arguments.");
    EXPECT_EQ(error_of("brenmoss", 1, {d.get()}), "Too few input arguments.");
    EXPECT_EQ(error_of("brenmoss", 1, {d.get(), k.get(), k.get()}), "Too many input arguments.");
    array_ptr wide = mexhost::make_matrix(3, 4);
    EXPECT_EQ(brenmoss_error(wide.get(), 1.0), "Distance matrix must be square");
    // The square test comes before the class test, and both before the count is judged.
    array_ptr wide_single = mexhost::make_numeric(mxSINGLE_CLASS, {3, 4});
    EXPECT_EQ(brenmoss_error(wide_single.get(), qnan), "Distance matrix must be square");
    array_ptr single = mexhost::make_numeric(mxSINGLE_CLASS, {2, 2});
    EXPECT_EQ(brenmoss_error(single.get(), qnan), "Distance matrix must be of class double");
}

TEST(brenmoss, rejects_counts_outside_the_range_of_each_path) {
    array_ptr dense = mexhost::make_matrix(3, 3, three_points);
    for (double k : {-1.0, 3.0, 3.5, qnan, inf, -inf, 2147483648.0, -2147483649.0})
        EXPECT_EQ(brenmoss_error(dense.get(), k), "Neighbour count must be from 0 to N-1 for a dense distance matrix")
            << k;
    array_ptr sparse = mexhost::make_sparse(3, 3, {0, 2, 4, 6}, {1, 2, 0, 2, 0, 1}, {1, 4, 1, 2, 4, 2});
    for (double k : {0.0, 0.9, -1.0, qnan, inf, -inf, 2147483648.0})
        EXPECT_EQ(brenmoss_error(sparse.get(), k), "Neighbour count must be at least 1 for a sparse distance matrix")
            << k;
    // Beyond every column's stored count is fine on the sparse path, up to the 32-bit limit.
    EXPECT_EQ(brenmoss(1, sparse.get(), 2147483647.0).size(), 1u);
}
