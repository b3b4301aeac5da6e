// exponential() against the C library's exp of this build, bit for bit: the cut below which it
// answers +0 itself must be one where the library gives +0 too, on every platform.
#include "exponential.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

std::uint64_t bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// The library's exp, stored to a double so that no x87 register carries excess precision.
double library_exp(double x) {
    volatile double y = std::exp(x);
    return y;
}

double helper_exp(double x) {
    volatile double y = exponential(x);
    return y;
}

// The n doubles on each side of x, x included.
std::vector<double> around(double x, int n) {
    std::vector<double> out{x};
    double up = x, down = x;
    for (int i = 0; i < n; ++i) {
        up = std::nextafter(up, std::numeric_limits<double>::infinity());
        down = std::nextafter(down, -std::numeric_limits<double>::infinity());
        out.push_back(up);
        out.push_back(down);
    }
    return out;
}

void expect_same_bits(const std::vector<double>& arguments) {
    for (double x : arguments)
        ASSERT_EQ(bits(helper_exp(x)), bits(library_exp(x))) << std::hexfloat << "x = " << x;
}

}  // namespace

TEST(exponential, the_library_gives_positive_zero_at_and_below_the_cut) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> below = around(exponential_zero_below, 2000);
    for (double x : {-746.5, -800.0, -1023.9999999999999, -1024.0, -1024.0000000000002, -1074.0, -1075.0,
                     -1100.0, -5000.0, -1e5, -1e10, -1e300, -std::numeric_limits<double>::max(), -inf})
        below.push_back(x);
    for (double x : below) {
        if (x > exponential_zero_below) continue;
        ASSERT_EQ(bits(library_exp(x)), bits(0.0)) << std::hexfloat << "x = " << x;
        ASSERT_EQ(bits(helper_exp(x)), bits(0.0)) << std::hexfloat << "x = " << x;
    }
}

TEST(exponential, matches_the_library_across_the_underflow_range) {
    // Where exp rounds to 2^-1074 or to +0 (x = -1075 ln 2 = -745.1332...), where results turn
    // subnormal (-708.3964...), and every 1/1024 from -1100 to -700.
    expect_same_bits(around(-745.1332191019411, 2000));
    expect_same_bits(around(-708.3964185322641, 200));
    std::vector<double> sweep;
    for (int k = -1100 * 1024; k <= -700 * 1024; ++k) sweep.push_back(k / 1024.0);
    expect_same_bits(sweep);
}

TEST(exponential, matches_the_library_on_ordinary_and_special_arguments) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    expect_same_bits({0.0, -0.0, 1.0, -1.0, 0.5, -0.5, -30.25, -700.0, 709.0, 709.8, 710.0, inf,
                      std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min()});
    EXPECT_EQ(bits(helper_exp(-inf)), bits(0.0));
    EXPECT_TRUE(std::isnan(helper_exp(nan)));
    EXPECT_TRUE(std::isnan(helper_exp(-nan)));
}
