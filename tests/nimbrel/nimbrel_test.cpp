// nimbrel through the host: a copy with a +0.0 diagonal, storage and pattern kept.
#include "plugins.h"

#include <cmath>
#include <limits>

using namespace toolbox_test;

namespace {

array_ptr nimbrel(const mxArray* m) {
    auto out = plugin("nimbrel").call(1, {m});
    EXPECT_TRUE(plugin("nimbrel").last_stats().left_nothing());
    return std::move(out.at(0));
}

const double inf = std::numeric_limits<double>::infinity();
const double not_a_number = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(nimbrel, dense_diagonal_becomes_positive_zero_and_the_rest_is_copied) {
    // Diagonal -0.0, NaN, -Inf; NaN and Inf off the diagonal stay.
    array_ptr m = mexhost::make_matrix(3, 3, {-0.0, 2.0, not_a_number, 4.0, not_a_number, 6.0, inf, -8.0, -inf});
    array_ptr z = nimbrel(m.get());
    EXPECT_TRUE(same_bits(mexhost::real_values(z.get()), {0.0, 2.0, not_a_number, 4.0, 0.0, 6.0, inf, -8.0, 0.0}));
}

TEST(nimbrel, sparse_pattern_is_kept_with_explicit_zeros_on_the_diagonal) {
    // Stored diagonal at (0,0) and (2,2); column 1 is empty; (1,2) is off the diagonal.
    array_ptr m = mexhost::make_sparse(3, 3, {0, 2, 2, 4}, {0, 2, 1, 2}, {-0.0, 5.0, 7.0, not_a_number});
    array_ptr z = nimbrel(m.get());
    EXPECT_EQ(mexhost::jc_of(z.get()), mexhost::jc_of(m.get()));
    EXPECT_EQ(mexhost::ir_of(z.get()), mexhost::ir_of(m.get()));
    EXPECT_TRUE(same_bits(mexhost::real_values(z.get()), {0.0, 5.0, 7.0, 0.0}));

    array_ptr off = mexhost::make_sparse(2, 2, {0, 1, 2}, {1, 0}, {3.0, 4.0});
    EXPECT_TRUE(mexhost::identical(nimbrel(off.get()).get(), off.get()));
}

TEST(nimbrel, complex_and_paged_input_keep_what_is_not_cleared) {
    array_ptr c = mexhost::make_complex_matrix(2, 2, {1, 2, 3, 4}, {5, 6, 7, 8});
    array_ptr z = nimbrel(c.get());
    EXPECT_TRUE(same_bits(mexhost::real_values(z.get()), {0, 2, 3, 0}));
    EXPECT_EQ(mexhost::imag_values(z.get()), (std::vector<double>{5, 6, 7, 8}));

    array_ptr paged = mexhost::make_array({2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_TRUE(same_bits(mexhost::real_values(nimbrel(paged.get()).get()), {0, 2, 3, 0, 5, 6, 7, 8}));
}

TEST(nimbrel, empty_and_single_entry_matrices) {
    array_ptr empty = mexhost::make_matrix(0, 0);
    EXPECT_TRUE(mexhost::identical(nimbrel(empty.get()).get(), empty.get()));
    array_ptr one = mexhost::make_matrix(1, 1, {-3.0});
    EXPECT_TRUE(same_bits(mexhost::real_values(nimbrel(one.get()).get()), {0.0}));
}

TEST(nimbrel, square_array_without_pages_gives_its_empty_copy) {
    // 3-by-3-by-0 passes the square test but holds no value to read or write.
    array_ptr none = mexhost::make_array({3, 3, 0});
    EXPECT_TRUE(mexhost::identical(nimbrel(none.get()).get(), none.get()));
}

TEST(nimbrel, messages_come_in_their_order) {
    array_ptr m = mexhost::make_matrix(2, 2);
    EXPECT_EQ(error_of("nimbrel", 0, {m.get()}), "Too few output arguments.");
    EXPECT_EQ(error_of("nimbrel", 2, {}), "Too many output arguments.");
    EXPECT_EQ(error_of("nimbrel", 1, {}), "Too few input arguments.");
    EXPECT_EQ(error_of("nimbrel", 1, {m.get(), m.get()}), "Too many input arguments.");
    array_ptr tall = mexhost::make_matrix(3, 2);
    EXPECT_EQ(error_of("nimbrel", 1, {tall.get()}), "Input matrix must be square");
    array_ptr ints = mexhost::make_numeric(mxINT32_CLASS, {2, 2});
    EXPECT_EQ(error_of("nimbrel", 1, {ints.get()}), "Input matrix must be of class double");
    EXPECT_TRUE(plugin("nimbrel").last_stats().left_nothing());
}
