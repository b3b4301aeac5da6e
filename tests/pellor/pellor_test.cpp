// pellor through the host: A = exp(-D / sigma^2) on dense and sparse storage.
#include "plugins.h"

#include <cmath>
#include <limits>

using namespace toolbox_test;

namespace {

std::vector<array_ptr> pellor(const mxArray* d, double sigma) {
    array_ptr s = mexhost::make_scalar(sigma);
    auto out = plugin("pellor").call(1, {d, s.get()});
    EXPECT_TRUE(plugin("pellor").last_stats().left_nothing());
    return out;
}

const double inf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(pellor, dense_values_follow_the_kernel_column_by_column) {
    // Non-square data would be rejected; distinct, asymmetric entries expose a transposition.
    const std::vector<double> d = {0.0, 1.0, 4.0, 2.5, 0.0, -1.0, 9.0, 0.25, 0.0};
    array_ptr input = mexhost::make_matrix(3, 3, d);
    auto out = pellor(input.get(), 2.0);
    std::vector<double> expected;
    for (double v : d) expected.push_back(std::exp(-v / 4.0));
    EXPECT_TRUE(same_bits(mexhost::real_values(out[0].get()), expected));
    // sigma and -sigma square to the same scale.
    EXPECT_TRUE(same_bits(mexhost::real_values(pellor(input.get(), -2.0)[0].get()), expected));
}

TEST(pellor, zero_scale_follows_ieee_rules) {
    array_ptr input = mexhost::make_matrix(2, 2, {0.0, 3.0, -3.0, 0.0});
    auto out = pellor(input.get(), 0.0);
    const std::vector<double> v = mexhost::real_values(out[0].get());
    EXPECT_TRUE(std::isnan(v[0]));
    EXPECT_EQ(v[1], 0.0);
    EXPECT_EQ(v[2], inf);
    EXPECT_TRUE(std::isnan(v[3]));
}

TEST(pellor, sparse_output_keeps_pattern_and_transforms_stored_zeros) {
    // 3-by-3 with an empty middle column and an explicitly stored zero at (2, 2).
    array_ptr input = mexhost::make_sparse(3, 3, {0, 2, 2, 4}, {1, 2, 0, 2}, {2.0, 0.5, 8.0, 0.0});
    auto out = pellor(input.get(), 1.0);
    EXPECT_EQ(mexhost::jc_of(out[0].get()), mexhost::jc_of(input.get()));
    EXPECT_EQ(mexhost::ir_of(out[0].get()), mexhost::ir_of(input.get()));
    EXPECT_TRUE(mxIsSparse(out[0].get()));
    EXPECT_TRUE(same_bits(mexhost::real_values(out[0].get()),
                          {std::exp(-2.0), std::exp(-0.5), std::exp(-8.0), 1.0}));
}

TEST(pellor, complex_and_paged_input_keep_what_is_not_transformed) {
    array_ptr c = mexhost::make_complex_matrix(2, 2, {0.0, 1.0, 2.0, 3.0}, {5.0, -6.0, 7.0, -8.0});
    auto out = pellor(c.get(), 1.0);
    EXPECT_EQ(mexhost::imag_values(out[0].get()), (std::vector<double>{5.0, -6.0, 7.0, -8.0}));
    EXPECT_TRUE(same_bits(mexhost::real_values(out[0].get()), {1.0, std::exp(-1.0), std::exp(-2.0), std::exp(-3.0)}));

    array_ptr sparse_c = mexhost::make_sparse(3, 3, {0, 1, 1, 1}, {2}, {4.0}, {-1.5});
    auto sparse_out = pellor(sparse_c.get(), 1.0);
    EXPECT_EQ(mexhost::imag_values(sparse_out[0].get()), (std::vector<double>{-1.5}));

    array_ptr paged = mexhost::make_array({2, 2, 2}, {0, 1, 2, 3, 4, 5, 6, 7});
    auto paged_out = pellor(paged.get(), 1.0);
    EXPECT_EQ(mexhost::dims_of(paged_out[0].get()), (std::vector<mwSize>{2, 2, 2}));
    EXPECT_TRUE(same_bits(mexhost::real_values(paged_out[0].get()),
                          {1.0, std::exp(-1.0), std::exp(-2.0), std::exp(-3.0), 4, 5, 6, 7}));
}

TEST(pellor, empty_and_single_entry_matrices) {
    array_ptr empty = mexhost::make_matrix(0, 0);
    EXPECT_TRUE(mexhost::identical(pellor(empty.get(), 1.0)[0].get(), empty.get()));
    array_ptr one = mexhost::make_matrix(1, 1, {3.0});
    EXPECT_TRUE(same_bits(mexhost::real_values(pellor(one.get(), 3.0)[0].get()), {std::exp(-3.0 / 9.0)}));
}

TEST(pellor, square_array_without_pages_gives_its_empty_copy) {
    // 3-by-3-by-0 passes the square test but holds no value to read or write.
    array_ptr none = mexhost::make_array({3, 3, 0});
    EXPECT_TRUE(mexhost::identical(pellor(none.get(), 1.0)[0].get(), none.get()));
}

TEST(pellor, messages_come_in_their_order) {
    array_ptr d = mexhost::make_matrix(2, 2);
    array_ptr s = mexhost::make_scalar(1.0);
    EXPECT_EQ(error_of("pellor", 0, {d.get(), s.get()}), "Too few output arguments.");
    EXPECT_EQ(error_of("pellor", 2, {}), "Too many output arguments.");
    EXPECT_EQ(error_of("pellor", 1, {d.get()}), "Too few input arguments.");
    EXPECT_EQ(error_of("pellor", 1, {d.get(), s.get(), s.get()}), "Too many input arguments.");
    array_ptr wide = mexhost::make_matrix(2, 3);
    EXPECT_EQ(error_of("pellor", 1, {wide.get(), s.get()}), "Distance matrix must be square");
    array_ptr single = mexhost::make_numeric(mxSINGLE_CLASS, {2, 2});
    EXPECT_EQ(error_of("pellor", 1, {single.get(), s.get()}), "Distance matrix must be of class double");
    array_ptr no_scale = mexhost::make_matrix(0, 0);
    EXPECT_EQ(error_of("pellor", 1, {d.get(), no_scale.get()}), "mxGetScalar: the argument is empty");
    EXPECT_TRUE(plugin("pellor").last_stats().left_nothing());
}
