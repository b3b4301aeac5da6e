// olvane through the host: the arithmetic-mean scale and squared affinity on dense input, and
// exactly brenmoss on sparse input.
#include "local_scale_reference.h"

#include <cmath>
#include <limits>

using namespace toolbox_test;

namespace {

std::vector<array_ptr> olvane(int nlhs, const mxArray* d, double k) { return local_scaling_call("olvane", nlhs, d, k); }

const double qnan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(olvane, dense_example_scales_by_mean_of_local_scales) {
    array_ptr d = mexhost::make_matrix(3, 3, {0, 1, 4, 1, 0, 2, 4, 2, 0});
    auto out = olvane(3, d.get(), 1.0);
    // sigma = (1, 1, 2): pairwise scales 1, 1.5 and 2.
    const double q02 = 4 / 1.5, q12 = 2 / 1.5;
    expect_outputs(out, {{0, 1, q02, 1, 0, q12, q02, q12, 0},
                         {1, std::exp(-1.0), std::exp(-(q02 * q02)), std::exp(-1.0), 1, std::exp(-(q12 * q12)),
                          std::exp(-(q02 * q02)), std::exp(-(q12 * q12)), 1},
                         {1, 1, 1.5, 1, 1, 1.5, 1.5, 1.5, 2}});
}

TEST(olvane, zero_neighbours_on_dense_input_divide_by_a_zero_scale) {
    array_ptr d = mexhost::make_matrix(2, 2, {0, 3, 0.5, 0});
    auto out = olvane(3, d.get(), 0.0);
    const std::vector<double> scaled = mexhost::real_values(out[0].get());
    const std::vector<double> affinities = mexhost::real_values(out[1].get());
    EXPECT_TRUE(std::isnan(scaled[0]) && std::isnan(scaled[3]));
    EXPECT_EQ(scaled[1], inf);
    EXPECT_EQ(scaled[2], inf);
    EXPECT_TRUE(std::isnan(affinities[0]) && std::isnan(affinities[3]));
    EXPECT_TRUE(same_bits({affinities[1], affinities[2]}, {0.0, 0.0}));
    EXPECT_TRUE(same_bits(mexhost::real_values(out[2].get()), {0, 0, 0, 0}));
}

TEST(olvane, sparse_input_gives_exactly_what_brenmoss_gives) {
    array_ptr d = mexhost::make_sparse(3, 3, {0, 2, 4, 6}, {1, 2, 0, 2, 0, 1}, {1, 4, 1, 2, 4, 2});
    auto out = olvane(3, d.get(), 1.0);
    auto reference = local_scaling_call("brenmoss", 3, d.get(), 1.0);
    for (int o = 0; o < 3; ++o) EXPECT_TRUE(mexhost::identical(out[o].get(), reference[o].get()));
    // At (2, 0): scale sqrt(2) and scaled distance 4 / sqrt(2), where the dense form gives 1.5.
    EXPECT_TRUE(same_bits({mexhost::real_values(out[2].get())[1]}, {std::sqrt(2.0)}));
}

TEST(olvane, matches_full_sort_of_every_column_on_random_input) {
    expect_reference_on_random_dense("olvane", mean_of_scales, exp_of_minus_square);
}

// Checks, outputs and the empty input are brenmoss's gateway; a few samples show it is shared.
TEST(olvane, shares_the_gateway_of_brenmoss) {
    array_ptr d = mexhost::make_matrix(2, 2, {0, 1, 2, 0});
    auto three = olvane(3, d.get(), 1.0);
    auto one = olvane(1, d.get(), 1.0);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(mexhost::identical(one[0].get(), three[0].get()));
    array_ptr empty = mexhost::make_matrix(0, 0);
    EXPECT_TRUE(mexhost::identical(olvane(1, empty.get(), qnan)[0].get(), empty.get()));

    array_ptr k = mexhost::make_scalar(2.0);
    EXPECT_EQ(error_of("olvane", 4, {}), "Too many output arguments.");
    EXPECT_EQ(error_of("olvane", 3, {d.get(), k.get()}), "Neighbour count must be from 0 to N-1 for a dense distance matrix");
    EXPECT_TRUE(plugin("olvane").last_stats().left_nothing());
}

TEST(olvane, square_array_without_pages_gives_empty_copies) {
    // 3-by-3-by-0 passes the square test but holds no value to sort, read or write.
    array_ptr none = mexhost::make_array({3, 3, 0});
    for (double k : {1.0, 5.0, qnan}) {
        auto out = olvane(3, none.get(), k);
        ASSERT_EQ(out.size(), 3u);
        for (const array_ptr& o : out) EXPECT_TRUE(mexhost::identical(o.get(), none.get()));
    }
}
